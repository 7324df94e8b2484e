#include "statscursors.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <vector>

#include <qcustomplot.h>

namespace {

// How near (pixels) a press must be to a cursor to take it.
constexpr int kGrab = 5;
const char* const kCursorColour = "#356797";
const char* const kCursorObject = "statsCursor";

// Four significant digits, never in exponent form: readings run from PPM in
// thousands to drifts of a few thousandths.
QString number(double value) {
    if (!std::isfinite(value))
        return QStringLiteral("-");
    if (value == 0)
        return QStringLiteral("0");
    const int magnitude = int(std::floor(std::log10(std::fabs(value))));
    return QString::number(value, 'f', std::clamp(3 - magnitude, 0, 6));
}

QString timeText(double seconds) {
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
}

// The first graph's points between the keys.
IntervalStats graphStats(QCustomPlot* plot, double from, double to) {
    std::vector<double> t;
    std::vector<float> v;
    if (plot->graphCount() > 0) {
        const QSharedPointer<QCPGraphDataContainer> data = plot->graph(0)->data();
        for (auto it = data->findBegin(from, false); it != data->findEnd(to, false); ++it) {
            t.push_back(it->key);
            v.push_back(float(it->value));
        }
    }
    return statsBetween(t, v, from, to, true);
}

}  // namespace

