// Runs read back (runreader.h) drawn on plots set up as the sensor page sets
// its own up (runplots.h): the same curves, pens and automatic ranges, plus
// the time log's events marked on the time axis and, for several runs, one
// concentration curve per run with a legend. Widget-free callers need a
// QApplication (the offscreen platform serves).
#pragma once

#include <QColor>
#include <QList>
#include <QString>

class QCustomPlot;
struct Run;
struct RunTable;

namespace runfigure {

// The page's concentration axis after every row of the table, in order.
double concAxisOf(const RunTable& table);

// One run's concentration and environment; the plots are set up by
// runplots::setUpConcPlot / setUpEnviroPlot and hold no data yet. The
// concentration axis is titled with the table's unit.
void drawRun(QCustomPlot* conc, QCustomPlot* enviro, const Run& run);
// A further run's concentration as another curve of `conc`, in the next
// curve colour; the legend, below the plot where it covers neither curves nor
// event labels, then names every run by sensor and time. A run in another
// unit than `first` (%LEL against PPM) is drawn on the right axis.
void addComparedRun(QCustomPlot* conc, const Run& first, const Run& run);
// The automatic ranges of drawRun and addComparedRun again (after the user
// zoomed); `enviro` may be null when only `conc` is shown.
void followRuns(QCustomPlot* conc, QCustomPlot* enviro, const Run& first);
// A note (naming `first`, not `other`) when `other`'s table gives its concentration in another unit than
// `first`'s: its curve is read on the right axis. Empty otherwise.
QString unitMismatch(const Run& first, const Run& other);

// A vertical line with a label at each time-log event (start, stop,
// connection lost and re-established, saved) of the run. The time axis then
// reaches the events of the run, with a margin where one sits at its end,
// and labels near its end stand left of their line: a stop logged at or
// after the last row is never drawn on or past the axis's edge.
void markEvents(QCustomPlot* plot, const Run& run);
// The automatic time range: 0 to the last point of any curve, widened to
// the events marked near the data (not to a save long after the run); event
// labels near its end move left of their line.
void fitTimeAxis(QCustomPlot* plot);

// Colour of the n-th compared run's curve; the first is the page's own.
QColor curveColour(int n);

// The plots one above the other, each width x height, into one PNG or PDF
// (chosen by the path's suffix); false when the file could not be written.
bool writeStacked(const QList<QCustomPlot*>& plots, const QString& path, int width, int height);

}  // namespace runfigure
