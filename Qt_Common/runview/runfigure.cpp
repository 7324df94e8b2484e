#include "runfigure.h"

#include <QFileInfo>
#include <QImage>
#include <QPageSize>
#include <QPdfWriter>
#include <QSharedPointer>
#include <QVector>

#include <algorithm>
#include <cmath>

#include <qcustomplot.h>
#include "gasmarks.h"
#include "presentation.h"
#include "runplots.h"
#include "runreader.h"

namespace runfigure {

namespace {

// Points of one curve handed to the graph as they are: the container takes
// the vector itself (implicitly shared), so nothing is copied again.
QSharedPointer<QCPGraphDataContainer> curve(const RunTable& table, const std::vector<float>& values) {
    QVector<QCPGraphData> points(int(table.rows()));
    for (int i = 0; i < points.size(); ++i)
        points[i] = QCPGraphData(table.seconds[size_t(i)], double(values[size_t(i)]));
    auto data = QSharedPointer<QCPGraphDataContainer>::create();
    data->set(points, table.timeSorted);
    return data;
}

double lastSeconds(const Run& run) {
    return run.table.rows() ? run.table.seconds.back() : 0;
}

using runplots::kEventLabel;
using runplots::kEventLine;
// A label whose line is in this last share of the time axis stands left of
// it, inside the plot; others stand right of their line.
constexpr double kLabelLeftOf = 0.8;
// An event this near an end of the time axis (share of its span) sits on it,
// and the axis then gets this much room beyond it.
constexpr double kAtEnd = 0.01;
constexpr double kMargin = 0.03;
// Events further from the data than this (seconds, or share of its span if
// more) are left off the automatic range: a save an hour after the run must
// not squeeze the run into a corner. A stop is logged within a cycle or two
// of the last row, to the second.
constexpr double kNearSeconds = 5;
constexpr double kNearShare = 0.02;

// The span of the keys of every curve; false when there are none.
bool keySpan(QCustomPlot* plot, double* first, double* last) {
    bool any = false;
    for (int i = 0; i < plot->graphCount(); ++i) {
        const QSharedPointer<QCPGraphDataContainer> data = plot->graph(i)->data();
        if (data->isEmpty())
            continue;
        const double a = data->constBegin()->key;
        const double b = (data->constEnd() - 1)->key;
        *first = any ? std::min(*first, a) : a;
        *last = any ? std::max(*last, b) : b;
        any = true;
    }
    return any;
}

QColor eventColour(int kind) {
    switch (kind) {
        case RunEvent::ConnectionLost:
            return QColor(presentation::colourName(presentation::Tone::Red));
        case RunEvent::ConnectionBack:
            return QColor(presentation::colourName(presentation::Tone::Green));
        case RunEvent::Started:
        case RunEvent::Stopped:
            return QColor("#356797");
        default:
            return QColor("#808080");
    }
}

}  // namespace

double concAxisOf(const RunTable& table) {
    double axisMax = runplots::kConcAxisStart;
    for (float c : table.concentration)
        axisMax = runplots::raisedConcAxis(axisMax, double(c));
    return axisMax;
}

void drawRun(QCustomPlot* conc, QCustomPlot* enviro, const Run& run) {
    const RunTable& table = run.table;
    conc->graph(0)->setData(curve(table, table.concentration));
    conc->graph(0)->setName(run.title());
    const std::vector<float>* enviroValues[3] = {&table.temperature, &table.pressure, &table.humidity};
    for (int i = 0; i < 3; ++i)
        enviro->graph(i)->setData(curve(table, *enviroValues[i]));
    // The column's own name, unit and all.
    conc->yAxis->setLabel(table.concHeader());
    followRuns(conc, enviro, run);
}

namespace {

bool unitsDiffer(const Run& first, const Run& other) {
    return first.table.unit != other.table.unit && first.table.unit != RunTable::UnitUnknown &&
           other.table.unit != RunTable::UnitUnknown;
}

const char* unitText(const Run& run) {
    return presentation::runUnitName(run.table.runUnit());
}

// The page's automatic concentration range over every curve on `axis`.
void followCurvesOn(QCustomPlot* conc, QCPAxis* axis) {
    double axisMax = runplots::kConcAxisStart;
    for (int i = 0; i < conc->graphCount(); ++i) {
        if (conc->graph(i)->valueAxis() != axis)
            continue;
        for (const QCPGraphData& point : *conc->graph(i)->data())
            axisMax = runplots::raisedConcAxis(axisMax, point.value);
    }
    axis->setRange(-10, axisMax);
}

}  // namespace

void addComparedRun(QCustomPlot* conc, const Run& first, const Run& run) {
    const int n = conc->graphCount();
    // A curve in the other unit is read on an axis of its own: %LEL and PPM
    // on one scale would flatten one of them to a line.
    const bool ownAxis = unitsDiffer(first, run);
    if (ownAxis) {
        conc->yAxis2->setVisible(true);
        conc->yAxis2->setTickLabels(true);
        conc->yAxis2->setLabel(QStringLiteral("Conc [%1]").arg(QLatin1String(unitText(run))));
    }
    QCPGraph* graph = conc->addGraph(conc->xAxis, ownAxis ? conc->yAxis2 : conc->yAxis);
    graph->setPen(runplots::curvePen(curveColour(n)));
    graph->setData(curve(run.table, run.table.concentration));
    graph->setName(run.title());
    runplots::setLegendBelow(conc, true);
    followRuns(conc, nullptr, first);
}

void followRuns(QCustomPlot* conc, QCustomPlot* enviro, const Run& first) {
    if (enviro)
        runplots::followRun(conc, enviro, lastSeconds(first), concAxisOf(first.table));
    // Compared runs: each value axis over its curves, the longest run sets the time axis.
    if (conc->graphCount() > 1) {
        followCurvesOn(conc, conc->yAxis);
        if (conc->yAxis2->visible())
            followCurvesOn(conc, conc->yAxis2);
    }
    fitTimeAxis(conc);
    if (enviro)
        fitTimeAxis(enviro);
}

void fitTimeAxis(QCustomPlot* plot) {
    double first = 0, last = 0;
    if (!keySpan(plot, &first, &last))
        return;
    double lower = std::min(0.0, first);
    double upper = last;
    const double near = std::max(kNearSeconds, kNearShare * (upper - lower));
    bool marked = false;
    double earliest = 0, latest = 0;
    for (int i = 0; i < plot->itemCount(); ++i) {
        auto* line = qobject_cast<QCPItemStraightLine*>(plot->item(i));
        if (!line || line->objectName() != QLatin1String(kEventLine))
            continue;
        const double x = line->point1->coords().x();
        if (x < lower - near || x > upper + near)
            continue;
        earliest = marked ? std::min(earliest, x) : x;
        latest = marked ? std::max(latest, x) : x;
        marked = true;
    }
    if (marked) {
        lower = std::min(lower, earliest);
        upper = std::max(upper, latest);
    }
    // A run of one sample at time 0 has no time span: the axis keeps 0 .. 10.
    if (!(upper > lower))
        return;
    const double span = upper - lower;
    if (marked && earliest <= lower + kAtEnd * span)
        lower -= kMargin * span;
    if (marked && latest >= upper - kAtEnd * span)
        upper += kMargin * span;
    plot->xAxis->setRange(lower, upper);
    for (int i = 0; i < plot->itemCount(); ++i) {
        auto* label = qobject_cast<QCPItemText*>(plot->item(i));
        if (!label || label->objectName() != QLatin1String(kEventLabel))
            continue;
        const bool leftOfLine = label->position->coords().x() > lower + kLabelLeftOf * (upper - lower);
        label->setPositionAlignment((leftOfLine ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        label->setPadding(leftOfLine ? QMargins(0, 0, 3, 0) : QMargins(3, 0, 0, 0));
    }
}

QString unitMismatch(const Run& first, const Run& other) {
    if (!unitsDiffer(first, other))
        return QString();
    return QStringLiteral("concentration in %1, the first run's (%2) in %3: read on the right axis")
        .arg(QLatin1String(unitText(other)), first.title(), QLatin1String(unitText(first)));
}

void markEvents(QCustomPlot* plot, const Run& run) {
    for (const RunEvent& event : run.events) {
        // A gas mark or note carries its exact run time; the log's stamp has whole seconds only.
        GasMark mark;
        const bool exact = parseGasMark(event.text, &mark) && mark.exactTime;
        const double x = exact ? mark.seconds : run.secondsOf(event);
        if (std::isfinite(x))
            runplots::addEventMark(plot, x, exact ? mark.text : event.label(),
                                   exact ? QColor("#808080") : eventColour(event.kind));
    }
    fitTimeAxis(plot);
}

QColor curveColour(int n) {
    static const char* const kColours[] = {runplots::kConcColour, "#356797", "#1FB8A1", "#FFAD2B",
                                           "#8E44AD", "#2C3E50", "#D35400", "#7F8C8D"};
    return QColor(kColours[n % int(sizeof(kColours) / sizeof(kColours[0]))]);
}

bool writeStacked(const QList<QCustomPlot*>& plots, const QString& path, int width, int height) {
    if (plots.isEmpty())
        return false;
    const int total = height * plots.size();
    const bool pdf = QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    bool written = false;
    if (pdf) {
        QPdfWriter writer(path);
        writer.setResolution(72);  // one point per pixel of the plots' layout
        writer.setPageSize(QPageSize(QSizeF(width, total), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QCPPainter painter;
        if (painter.begin(&writer)) {
            painter.setMode(QCPPainter::pmVectorized);
            painter.setMode(QCPPainter::pmNoCaching);
            for (QCustomPlot* plot : plots) {
                plot->toPainter(&painter, width, height);
                painter.translate(0, height);
            }
            written = painter.end();
        }
    } else {
        QImage image(width, total, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QCPPainter painter(&image);
        for (QCustomPlot* plot : plots) {
            plot->toPainter(&painter, width, height);
            painter.translate(0, height);
        }
        painter.end();
        written = image.save(path, "PNG");
    }
    // Drawing laid the plots out at the picture's size; lay them out for their own again.
    for (QCustomPlot* plot : plots)
        plot->replot(QCustomPlot::rpQueuedReplot);
    return written && QFileInfo(path).size() > 0;
}

}  // namespace runfigure
