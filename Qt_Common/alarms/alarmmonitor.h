// Turns a run's cycles into alarm changes. Fed one Sample per cycle and a
// notice for each cycle that went without an answer; each call returns the
// changes of that cycle, so a change is known on the cycle that caused it.
//   Levels: raised on the recorded cycle whose reading reaches the level
//   (rising: at or above, falling: at or below); cleared only once a reading
//   is past the level by the hysteresis (below level - hysteresis, or above
//   level + hysteresis). A latching one stays raised until it is acknowledged
//   and its reading is back.
//   Fault: raised by a status code the sensor counts as a fault, or by
//   kUnansweredForFault cycles in a row without an answer; cleared by an
//   answered cycle with a good status code (latching as the levels).
// No Qt objects, no clock: the caller times and words the changes.
#pragma once

#include <QList>

#include <cstdint>

#include "alarmsettings.h"
#include "presentation.h"

struct Sample;

struct AlarmEvent {
    presentation::AlarmKind kind;
    presentation::AlarmChange change;
    bool operator==(const AlarmEvent& o) const { return kind == o.kind && change == o.change; }
};

class AlarmMonitor {
public:
    using Kind = presentation::AlarmKind;
    static constexpr int kUnansweredForFault = 3;

    // Whether a sensor status code is a fault: every code that fails the
    // sensor's self test (start-up codes and conditions of the gas are not).
    static bool isFaultStatus(uint8_t code);

    // New settings; `levelsApply` false when the run's unit is not theirs.
    // An alarm switched off (or whose levels no longer apply) is cleared.
    QList<AlarmEvent> configure(const AlarmSettings& settings, bool levelsApply);
    const AlarmSettings& settings() const { return current; }
    bool levelsApply() const { return levelsOn; }
    // A new run: nothing raised, no cycle counted. No changes are reported.
    void reset();

    QList<AlarmEvent> sample(const Sample& sample);
    QList<AlarmEvent> unanswered();
    // Acknowledges every latched alarm that waits; one whose reading is back clears.
    QList<AlarmEvent> acknowledge();

    bool raised(Kind kind) const { return alarms[int(kind)].raised; }
    bool waitsForAcknowledge(Kind kind) const;
    bool waitsForAcknowledge() const;
    presentation::AlarmState state() const;

private:
    struct Alarm {
        bool condition = false;  // the reading (or the sensor) is in alarm, hysteresis applied
        bool raised = false;
        bool acknowledged = false;
    };
    bool latching(Kind kind) const;
    bool enabled(Kind kind) const;
    void settle(Kind kind, QList<AlarmEvent>* events);
    void checkLevel(Kind kind, const AlarmLevel& level, double reading, QList<AlarmEvent>* events);
    void checkFault(QList<AlarmEvent>* events);

    AlarmSettings current;
    bool levelsOn = true;
    Alarm alarms[3];
    bool faultStatus = false;  // of the last answered cycle
    int unansweredInRow = 0;
};
