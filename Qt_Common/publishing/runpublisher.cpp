#include "runpublisher.h"

#include <QDateTime>

#include <cmath>

#include "presentation.h"
#include "publisher.h"
#include "sample.h"

RunPublisher::RunPublisher(Publisher& publisher, RunSession& session, IdentityMessage identity, QObject* parent)
    : QObject(parent), publisher_(publisher), session_(session), identity_(std::move(identity)),
      last_(session.state()) {
    // Direct connections: the session's own thread, and publishing only queues.
    connect(&session, &RunSession::stateChanged, this, &RunPublisher::onState);
    connect(&session, &RunSession::sampleArrived, this, &RunPublisher::onSample);
    // Alarm changes as the time log has them ("High alarm raised").
    connect(&session, &RunSession::alarmLogged, this,
            [this](double, const QString&, const QString& text) { sendEvent(EventType::Alarm, text); });
    connect(&session, &RunSession::markMade, this,
            [this](double seconds, const QString&, const QString& label) { onMark(seconds, label); });
    connect(&session, &RunSession::portMoved, this, [this](const QString& path) {
        identity_.port = path;
        publisher_.publishIdentity(identity_);
    });
}

SensorState RunPublisher::stateOf(RunSession::State state) {
    switch (state) {
        case RunSession::State::Running:
            return SensorState::Running;
        case RunSession::State::Recovering:
            return SensorState::Recovering;
        case RunSession::State::Lost:
            return SensorState::Lost;
        case RunSession::State::Idle:
            break;
    }
    return SensorState::Idle;
}

CycleMessage RunPublisher::cycleOf(const Sample& sample, const QString& sensor, double seconds, uint8_t unitCode) {
    const answer_t& a = sample.answer;
    CycleMessage m;
    m.sensor = sensor;
    m.time = seconds;
    m.cycle = sample.cycle;
    m.runCycle = sample.cycleCount;
    m.sample = sample.sensorCycle >= 0 ? sample.sensorCycle : -1;
    m.temperature = a.temperature;
    m.pressure = a.pressure;
    m.humidity = a.humidity;
    m.gasId = int(a.gasId);
    m.gas = RunSession::gasText(a.gasId);
    m.concentration = a.concentration;
    m.unit = RunSession::unitText(unitCode);
    m.status = sample.status;
    // The page's status line on one line, as vqs-ctl prints it.
    m.statusText = presentation::statusLine(sample.status, sample.statusText)
                       .text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                       .join(QLatin1Char(' '));
    m.utcMs = sample.utcMs;
    return m;
}

void RunPublisher::onState(RunSession::State state) {
    const RunSession::State before = last_;
    last_ = state;
    const bool starts = state == RunSession::State::Running &&
                        (before == RunSession::State::Idle || before == RunSession::State::Lost);
    if (starts) {
        runStartUtcMs_ = QDateTime::currentMSecsSinceEpoch();
        if (identitySource_)
            identity_ = identitySource_();
        publisher_.publishIdentity(identity_);
    }
    publisher_.publishState(identity_.sensor, stateOf(state));
    if (starts) {
        sendEvent(EventType::RunStarted, QStringLiteral("Started"));
    } else if (state == RunSession::State::Recovering) {
        sendEvent(EventType::ConnectionLost, QStringLiteral("connection to the sensor lost; trying to reconnect"));
    } else if (state == RunSession::State::Running && before == RunSession::State::Recovering) {
        sendEvent(EventType::ConnectionReestablished, QStringLiteral("connection to the sensor re-established"));
    } else if (state == RunSession::State::Lost || state == RunSession::State::Idle) {
        sendEvent(EventType::RunStopped,
              state == RunSession::State::Lost ? QStringLiteral("Stopped: the sensor was lost")
                                               : QStringLiteral("Stopped"));
        runStartUtcMs_ = -1;
    }
}

void RunPublisher::joinRun() {
    if (session_.state() == RunSession::State::Idle)
        return;
    runStartUtcMs_ = QDateTime::currentMSecsSinceEpoch() - qint64(session_.lastTime() * 1000.0);
    publisher_.publishIdentity(identity_);
    publisher_.publishState(identity_.sensor, stateOf(session_.state()));
}

void RunPublisher::onSample(const Sample& sample) {
    if (!sample.recorded())
        return;
    publisher_.publishCycle(cycleOf(sample, identity_.sensor, session_.lastTime(), session_.unitCode()));
}

void RunPublisher::onMark(double seconds, const QString& label) {
    const bool gas = label == QLatin1String(RunSession::kGasOn) || label == QLatin1String(RunSession::kGasOff);
    // Timed as the time log has it, among the rows.
    sendEvent(gas ? EventType::GasMark : EventType::Note, label, seconds);
}

void RunPublisher::sendEvent(EventType type, const QString& text, double seconds) {
    EventMessage m;
    m.sensor = identity_.sensor;
    m.type = type;
    m.text = text;
    m.utcMs = QDateTime::currentMSecsSinceEpoch();
    if (std::isfinite(seconds))
        m.time = seconds;
    else if (runStartUtcMs_ >= 0)
        m.time = double(m.utcMs - runStartUtcMs_) / 1000.0;
    publisher_.publishEvent(m);
}
