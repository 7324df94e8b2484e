// The two plots of a run (concentration; temperature, pressure and humidity) as
// the sensor page draws them, and their pictures beside a saved run. The page
// sets its own plots up with these functions; RunPlots rebuilds the same plots
// from samples without a page, for programs that record without one. Needs a
// QApplication; the offscreen platform serves.
#pragma once

#include <QString>

#include <memory>

class QColor;
class QCPAxis;
class QCustomPlot;
class QPen;
class LumoCustomPlot;

namespace runplots {

// Curves of the environment plot, in graph order: temperature, pressure,
// relative humidity. Pressure has the right axis to itself.
struct EnviroCurve {
    bool rightAxis;
    const char* colour;
    const char* name;  // in legends: quantity, unit and axis
};
extern const EnviroCurve kEnviroCurves[3];
extern const char* const kConcColour;
// Upper bound of the concentration axis before any value exceeds it.
constexpr double kConcAxisStart = 120;

// The concentration axis after a value: raised to 20 above a value that
// exceeds it, never lowered.
inline double raisedConcAxis(double axisMax, double concentration) {
    return concentration > axisMax ? concentration + 20 : axisMax;
}

// Graphs, pens, axis titles and the page's light look over the widget's dark
// defaults. The titles name each axis's quantities with their units as the
// customer table's header does: "Time [s]"; "Conc" until the unit is known;
// "T [C], RH [%]" on the left and "P [kPa]" on the right of the environment.
void setUpConcPlot(QCustomPlot* plot);
void setUpEnviroPlot(QCustomPlot* plot);
// The concentration axis's title for a unit ("PPM", "%LEL(ISO)", ...): "Conc [PPM]".
void setConcUnit(QCustomPlot* plot, const QString& unit);

// The axes as the page's automatic ranges leave them after a last point at
// `lastSeconds`: time from 0, concentration -10 .. axisMax, the environment
// axes fitted to their curves and widened as the page widens them.
void followRun(QCustomPlot* conc, QCustomPlot* enviro, double lastSeconds, double concAxisMax);
// Curves made by setUpConcPlot / setUpEnviroPlot keep every point in a store
// and show what the plot can (StoredGraph): points go in through addPoint and
// go out through clearCurves.
void addPoint(QCustomPlot* plot, int graph, double key, double value);
void clearCurves(QCustomPlot* plot);

// The page's light look alone, for other plots; the second form styles a value
// axis added to such a plot like its left and right axes.
void applyLightLook(QCustomPlot* plot);
void applyLightLook(QCPAxis* valueAxis);
// A curve's pen: 1 pixel, solid, round caps and joins.
QPen curvePen(const QColor& colour);

// A vertical dashed line at `seconds` on the time axis with a short label at
// its top, as a note on the data (never selectable). Open Run marks the time
// log's events with it and the page its gas marks as they are made; the items
// carry kEventLine and kEventLabel as object names, so ranges can be fitted to them.
extern const char* const kEventLine;
extern const char* const kEventLabel;
void addEventMark(QCustomPlot* plot, double seconds, const QString& label, const QColor& colour);

// The legend as a row under the axis rectangle, where it covers no curve or
// event label (`below`), or back inside it and hidden.
void setLegendBelow(QCustomPlot* plot, bool below);

// Writes vqsConc.png, vqsConc.pdf, vqsEnviro.png and vqsEnviro.pdf into the
// directory, each plot as it stands; the environment pictures with a legend
// under the plot, which the page gives with labels of its own. False when
// any file could not be written.
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

    // The run's concentration unit, for the axis title ("PPM", "%LEL").
    void setConcUnit(const QString& unit);
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
    bool hasSamples = false;
};