StatsCursors::StatsCursors(QCustomPlot* plot, QWidget* controls)
    : QObject(plot), plot(plot), toggle(new QPushButton(QStringLiteral("Cursors"), controls)), text(new QLabel(controls)) {
    toggle->setObjectName(QStringLiteral("pushButton_cursors"));
    toggle->setCheckable(true);
    toggle->setToolTip(QStringLiteral("Two cursors on the time axis and the statistics between them"));
    text->setObjectName(QStringLiteral("label_cursorStats"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->hide();
    connect(toggle, &QPushButton::toggled, this, &StatsCursors::setShown);
    // Cursors removed with the plot's items come back where a new press would put them.
    connect(plot, &QCustomPlot::beforeReplot, this, [this] {
        if (shown && (!lines[0] || !lines[1] || !shade)) {
            removeItems();
            setShown(true);
        }
    });
    plot->installEventFilter(this);
}

StatsCursors::~StatsCursors() {
    // The plot may be in its own destruction (it is the parent): leave its items to it.
}

void StatsCursors::setSource(Source newSource) {
    source = std::move(newSource);
    refresh();
}

void StatsCursors::setUnit(const QString& newUnit) {
    if (unit == newUnit)
        return;
    unit = newUnit;
    refresh();
}

void StatsCursors::setShown(bool on) {
    if (toggle && toggle->isChecked() != on) {
        toggle->setChecked(on);  // comes back here through toggled()
        return;
    }
    shown = on;
    if (text)
        text->setVisible(on);
    if (!on) {
        removeItems();
        dragging = -1;
        plot->unsetCursor();
        plot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    const QCPRange range = plot->xAxis->range();
    if (!lines[0] || !lines[1] || !shade) {
        removeItems();
        makeItems();
        at[0] = range.lower + range.size() / 3;
        at[1] = range.lower + range.size() * 2 / 3;
    }
    // Hovering shows where a cursor can be taken.
    plot->setMouseTracking(true);
    placeItems();
    refresh();
}

void StatsCursors::setPositions(double first, double second) {
    at[0] = first;
    at[1] = second;
    placeItems();
    refresh();
}

void StatsCursors::refresh() {
    if (!shown)
        return;
    const double from = std::min(at[0], at[1]), to = std::max(at[0], at[1]);
    last = source ? source(from, to) : graphStats(plot, from, to);
    const QString lines = describe(last, unit);
    if (text && text->text() != lines)
        text->setText(lines);
    emit changed();
}

QString StatsCursors::describe(const IntervalStats& s, const QString& unit) {
    QString head = QStringLiteral("Between %1 and %2").arg(timeText(s.from), timeText(s.to));
    if (!unit.isEmpty())
        head += QStringLiteral(", in %1").arg(unit);
    if (s.n == 0)
        return head + QStringLiteral(": no readings");
    const QString values = QStringLiteral("%1: n %2, mean %3, SD %4, min %5, max %6, p-p %7")
                               .arg(head)
                               .arg(s.n)
                               .arg(number(s.mean), number(s.sd), number(s.min), number(s.max), number(s.peakToPeak));
    QString drift;
    if (!std::isfinite(s.driftPerHour))
        drift = QStringLiteral("Drift: needs readings at two times or more");
    else if (!std::isfinite(s.driftLow))
        drift = QStringLiteral("Drift %1 /h (its confidence interval needs three readings)").arg(number(s.driftPerHour));
    else
        drift = QStringLiteral("Drift %1 /h, %2 % confidence interval %3 to %4")
                    .arg(number(s.driftPerHour))
                    .arg(s.confidence * 100, 0, 'f', 0)
                    .arg(number(s.driftLow), number(s.driftHigh));
    return values + QLatin1Char('\n') + drift;
}

void StatsCursors::makeItems() {
    const QColor colour(kCursorColour);
    QColor fill = colour;
    fill.setAlpha(28);
    shade = new QCPItemRect(plot);
    shade->setObjectName(QLatin1String(kCursorObject));
    shade->setLayer(QStringLiteral("grid"));  // under the curves
    shade->setPen(Qt::NoPen);
    shade->setBrush(fill);
    shade->setSelectable(false);
    shade->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
    shade->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    for (auto& line : lines) {
        line = new QCPItemStraightLine(plot);
        line->setObjectName(QLatin1String(kCursorObject));
        line->setPen(QPen(colour, 2));
        line->setSelectable(false);  // taken by this filter, not by the plot's selection
    }
}

void StatsCursors::removeItems() {
    for (auto& line : lines) {
        if (line)
            plot->removeItem(line);
        line = nullptr;
    }
    if (shade)
        plot->removeItem(shade);
    shade = nullptr;
}

void StatsCursors::placeItems() {
    if (!shown || !lines[0] || !lines[1] || !shade)
        return;
    for (int i = 0; i < 2; ++i) {
        lines[i]->point1->setCoords(at[i], 0);
        lines[i]->point2->setCoords(at[i], 1);
    }
    shade->topLeft->setCoords(std::min(at[0], at[1]), 0);
    shade->bottomRight->setCoords(std::max(at[0], at[1]), 1);
    plot->replot(QCustomPlot::rpQueuedReplot);
}

int StatsCursors::cursorAt(const QPoint& pos) const {
    if (!shown || !plot->axisRect()->rect().adjusted(-kGrab, 0, kGrab, 0).contains(pos))
        return -1;
    int best = -1;
    double nearest = kGrab + 0.5;
    for (int i = 0; i < 2; ++i) {
        const double distance = std::fabs(plot->xAxis->coordToPixel(at[i]) - pos.x());
        if (distance < nearest) {
            nearest = distance;
            best = i;
        }
    }
    return best;
}

bool StatsCursors::eventFilter(QObject* watched, QEvent* event) {
    if (watched != plot || !shown)
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton)
                return false;
            dragging = cursorAt(mouse->pos());
            return dragging >= 0;  // the plot's zoom rectangle and range drag never start
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (dragging < 0) {
                if (mouse->buttons() == Qt::NoButton) {
                    if (cursorAt(mouse->pos()) >= 0)
                        plot->setCursor(Qt::SizeHorCursor);
                    else
                        plot->unsetCursor();
                }
                return false;
            }
            // Kept inside the axis rectangle, where it can be taken again.
            const QRect inner = plot->axisRect()->rect();
            const int x = std::clamp(mouse->pos().x(), inner.left(), inner.right());
            at[dragging] = plot->xAxis->pixelToCoord(x);
            placeItems();
            refresh();
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (dragging < 0)
                return false;
            dragging = -1;
            return true;
        default:
            return false;
    }
}
