// The two plots of a run (concentration; temperature, pressure and humidity) as
// the sensor page draws them, and their pictures beside a saved run. The page
// sets its own plots up with these functions; RunPlots rebuilds the same plots
// from samples without a page, for programs that record without one. Needs a
// QApplication; the offscreen platform serves.
#pragma once

#include <QString>

#include <memory>

class QCustomPlot;
class LumoCustomPlot;

namespace runplots {

// Curves of the environment plot, in graph order: temperature, pressure,
// relative humidity. Pressure has the right axis to itself.
struct EnviroCurve {
    bool rightAxis;
    const char* colour;
};
extern const EnviroCurve kEnviroCurves[3];
extern const char* const kConcColour;
// Upper bound of the concentration axis before any value exceeds it.
constexpr double kConcAxisStart = 120;

// Graphs, pens and the page's light look over the widget's dark defaults.
void setUpConcPlot(QCustomPlot* plot);
void setUpEnviroPlot(QCustomPlot* plot);

// Writes vqsConc.png, vqsConc.pdf, vqsEnviro.png and vqsEnviro.pdf into the
// directory, each plot as it stands; false when any file could not be written.
bool writePictures(QCustomPlot* conc, QCustomPlot* enviro, const QString& directory);

}  // namespace runplots

class RunPlots {
public:
    struct Sample {
        double seconds;  // since the start of the run
        double concentration;
        double temperature;
        double pressure;
        double humidity;
    };

    RunPlots();
    ~RunPlots();
    RunPlots(const RunPlots&) = delete;
    RunPlots& operator=(const RunPlots&) = delete;

    void addSample(const Sample& sample);
    // Axes as the page's automatic ranges leave them after the last sample.
    void finish();
    // finish(), then the four pictures (runplots::writePictures).
    bool writePictures(const QString& directory);

    LumoCustomPlot* concPlot() const { return conc.get(); }
    LumoCustomPlot* enviroPlot() const { return enviro.get(); }

private:
    std::unique_ptr<LumoCustomPlot> conc;
    std::unique_ptr<LumoCustomPlot> enviro;
    double concAxisMax = runplots::kConcAxisStart;
    double lastSeconds = 0;
};
