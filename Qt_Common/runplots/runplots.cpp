#include "runplots.h"

#include <QDir>

#include "lumocustomplot.h"
#include "storedgraph.h"

namespace runplots {

const char* const kConcColour = "#CC483D";
const EnviroCurve kEnviroCurves[3] = {
    {false, "#CC483D", "T [C]"},
    {true, "#FFAD2B", "P [kPa] (right axis)"},
    {false, "#1FB8A1", "RH [%]"},
};

namespace {

// Large enough to read the tick labels of a long run; the page's plots are
// wide and low, and so are the pictures.
constexpr int kPictureWidth = 1200;
constexpr int kPictureHeight = 480;

QCPGraph* addStoredGraph(QCustomPlot* plot, QCPAxis* valueAxis) {
    auto* graph = new StoredGraph(plot->xAxis, valueAxis);  // the plot takes it
    graph->setName(QStringLiteral("Graph %1").arg(plot->graphCount()));
    return graph;
}

QPen linePen(const char* colour) {
    return QPen(QBrush(QColor(colour)), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

}  // namespace

QPen curvePen(const QColor& colour) {
    return QPen(QBrush(colour), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void applyLightLook(QCustomPlot* plot) {
    const QPen axisPen = linePen("#000000");
    const QColor black("#000000");
    plot->setBackground(QBrush(QColor("#FFFFFF")));
    plot->xAxis->setBasePen(axisPen);
    plot->xAxis->setTickPen(axisPen);
    plot->xAxis->setTickLabelColor(black);
    plot->xAxis->setLabelColor(black);
    applyLightLook(plot->yAxis);
    applyLightLook(plot->yAxis2);
}

void applyLightLook(QCPAxis* valueAxis) {
    const QPen gridPen = linePen("#e6e6e7");
    const QColor black("#000000");
    valueAxis->setBasePen(linePen("#FFFFFF"));
    valueAxis->setTickPen(gridPen);
    valueAxis->setTickLabelColor(black);
    valueAxis->setLabelColor(black);
    valueAxis->grid()->setPen(gridPen);
}

void addPoint(QCustomPlot* plot, int graph, double key, double value) {
    if (StoredGraph* stored = StoredGraph::of(plot->graph(graph)))
        stored->addPoint(key, value);
    else
        plot->graph(graph)->addData(key, value);
}

void clearCurves(QCustomPlot* plot) {
    for (int i = 0; i < plot->graphCount(); ++i) {
        if (StoredGraph* stored = StoredGraph::of(plot->graph(i)))
            stored->clearPoints();
        else
            plot->graph(i)->data()->clear();
    }
}

void setUpConcPlot(QCustomPlot* plot) {
    addStoredGraph(plot, plot->yAxis);
    plot->graph(0)->setPen(curvePen(QColor(kConcColour)));
    plot->yAxis->setRange(-10, kConcAxisStart);
    plot->xAxis->setLabel(QStringLiteral("Time [s]"));
    plot->yAxis->setLabel(QStringLiteral("Conc"));
    applyLightLook(plot);
}

void setConcUnit(QCustomPlot* plot, const QString& unit) {
    plot->yAxis->setLabel(unit.isEmpty() ? QStringLiteral("Conc") : QStringLiteral("Conc [%1]").arg(unit));
}

void setUpEnviroPlot(QCustomPlot* plot) {
    for (int i = 0; i < 3; ++i) {
        const EnviroCurve& curve = kEnviroCurves[i];
        if (curve.rightAxis)
            plot->yAxis2->setVisible(true);
        addStoredGraph(plot, curve.rightAxis ? plot->yAxis2 : plot->yAxis);
        plot->graph(i)->setPen(curvePen(QColor(curve.colour)));
        plot->graph(i)->setName(QLatin1String(curve.name));
    }
    // Temperature and humidity share the left axis; pressure has the right.
    plot->xAxis->setLabel(QStringLiteral("Time [s]"));
    plot->yAxis->setLabel(QStringLiteral("T [C], RH [%]"));
    plot->yAxis2->setLabel(QStringLiteral("P [kPa]"));
    applyLightLook(plot);
}

void followRun(QCustomPlot* conc, QCustomPlot* enviro, double lastSeconds, double concAxisMax) {
    // A run of one sample at time 0 has no time span: the axis keeps 0 .. 10.
    if (lastSeconds > 0) {
        conc->xAxis->setRange(0, lastSeconds);
        enviro->xAxis->setRange(0, lastSeconds);
    }
    conc->yAxis->setRange(-10, concAxisMax);
    // Constant values keep the span the axis had; start from the run's first
    // span so that following twice gives the same axes.
    enviro->yAxis->setRange(0, 5);
    enviro->yAxis2->setRange(0, 5);
    enviro->yAxis->rescale();
    enviro->yAxis2->rescale();
    enviro->yAxis->scaleRange(1.1);
    enviro->yAxis2->scaleRange(5);
}

void setLegendBelow(QCustomPlot* plot, bool below) {
    QCPLayoutGrid* layout = plot->plotLayout();
    const bool isBelow = plot->legend->layout() != plot->axisRect()->insetLayout();
    if (below && !isBelow) {
        auto* row = new QCPLayoutGrid;
        layout->addElement(1, 0, row);
        layout->setRowStretchFactor(1, 0.001);
        row->setMargins(QMargins(5, 0, 5, 5));
        row->addElement(0, 0, plot->legend);  // taken out of the axis rectangle
        plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
        plot->legend->setWrap(4);
    } else if (!below && isBelow) {
        QCPLayoutElement* row = layout->element(1, 0);
        plot->axisRect()->insetLayout()->addElement(plot->legend, Qt::AlignRight | Qt::AlignTop);
        layout->remove(row);
        layout->simplify();
    }
    plot->legend->setVisible(below);
}

const char* const kEventLine = "eventLine";
const char* const kEventLabel = "eventLabel";

void addEventMark(QCustomPlot* plot, double seconds, const QString& text, const QColor& colour) {
    QFont font = plot->font();
    font.setPointSize(8);
    auto* line = new QCPItemStraightLine(plot);
    line->setObjectName(QLatin1String(kEventLine));
    line->setPen(QPen(colour, 1, Qt::DashLine));
    line->point1->setCoords(seconds, 0);
    line->point2->setCoords(seconds, 1);
    auto* label = new QCPItemText(plot);
    label->setText(text);
    label->setColor(colour);
    label->setFont(font);
    label->setObjectName(QLatin1String(kEventLabel));
    label->position->setTypeX(QCPItemPosition::ptPlotCoords);
    label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    label->position->setCoords(seconds, 0.02);
    label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setPadding(QMargins(3, 0, 0, 0));
    // Events are notes on the data: clicks and zooming keep acting on the plot.
    line->setSelectable(false);
    label->setSelectable(false);
}

bool writePictures(QCustomPlot* conc, QCustomPlot* enviro, const QString& directory) {
    const struct {
        QCustomPlot* plot;
        const char* name;
    } pictures[] = {{conc, "vqsConc"}, {enviro, "vqsEnviro"}};
    bool written = true;
    // The page names the environment curves beside its plot; a picture names them itself.
    const bool enviroLegend = enviro->legend->visible();
    setLegendBelow(enviro, true);
    for (const auto& picture : pictures) {
        const QString base = QDir(directory).filePath(QLatin1String(picture.name));
        written = picture.plot->savePng(base + QLatin1String(".png"), kPictureWidth, kPictureHeight) && written;
        written = picture.plot->savePdf(base + QLatin1String(".pdf"), kPictureWidth, kPictureHeight) && written;
    }
    setLegendBelow(enviro, enviroLegend);
    // The export laid the plots out at the picture's size; lay them out for their own again.
    conc->replot(QCustomPlot::rpQueuedReplot);
    enviro->replot(QCustomPlot::rpQueuedReplot);
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

void RunPlots::setConcUnit(const QString& unit) {
    runplots::setConcUnit(conc.get(), unit);
}

void RunPlots::addSample(const Sample& sample) {
    runplots::addPoint(conc.get(), 0, sample.seconds, sample.concentration);
    // The page raises the axis past each value that exceeds it and never lowers it.
    concAxisMax = runplots::raisedConcAxis(concAxisMax, sample.concentration);
    runplots::addPoint(enviro.get(), 0, sample.seconds, sample.temperature);
    runplots::addPoint(enviro.get(), 1, sample.seconds, sample.pressure);
    runplots::addPoint(enviro.get(), 2, sample.seconds, sample.humidity);
    hasSamples = true;
    lastSeconds = sample.seconds;
}

void RunPlots::finish() {
    if (!hasSamples)
        return;
    runplots::followRun(conc.get(), enviro.get(), lastSeconds, concAxisMax);
}

bool RunPlots::writePictures(const QString& directory) {
    finish();
    return runplots::writePictures(conc.get(), enviro.get(), directory);
}
