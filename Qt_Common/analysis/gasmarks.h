// Gas marks: what the operator notes during a run ("Gas on", "Gas off" or a
// note of their own), kept as events of the run's time log. One format, written
// by gasMarkEvent() and read back by parseGasMark():
//
//   Cycle <n>: Gas on (<run time> s)
//   Cycle <n>: Gas off (<run time> s)
//   Cycle <n>: <note> (<run time> s)
//
// n is the number of rows recorded when the mark was made; the run time is the
// mark's own time in seconds since the run's start, three decimals, always
// with '.'. It is what makes a mark exact: the time log's stamp has whole
// seconds only. "Gas on" and "Gas off" written without it are still read
// (their time is then the time of row n); a note needs it, so that the
// program's own "Cycle <n>: ..." events (connection lost, sensor restarted)
// are never taken for notes. Alarm changes share the form with their run time
// ("Cycle 41: High alarm raised (40.512 s)"); their words are not notes either.
#pragma once

#include <QList>
#include <QString>

#include <limits>

#include "runreader.h"

struct GasMark {
    enum Kind { GasOn, GasOff, Note };

    Kind kind = Note;
    int cycle = 0;  // rows recorded when it was made
    double seconds = std::numeric_limits<double>::quiet_NaN();  // run time
    bool exactTime = false;  // the event carried its run time
    QString text;            // "Gas on", "Gas off" or the note
};

// The time-log event of a mark. A note is kept on one line (line ends become blanks).
QString gasMarkEvent(GasMark::Kind kind, int cycle, double seconds, const QString& note = QString());

// Reads one time-log event (the text after "<stamp>: "); false when it is no mark.
bool parseGasMark(const QString& event, GasMark* mark);

// The run's marks in time order. Marks without their run time are placed at the
// time of the last row recorded before them, else at the time-log stamp.
QList<GasMark> gasMarksOf(const Run& run);
