#include "runalarms.h"

#include <limits>

#include "sample.h"

RunAlarms::RunAlarms(RunSession& session, QObject* parent)
    : QObject(parent), session_(&session), last_(session.state()) {
    // Direct connections: the session's own thread, each cycle's changes
    // logged before the next cycle is asked for.
    connect(&session, &RunSession::sampleArrived, this,
            [this](const Sample& sample) {
                // A recorded cycle's changes carry its row's time; others the clock's.
                apply(monitor_.sample(sample),
                      sample.recorded() ? session_->lastTime() : std::numeric_limits<double>::quiet_NaN());
            });
    connect(&session, &RunSession::cycleUnanswered, this, [this](int) {
        apply(monitor_.unanswered(), std::numeric_limits<double>::quiet_NaN());
    });
    connect(&session, &RunSession::stateChanged, this, [this](RunSession::State state) {
        const RunSession::State before = last_;
        last_ = state;
        if (state != RunSession::State::Running ||
            (before != RunSession::State::Idle && before != RunSession::State::Lost))
            return;
        // A new run, in its own unit: the last run's alarms do not carry over.
        monitor_.reset();
        monitor_.configure(monitor_.settings(), levelsApply(monitor_.settings().unit));
        emit changed();
    });
}

bool RunAlarms::levelsApply(int unit) const {
    // Between runs the next run's unit is not known yet: its start decides.
    return unit == AlarmSettings::kNoUnit || !session_ || !session_->isRunning() ||
           unit == int(session_->unitCode());
}

void RunAlarms::setSettings(const AlarmSettings& settings) {
    const AlarmSettings before = monitor_.settings();
    const QList<AlarmEvent> events = monitor_.configure(settings, levelsApply(settings.unit));
    apply(events, std::numeric_limits<double>::quiet_NaN());
    if (events.isEmpty() && !(before == settings))
        emit changed();  // what the page says of them may differ
}

void RunAlarms::acknowledge() {
    apply(monitor_.acknowledge(), std::numeric_limits<double>::quiet_NaN());
}

void RunAlarms::apply(const QList<AlarmEvent>& events, double seconds) {
    if (events.isEmpty())
        return;
    bool raisedOne = false;
    for (const AlarmEvent& event : events) {
        // Outside a run there is no time log; the change is still shown.
        if (session_)
            session_->logAlarm(presentation::alarmEventText(event.kind, event.change), seconds);
        raisedOne = raisedOne || event.change == presentation::AlarmChange::Raised;
    }
    emit changed();
    if (raisedOne && monitor_.settings().sound)
        emit soundWanted();
}
