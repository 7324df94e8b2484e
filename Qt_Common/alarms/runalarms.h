// The alarms of one run session: a subscriber of the session that feeds its
// cycles to an AlarmMonitor and writes each change of alarm state to the run's
// time log ("Cycle 41: High alarm raised (40.512 s)"). Each run starts with
// no alarm raised; the levels count only in the unit they were set in.
// Lives on the session's thread; no widgets (the page shows and sounds them).
#pragma once

#include <QObject>
#include <QPointer>

#include "alarmmonitor.h"
#include "runsession.h"

class RunAlarms : public QObject {
    Q_OBJECT
public:
    explicit RunAlarms(RunSession& session, QObject* parent = nullptr);

    // New set-points, applied at once (an alarm switched off is cleared).
    void setSettings(const AlarmSettings& settings);
    const AlarmSettings& settings() const { return monitor_.settings(); }
    void acknowledge();
    const AlarmMonitor& monitor() const { return monitor_; }

signals:
    // Any change of alarm state, after it was logged.
    void changed();
    // An alarm was raised and the settings ask for a sound.
    void soundWanted();

private:
    // Whether levels set in `unit` count in the run's unit.
    bool levelsApply(int unit) const;
    void apply(const QList<AlarmEvent>& events, double seconds);

    QPointer<RunSession> session_;  // the page may end its session first
    AlarmMonitor monitor_;
    RunSession::State last_ = RunSession::State::Idle;
};
