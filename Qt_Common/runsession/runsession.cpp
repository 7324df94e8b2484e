#include "runsession.h"

#include <QElapsedTimer>
#include <QThread>

#include <cmath>

#include "gasmarks.h"
#include "portlister.h"
#include "presentation.h"
#include "runrecorder.h"
#include "vqs.h"

RunSession::RunSession(RunRecorder* runRecorder, const QElapsedTimer* runClock, QObject* parent)
    : QObject(parent), device(new VQS()), worker(new QThread()), recorder(runRecorder), clock(runClock) {
    // The ports a lost sensor may have moved to: the scan's candidates of the
    // sensor's framing. Asked on the worker thread, during recovery only.
    VQS* sensor = device;
    device->candidatePorts = [sensor]() { return PortLister::candidatePaths(sensor->transport); };

    connect(device, &VQS::VQSSample, this, &RunSession::deliver, Qt::QueuedConnection);
    connect(device, &VQS::VQSRunEnded, this, &RunSession::finish, Qt::QueuedConnection);
    // Restarts and reconnections belong in the run's time log.
    connect(
        device, &VQS::VQSUpdateTimeLog, this, [this](QString event) { recorder->writeTimeLog(event); },
        Qt::QueuedConnection);
    connect(
        device, &VQS::VQSRecovering, this,
        [this] {
            if (active)
                setState(State::Recovering);
        },
        Qt::QueuedConnection);
    connect(
        device, &VQS::VQSCycleUnanswered, this,
        [this] {
            if (active)
                emit cycleUnanswered(++unansweredInRow);
        },
        Qt::QueuedConnection);
    connect(device, &VQS::VQSPortMoved, this, &RunSession::portMoved, Qt::QueuedConnection);

    device->moveToThread(worker);
    worker->start(QThread::InheritPriority);
}

RunSession::~RunSession() {
    shutDown();
}

void RunSession::shutDown(unsigned long waitMs) {
    if (!device)
        return;
    QObject::disconnect(device, nullptr, this, nullptr);
    shutDownSensorThread(device, worker, waitMs);
    device = nullptr;
    worker = nullptr;
    active = false;
}

uint8_t RunSession::runUnitCode(bool ppm, bool volUnit, bool iecScale) {
    if (ppm)
        return presentation::UnitPpm;
    if (volUnit)
        return presentation::UnitVol;
    return iecScale ? presentation::UnitLelIec : presentation::UnitLelIso;
}

QString RunSession::unitText(uint8_t code) {
    const char* text = presentation::unitName(code);
    return text ? QString(QLatin1String(text)) : QString();
}

QString RunSession::gasText(uint32_t id) {
    return presentation::gasText(id);
}

QString RunSession::concentrationText(double concentration, bool ppm) {
    return ppm ? QString::number(static_cast<int>(concentration)) : QString::number(concentration, 'f', 1);
}

void RunSession::setUnit(uint8_t code, bool ppm) {
    unit = code;
    inPpm = ppm;
    if (device)
        device->concUnit = code;
}

void RunSession::begin() {
    if (!device)
        return;
    active = true;
    lastFailed = false;
    unansweredInRow = 0;
    // Lowered before the start is queued; only a later stop request raises it.
    device->stopRequested = false;
    setState(State::Running);
    QMetaObject::invokeMethod(device, "startVQS", Qt::QueuedConnection);
    recorder->writeTimeLog(QStringLiteral("Started"));
}

void RunSession::requestStop() {
    if (!device)
        return;
    // Raised before the queued stop, so a UART cycle waiting for a new sample
    // ends within one poll and lets the stop run.
    device->stopRequested = true;
    QMetaObject::invokeMethod(device, "stopVQS", Qt::QueuedConnection);
}

void RunSession::deliver(const Sample& sample) {
    if (!device)
        return;
    if (sample.skip != Sample::Skip::FailedCycle)
        unansweredInRow = 0;
    if (sample.recorded()) {
        rowCount = sample.cycleCount;
        lastSeconds = clock && clock->isValid() ? double(sample.steadyMs - clock->msecsSinceReference()) / 1000.0 : 0.0;
        recorder->writeDataRow(lastSeconds, sample);
        if (current == State::Recovering)
            setState(State::Running);
    }
    emit sampleArrived(sample);
    // The next cycle is asked for only once this one was handed on: the
    // sensor is never asked faster than its samples are taken.
    if (device)
        QMetaObject::invokeMethod(device, "doWork", Qt::QueuedConnection);
}

void RunSession::finish(bool failed) {
    const bool lost = failed && !(device && device->stopRequested);
    active = false;
    lastFailed = failed;
    recorder->writeTimeLog(QStringLiteral("Stopped"));
    recorder->closeRunFiles();
    setState(lost ? State::Lost : State::Idle);
    emit runEnded(failed, lost);
}

const char* const RunSession::kGasOn = "Gas on";
const char* const RunSession::kGasOff = "Gas off";

bool RunSession::mark(const QString& what) {
    const QString text = what.simplified();
    if (!active || text.isEmpty())
        return false;
    GasMark::Kind kind = GasMark::Note;
    if (text == QLatin1String(kGasOn))
        kind = GasMark::GasOn;
    else if (text == QLatin1String(kGasOff))
        kind = GasMark::GasOff;
    // Timed by the same clock as the rows, so the mark sits among them exactly.
    const double seconds = clock && clock->isValid() ? double(clock->elapsed()) / 1000.0 : 0.0;
    const QString event = gasMarkEvent(kind, int(rowCount), seconds, text);
    recorder->writeTimeLog(event);
    emit markMade(seconds, event, text);
    return true;
}

bool RunSession::logAlarm(const QString& text, double seconds) {
    if (!active || text.isEmpty())
        return false;
    if (std::isnan(seconds))
        seconds = clock && clock->isValid() ? double(clock->elapsed()) / 1000.0 : 0.0;
    const QString event = gasMarkEvent(GasMark::Note, int(rowCount), seconds, text);
    recorder->writeTimeLog(event);
    emit alarmLogged(seconds, event, text);
    return true;
}

void RunSession::resetRows() {
    rowCount = 0;
    lastSeconds = 0;
}

void RunSession::setState(State state) {
    if (current == state)
        return;
    current = state;
    emit stateChanged(state);
}
