// A run directory read back from its plain files: the customer table
// (vqsData.csv), the time log (timelog.txt) and the test notes
// (testNotes.txt), whether the page, a save or `vqs-ctl record` wrote them.
// Nothing is written; missing or damaged files give what they still hold and
// a one-line account of the rest.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "runtable.h"

struct RunEvent {
    enum Kind { Started, Stopped, Saved, ConnectionLost, ConnectionBack, Other };
    QDateTime when;  // local time, to the second
    Kind kind = Other;
    QString text;  // as logged, e.g. "Cycle 12: Connection Re-established (3 retries)."
    // A short name to mark the event with on a time axis.
    QString label() const;
};

struct Run {
    QString directory;
    QString sensorName;   // from the directory name "<stamp> <sensor>[_<test name>]"
    QDateTime started;    // the time log's first "Started", else the directory's stamp
    RunTable table;
    QList<RunEvent> events;
    QString notes;        // testNotes.txt as written (empty when there is none)
    QString testName;
    // One line per file with something left out; empty when all was read.
    QStringList problems;
    // Why there is nothing to plot (no table, no readable row); empty otherwise.
    QString nothingToShow;

    bool hasRows() const { return table.rows() > 0; }
    // "S1 2024-03-15 14:25:30": the sensor and when its run began.
    QString title() const;
    // Seconds from the start of the run (the table's time axis); NaN when the
    // run's start is unknown.
    double secondsOf(const RunEvent& event) const;
};

// Reads the run in `directory`. Never fails: see Run::nothingToShow.
Run readRun(const QString& directory);

// Time-log lines "2024_03_15 - 14_25_30: Started" (CR LF or LF); lines of
// another form are counted in *skipped.
QList<RunEvent> parseTimeLog(const QByteArray& text, int* skipped = nullptr);
