// Two vertical cursors on a plot's time axis and the statistics of the reading
// between them: n, mean, standard deviation, min, max, peak to peak and the
// drift per hour of a least-squares line with its 95 % confidence interval.
//
// A checkable "Cursors" button shows them, at a third and two thirds of the
// visible time range; each is dragged with the left button. A press on a
// cursor is the cursor's alone: the plot neither zooms nor pans nor takes the
// axes from the page's automatic ranges for it. Wheel zoom and everything
// else stay the plot's. Cursors removed with the plot's items (a cleared run)
// are placed again at the next replot while they are shown.
//
// The numbers come from a source given by the owner, full-resolution readings
// (a plot may draw fewer points than it was given); without one, from the
// first graph's points.
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <functional>

#include "stats.h"

class QCPItemRect;
class QCPItemStraightLine;
class QCustomPlot;

class StatsCursors : public QObject {
    Q_OBJECT

public:
    // Statistics of the readings with from <= time <= to.
    using Source = std::function<IntervalStats(double from, double to)>;

    // The button ("pushButton_cursors") and the label ("label_cursorStats",
    // hidden while the cursors are) are made as children of `controls` for
    // the owner to lay out.
    StatsCursors(QCustomPlot* plot, QWidget* controls);
    ~StatsCursors() override;

    QPushButton* button() const { return toggle; }
    QLabel* label() const { return text; }

    void setSource(Source source);
    // The reading's unit, for the label ("%LEL(ISO)", "PPM"); may be empty.
    void setUnit(const QString& unit);

    bool isShown() const { return shown; }
    // Shows the cursors at a third and two thirds of the visible time range, or hides them.
    void setShown(bool on);
    // Moves the cursors (time-axis coordinates, either order).
    void setPositions(double first, double second);
    double position(int cursor) const { return at[cursor & 1]; }

    // Takes the statistics again (the readings changed).
    void refresh();
    const IntervalStats& stats() const { return last; }

    // The label's two lines for a result.
    static QString describe(const IntervalStats& stats, const QString& unit);

signals:
    // The cursors moved or the statistics were taken again.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void makeItems();
    void removeItems();
    void placeItems();
    // The cursor within grab distance of a pixel column inside the axis rectangle, else -1.
    int cursorAt(const QPoint& pos) const;

    QCustomPlot* plot;
    // Children of the owner's widget, which may go first.
    QPointer<QPushButton> toggle;
    QPointer<QLabel> text;
    Source source;
    QString unit;
    bool shown = false;
    double at[2] = {0, 0};
    int dragging = -1;
    QPointer<QCPItemStraightLine> lines[2];
    QPointer<QCPItemRect> shade;
    IntervalStats last;
};
