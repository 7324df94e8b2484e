// The page's analysis of its run, under the concentration plot: the response
// times of the latest gas steps, found as the run records, and two cursors
// with the statistics of the readings between them. A subscriber of the run
// session like the page itself; it keeps the run's readings at full
// resolution, whatever the plot draws of them.
#pragma once

#include <QObject>
#include <QString>

#include "liveresponse.h"

class QCustomPlot;
class QGridLayout;
class QLabel;
class QWidget;
class RunSession;
class StatsCursors;
struct Sample;

class PageAnalysis : public QObject {
    Q_OBJECT

public:
    // Its bar (the "Cursors" button, the response label "label_response" and
    // the cursors' label) goes into `grid` at (`row`, `column`). Connections
    // to the session are made in `page`'s name, so the page's disconnect from
    // its session at teardown ends them too.
    PageAnalysis(QWidget* page, QCustomPlot* plot, QGridLayout* grid, int row, int column, RunSession* session);

    // The run's data was cleared: readings, marks and response times go.
    void clear();
    // Windows of the response analysis (the defaults are those of Save Data's analysis.txt).
    void setSettings(const ResponseSettings& settings);

    const LiveResponse& response() const { return live; }
    StatsCursors* cursors() const { return statsCursors; }
    // The latest step in short ("Gas on: t50 3.5 s, t90 11.5 s"), for views
    // over all pages; empty before the first mark.
    QString latest() const;

signals:
    // latest() changed.
    void responseChanged(const QString& latest);

private:
    void onSample(const Sample& sample);
    void onMark(const QString& event);
    void onRunEnded();
    // Analyses what is due and shows it.
    void showResponse();

    RunSession* session;
    LiveResponse live;
    QLabel* label = nullptr;
    StatsCursors* statsCursors = nullptr;
    QString shownLatest;
    // Newest reading when the cursors' statistics were last taken, and whether
    // a reading between them came since.
    double cursorsTakenAt = 0;
    bool cursorsStale = false;
};
