#include "alarmmonitor.h"

#include <cmath>

#include "sample.h"
#include "sensoridentity.h"

using presentation::AlarmChange;

bool AlarmMonitor::isFaultStatus(uint8_t code) {
    return !selfTestPassed(code);
}

bool AlarmMonitor::enabled(Kind kind) const {
    switch (kind) {
        case Kind::Low:
            return levelsOn && current.low.enabled;
        case Kind::High:
            return levelsOn && current.high.enabled;
        case Kind::Fault:
            break;
    }
    return current.faultEnabled;
}

bool AlarmMonitor::latching(Kind kind) const {
    switch (kind) {
        case Kind::Low:
            return current.low.latching;
        case Kind::High:
            return current.high.latching;
        case Kind::Fault:
            break;
    }
    return current.faultLatching;
}

QList<AlarmEvent> AlarmMonitor::configure(const AlarmSettings& settings, bool levelsApply) {
    current = settings;
    levelsOn = levelsApply;
    QList<AlarmEvent> events;
    for (Kind kind : {Kind::Low, Kind::High, Kind::Fault}) {
        Alarm& alarm = alarms[int(kind)];
        if (enabled(kind))
            continue;
        alarm.condition = false;
        if (alarm.raised) {
            alarm = Alarm();
            events.append({kind, AlarmChange::Cleared});
        }
    }
    // The fault condition is known without a new reading.
    if (enabled(Kind::Fault))
        checkFault(&events);
    return events;
}

void AlarmMonitor::reset() {
    for (Alarm& alarm : alarms)
        alarm = Alarm();
    faultStatus = false;
    unansweredInRow = 0;
}

void AlarmMonitor::settle(Kind kind, QList<AlarmEvent>* events) {
    Alarm& alarm = alarms[int(kind)];
    if (alarm.condition && !alarm.raised) {
        alarm.raised = true;
        alarm.acknowledged = false;
        events->append({kind, AlarmChange::Raised});
    } else if (!alarm.condition && alarm.raised && (!latching(kind) || alarm.acknowledged)) {
        alarm.raised = false;
        alarm.acknowledged = false;
        events->append({kind, AlarmChange::Cleared});
    }
}

void AlarmMonitor::checkLevel(Kind kind, const AlarmLevel& level, double reading, QList<AlarmEvent>* events) {
    if (!enabled(kind) || !std::isfinite(reading))
        return;
    Alarm& alarm = alarms[int(kind)];
    const double hysteresis = std::fabs(level.hysteresis);
    if (level.rising)
        alarm.condition = alarm.condition ? reading >= level.level - hysteresis : reading >= level.level;
    else
        alarm.condition = alarm.condition ? reading <= level.level + hysteresis : reading <= level.level;
    settle(kind, events);
}

void AlarmMonitor::checkFault(QList<AlarmEvent>* events) {
    if (!enabled(Kind::Fault))
        return;
    alarms[int(Kind::Fault)].condition = faultStatus || unansweredInRow >= kUnansweredForFault;
    settle(Kind::Fault, events);
}

QList<AlarmEvent> AlarmMonitor::sample(const Sample& sample) {
    QList<AlarmEvent> events;
    if (sample.skip == Sample::Skip::FailedCycle)
        return events;  // no answer: told by unanswered()
    unansweredInRow = 0;
    faultStatus = isFaultStatus(sample.status);
    checkFault(&events);
    if (sample.recorded()) {
        const double reading = sample.answer.concentration;
        checkLevel(Kind::Low, current.low, reading, &events);
        checkLevel(Kind::High, current.high, reading, &events);
    }
    return events;
}

QList<AlarmEvent> AlarmMonitor::unanswered() {
    QList<AlarmEvent> events;
    ++unansweredInRow;
    checkFault(&events);
    return events;
}

QList<AlarmEvent> AlarmMonitor::acknowledge() {
    QList<AlarmEvent> events;
    for (Kind kind : {Kind::Low, Kind::High, Kind::Fault}) {
        if (!waitsForAcknowledge(kind))
            continue;
        alarms[int(kind)].acknowledged = true;
        events.append({kind, AlarmChange::Acknowledged});
        settle(kind, &events);
    }
    return events;
}

bool AlarmMonitor::waitsForAcknowledge(Kind kind) const {
    const Alarm& alarm = alarms[int(kind)];
    return alarm.raised && latching(kind) && !alarm.acknowledged;
}

bool AlarmMonitor::waitsForAcknowledge() const {
    return waitsForAcknowledge(Kind::Low) || waitsForAcknowledge(Kind::High) || waitsForAcknowledge(Kind::Fault);
}

presentation::AlarmState AlarmMonitor::state() const {
    using State = presentation::AlarmState;
    if (raised(Kind::Fault))
        return State::Fault;
    if (raised(Kind::High))
        return State::High;
    if (raised(Kind::Low))
        return State::Low;
    return State::None;
}
