// Publishes one run session to a broker: a consumer that is one subscription to
// a RunSession. The sensor's identity (retained) when a run starts, its state
// (retained) on every change, one cycle document per recorded Sample, and
// events for the run's start and end, for a connection lost and regained, for
// each gas mark ("Gas on", "Gas off") or note made during the run and for each
// change of alarm state.
// Publisher::publish() only queues, so the session is never held up.
// Lives on the session's thread.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <limits>

#include "messages.h"
#include "runsession.h"

class Publisher;
struct Sample;

class RunPublisher : public QObject {
    Q_OBJECT
public:
    // `identity.sensor` names the sensor in the topics; the bench is the publisher's.
    RunPublisher(Publisher& publisher, RunSession& session, IdentityMessage identity, QObject* parent = nullptr);

    // What is known of the sensor changed (the page identified another one):
    // published with the next run's start.
    void setIdentity(const IdentityMessage& identity) { identity_ = identity; }
    // Asked for the identity at each run's start instead (while the sensor is
    // still idle, so its fields may be read).
    void setIdentitySource(std::function<IdentityMessage()> source) { identitySource_ = std::move(source); }
    QString sensor() const { return identity_.sensor; }
    // Publishing begins while the session's run is under way: the identity set
    // and the state go out now, and its cycles follow under that name.
    void joinRun();

    // The cycle document of a recorded Sample; `seconds` is its time column.
    static CycleMessage cycleOf(const Sample& sample, const QString& sensor, double seconds, uint8_t unitCode);
    static SensorState stateOf(RunSession::State state);

private:
    void onState(RunSession::State state);
    void onSample(const Sample& sample);
    void onMark(double seconds, const QString& label);
    // `seconds`: the run time it happened at; NaN: now, on the run's clock.
    void sendEvent(EventType type, const QString& text, double seconds = std::numeric_limits<double>::quiet_NaN());

    Publisher& publisher_;
    RunSession& session_;
    IdentityMessage identity_;
    std::function<IdentityMessage()> identitySource_;
    RunSession::State last_ = RunSession::State::Idle;
    qint64 runStartUtcMs_ = -1;  // -1 outside a run
};
