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

QColor eventColour(int kind) {
    switch (kind) {
        case RunEvent::ConnectionLost:
            return QColor("#Ff0000");
        case RunEvent::ConnectionBack:
            return QColor("#26A65B");
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
    runplots::followRun(conc, enviro, lastSeconds(run), concAxisOf(table));
}

namespace {

bool unitsDiffer(const Run& first, const Run& other) {
    return first.table.unit != other.table.unit && first.table.unit != RunTable::UnitUnknown &&
           other.table.unit != RunTable::UnitUnknown;
}

const char* unitText(const Run& run) {
    return run.table.unit == RunTable::UnitPpm ? "PPM" : "%LEL";
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
    conc->legend->setVisible(true);
    // The longest run sets the time axis.
    double last = 0;
    for (int i = 0; i < conc->graphCount(); ++i) {
        const QSharedPointer<QCPGraphDataContainer> data = conc->graph(i)->data();
        if (!data->isEmpty())
            last = std::max(last, (data->constEnd() - 1)->key);
    }
    if (last > 0)
        conc->xAxis->setRange(0, last);
    followCurvesOn(conc, conc->yAxis);
    if (conc->yAxis2->visible())
        followCurvesOn(conc, conc->yAxis2);
}

QString unitMismatch(const Run& first, const Run& other) {
    if (!unitsDiffer(first, other))
        return QString();
    return QStringLiteral("concentration in %1, the first run's (%2) in %3: read on the right axis")
        .arg(QLatin1String(unitText(other)), first.title(), QLatin1String(unitText(first)));
}

void markEvents(QCustomPlot* plot, const Run& run) {
    QFont font = plot->font();
    font.setPointSize(8);
    for (const RunEvent& event : run.events) {
        const double x = run.secondsOf(event);
        if (!std::isfinite(x))
            continue;
        const QColor colour = eventColour(event.kind);
        auto* line = new QCPItemStraightLine(plot);
        line->setPen(QPen(colour, 1, Qt::DashLine));
        line->point1->setCoords(x, 0);
        line->point2->setCoords(x, 1);
        auto* label = new QCPItemText(plot);
        label->setText(event.label());
        label->setColor(colour);
        label->setFont(font);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(x, 0.02);
        label->setPadding(QMargins(3, 0, 0, 0));
        // Events are notes on the data: clicks and zooming keep acting on the plot.
        line->setSelectable(false);
        label->setSelectable(false);
    }
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
