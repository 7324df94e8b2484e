#include "lumocustomplot.h"

#include <QDebug>

namespace {

QPen plainPen(const char* colour) {
    return QPen(QBrush(QColor(colour)), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

void styleValueAxis(QCPAxis* axis) {
    axis->setBasePen(plainPen("#3F454A"));
    axis->setTickPen(plainPen("#33383C"));
    axis->setTickLength(0, 0);
    axis->setSubTicks(false);
    axis->setTickLabelColor(QColor("#A4AAB0"));
    axis->setLabelColor(QColor("#A4AAB0"));
    axis->grid()->setPen(plainPen("#33383C"));
}

}  // namespace

LumoCustomPlot::LumoCustomPlot(QWidget* parent) : QCustomPlot(parent) {
    setBackground(QBrush(QColor("#3b4044")));
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    setSelectionRectMode(QCP::srmZoom);

    xAxis->setBasePen(plainPen("#A4AAB0"));
    xAxis->setTickPen(plainPen("#A4AAB0"));
    xAxis->setSubTicks(false);
    xAxis->setTickLength(0, 5);
    xAxis->setTickLabelColor(QColor("#A4AAB0"));
    xAxis->setLabelColor(QColor("#A4AAB0"));
    xAxis->grid()->setVisible(false);
    QFont labelFont = xAxis->labelFont();
    labelFont.setPointSize(10);
    xAxis->setLabelFont(labelFont);

    styleValueAxis(yAxis);
    styleValueAxis(yAxis2);
    yAxis2->setVisible(false);
}

void LumoCustomPlot::replotShown(RefreshPriority priority) {
    if (!isVisible()) {
        replotWhenShown = true;
        return;
    }
    replot(priority);
}

void LumoCustomPlot::showEvent(QShowEvent* event) {
    QCustomPlot::showEvent(event);
    if (replotWhenShown) {
        replotWhenShown = false;
        replot(rpQueuedReplot);
    }
}

void LumoCustomPlot::mousePressEvent(QMouseEvent* event) {
    userControlled = true;
    QCustomPlot::mousePressEvent(event);
}

void LumoCustomPlot::mouseDoubleClickEvent(QMouseEvent* event) {
    rescaleAxes(true);
    replot();
    userControlled = false;
    QCustomPlot::mouseDoubleClickEvent(event);
}

void LumoCustomPlot::wheelEvent(QWheelEvent* event) {
    if (!userControlled) {
        userControlled = true;
        qDebug() << "user controlled =" << "true";
    }
    QCustomPlot::wheelEvent(event);
}
