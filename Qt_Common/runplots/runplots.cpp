#include "runplots.h"

#include <QDir>

#include "lumocustomplot.h"

namespace runplots {

const char* const kConcColour = "#CC483D";
const EnviroCurve kEnviroCurves[3] = {
    {false, "#CC483D"},  // temperature
    {true, "#FFAD2B"},   // pressure
    {false, "#1FB8A1"},  // relative humidity
};

namespace {

// Large enough to read the tick labels of a long run; the page's plots are
// wide and low, and so are the pictures.
constexpr int kPictureWidth = 1200;
constexpr int kPictureHeight = 480;

QPen curvePen(const char* colour) {
    return QPen(QBrush(QColor(colour)), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPen linePen(const char* colour) {
    return QPen(QBrush(QColor(colour)), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

// The page's light look over the widget's dark defaults.
void styleLight(QCustomPlot* plot) {
    const QPen axisPen = linePen("#000000");
    const QPen gridPen = linePen("#e6e6e7");
    const QColor black("#000000");
    plot->setBackground(QBrush(QColor("#FFFFFF")));
    plot->xAxis->setBasePen(axisPen);
    plot->xAxis->setTickPen(axisPen);
    plot->xAxis->setTickLabelColor(black);
    plot->xAxis->setLabelColor(black);
    for (QCPAxis* axis : {plot->yAxis, plot->yAxis2}) {
        axis->setBasePen(linePen("#FFFFFF"));
        axis->setTickPen(gridPen);
        axis->setTickLabelColor(black);
        axis->setLabelColor(black);
        axis->grid()->setPen(gridPen);
    }
}

}  // namespace

void setUpConcPlot(QCustomPlot* plot) {
    plot->addGraph();
    plot->graph(0)->setPen(curvePen(kConcColour));
    plot->yAxis->setRange(-10, kConcAxisStart);
    styleLight(plot);
}

void setUpEnviroPlot(QCustomPlot* plot) {
    for (int i = 0; i < 3; ++i) {
        const EnviroCurve& curve = kEnviroCurves[i];
        if (curve.rightAxis)
            plot->yAxis2->setVisible(true);
        plot->addGraph(plot->xAxis, curve.rightAxis ? plot->yAxis2 : plot->yAxis);
        plot->graph(i)->setPen(curvePen(curve.colour));
    }
    styleLight(plot);
}

bool writePictures(QCustomPlot* conc, QCustomPlot* enviro, const QString& directory) {
    const struct {
        QCustomPlot* plot;
        const char* name;
    } pictures[] = {{conc, "vqsConc"}, {enviro, "vqsEnviro"}};
    bool written = true;
    for (const auto& picture : pictures) {
        const QString base = QDir(directory).filePath(QLatin1String(picture.name));
        written = picture.plot->savePng(base + QLatin1String(".png"), kPictureWidth, kPictureHeight) && written;
        written = picture.plot->savePdf(base + QLatin1String(".pdf"), kPictureWidth, kPictureHeight) && written;
        // The export laid the plot out at the picture's size; lay it out for its own again.
        picture.plot->replot(QCustomPlot::rpQueuedReplot);
    }
    return written;
}

}  // namespace runplots

RunPlots::RunPlots() : conc(std::make_unique<LumoCustomPlot>()), enviro(std::make_unique<LumoCustomPlot>()) {
    runplots::setUpConcPlot(conc.get());
    runplots::setUpEnviroPlot(enviro.get());
    // The page's ranges when a run starts.
    conc->xAxis->setRange(0, 10);
    enviro->xAxis->setRange(0, 10);
    enviro->yAxis->setRange(0, 5);
    enviro->yAxis2->setRange(0, 5);
}

RunPlots::~RunPlots() = default;

void RunPlots::addSample(const Sample& sample) {
    conc->graph(0)->addData(sample.seconds, sample.concentration);
    // The page raises the axis past each value that exceeds it and never lowers it.
    if (sample.concentration > concAxisMax)
        concAxisMax = sample.concentration + 20;
    enviro->graph(0)->addData(sample.seconds, sample.temperature);
    enviro->graph(1)->addData(sample.seconds, sample.pressure);
    enviro->graph(2)->addData(sample.seconds, sample.humidity);
    lastSeconds = sample.seconds;
}

void RunPlots::finish() {
    if (conc->graph(0)->data()->isEmpty())
        return;
    // A run of one sample at time 0 has no time span: the axis keeps 0 .. 10.
    conc->xAxis->setRange(0, lastSeconds);
    conc->yAxis->setRange(-10, concAxisMax);
    enviro->xAxis->setRange(0, lastSeconds);
    // Constant values keep the span the axis had; start from the run's first
    // span so that finishing twice gives the same axes.
    enviro->yAxis->setRange(0, 5);
    enviro->yAxis2->setRange(0, 5);
    enviro->yAxis->rescale();
    enviro->yAxis2->rescale();
    enviro->yAxis->scaleRange(1.1);
    enviro->yAxis2->scaleRange(5);
}

bool RunPlots::writePictures(const QString& directory) {
    finish();
    return runplots::writePictures(conc.get(), enviro.get(), directory);
}
