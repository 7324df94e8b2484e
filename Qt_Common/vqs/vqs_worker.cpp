// Measurement worker: start, one cycle, stop, and link recovery. Runs on the
// run's worker thread; each cycle ends with its Sample, and the run session
// drives the loop by queueing doWork once it has handed that Sample on.
#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "vqs.h"

namespace {

// The engineering record is at most 100 bytes, but the sensor announces its
// own length (up to 1020 bytes), so receive into room for the largest reply.
constexpr size_t kEngDataRoom = 1024;

// Reconnection attempts after a failed cycle, one second apart.
constexpr int kReconnectAttempts = 10;

// A USB sensor holds its answer until it has a new sample, which paces the
// run; one that answers at once must still not be asked flat out (nor fill
// the run files). This is the shortest spacing the UART cycle has.
constexpr int64_t kUsbCycleSpacingMs = 900;

// Worker pauses are taken in slices so that a stop request ends them early.
constexpr unsigned kPauseSliceMs = 50;

// A UART sensor whose sample number stands still this long (status or not) has
// stopped measuring: the cycle fails, so recovery tells it to measure again or
// gives it up, instead of polling for ever. Many times the slowest sample cycle.
constexpr int64_t kSampleStallMs = 60000;

int64_t steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// "ttyACM1" of "/dev/ttyACM1", "COM7" of "\\.\COM7": the name users know the port by.
std::string portLabel(const std::string& location) {
    const size_t cut = location.find_last_of("/\\");
    return cut == std::string::npos ? location : location.substr(cut + 1);
}

}  // namespace

void VQS::startVQS() {
    if (running) {
        qWarning() << logName() << "- already running";
        return;
    }
    qInfo() << logName() << "- starting";
    std::strcpy(statusText, "None");

    if (connect() != VQS_SUCCESS || enterMeasuring() != VQS_SUCCESS) {
        commFailed = 1;
        emitStopped(true);
        return;
    }
    running = true;
    lastUsbCycleMs = -1;
    runHasSample = false;
    awaitNewSample = false;
    doWork();
}

VQSStatus VQS::enterMeasuring() {
    if (setState(VQS_STATE_IDLE) != VQS_SUCCESS)
        return VQS_FAILURE;
    sleepMs(10);
    if (setState(VQS_STATE_MEASURING) != VQS_SUCCESS)
        return VQS_FAILURE;
    measuringJustSent = true;
    if (firmwareVersion[0] > 3)
        pauseUnlessStopped(500);
    return VQS_SUCCESS;
}

void VQS::doWork() {
    if (!running)
        return;
    freshAnswer = false;
    replySteadyMs = -1;
    // A stop is pending: end the run here instead of measuring again. This also
    // finishes a stop whose idle command failed, so the run can never be left
    // half-stopped with nothing queued to end it.
    if (stopRequested || (cyclesPaced() && !paceUsbCycle())) {
        stopVQS();
        return;
    }

    VQSStatus result = getAnswer();
    if (result == VQS_SUCCESS) {
        if (replySteadyMs < 0)
            markReply();
        commFailed = 0;
        freshAnswer = true;
    } else if (stopRequested) {
        // The poll was cut short by a stop request (or failed while one was
        // pending): no recovery, just end the run.
        stopVQS();
        return;
    } else {
        emit VQSCycleUnanswered();
        emit VQSRecovering();
        bool recovered = false;
        if (reconnect() == VQS_SUCCESS) {
            commFailed = getAnswer();
            recovered = commFailed == 0;
            if (!recovered)
                emit VQSCycleUnanswered();
            if (recovered && replySteadyMs < 0)
                markReply();
        }
        freshAnswer = recovered;
        if (!recovered && stopRequested) {
            stopDuringRecovery();
            return;
        }
        if (!recovered) {
            commFailed = 1;
            stopVQS();
            // Texts of at most 63 and 255 characters, as the notification's
            // receivers have always been given.
            const QString subject = QString::asprintf("Tarn Comm Failed: sensor '%s'", sensorName).left(63);
            const QString message =
                QString::asprintf("Communication failed after %d cycles (%d retries and %llu bytes received).",
                                  static_cast<int>(cycleCount), static_cast<int>(retransmissions),
                                  static_cast<unsigned long long>(rxBytes))
                    .left(255);
            emit VQSEventNotification(subject, message);
        }
    }
    // The analog output belongs to the cycle's row. It is asked here, on the
    // worker thread, so a sensor that does not answer holds up only its own
    // run; a failed query leaves the last value.
    if (freshAnswer && !stopRequested)
        getAnalogOut();
    emit VQSSample(takeSample());
    emit VQSWorkComplete();
}

Sample VQS::takeSample() {
    Sample sample;
    sample.skip = Sample::recordRule(freshAnswer, cycleCount, answer);
    if (sample.recorded())
        ++cycleCount;
    if (replySteadyMs < 0)
        markReply();
    sample.answer = answer;
    sample.analogOut = analogOut;
    sample.status = lastReplyHeader.status;
    sample.statusText = QString::fromLatin1(statusText);
    sample.sensorCycle = sensorCycle;
    sample.cycleCount = cycleCount;
    sample.cycle = transport == 0 ? static_cast<int32_t>(cycleCount) : sensorCycle;
    sample.steadyMs = replySteadyMs;
    sample.utcMs = replyUtcMs;
    sample.transport = transport;
    sample.v3Answer = v3Answer;
    replySteadyMs = -1;
    return sample;
}

void VQS::markReply() {
    QElapsedTimer now;
    now.start();
    replySteadyMs = now.msecsSinceReference();
    replyUtcMs = QDateTime::currentMSecsSinceEpoch();
}

void VQS::emitStopped(bool failed) {
    emit VQSRunEnded(failed);
    emit VQSStopped();
}

void VQS::stopVQS() {
    if (!running) {
        qWarning() << logName() << "- already stopped";
        commFailed = 0;
        return;
    }
    qInfo() << logName() << "- stopping";
    if (commFailed == 0 && setState(VQS_STATE_IDLE) != VQS_SUCCESS) {
        commFailed = 1;
        return;
    }
    if (disconnect() != VQS_SUCCESS) {
        commFailed = 1;
        return;
    }
    running = false;
    emitStopped(commFailed != 0);
}

void VQS::stopDuringRecovery() {
    // The user ended the run while its sensor was being looked for: nothing
    // failed that needs reporting. A sensor back at the run's port may have
    // been told to measure already, so it is set idle if it answers there as
    // the run's own; one that is gone is left to whoever plugs it in again.
    qInfo() << logName() << "- stopping during recovery";
    const uint8_t retries = retryCount;
    retryCount = 0;  // who answers is asked once, as in a recovery attempt
    const bool ours = connect() == VQS_SUCCESS && runSensorAnswers();
    retryCount = retries;
    if (ours && setState(VQS_STATE_IDLE) != VQS_SUCCESS)
        qWarning() << logName() << "- could not be set idle at" << portPath.c_str();
    if (disconnect() != VQS_SUCCESS) {
        // The next queued stop or cycle closes it; the idle command is not sent again.
        commFailed = 1;
        return;
    }
    commFailed = 0;
    running = false;
    emitStopped(false);
}

VQSStatus VQS::uartGetAnswer() {
    alignas(4) uint8_t record[kEngDataRoom];
    const int64_t pollStart = steadyMs();
    for (;;) {
        std::memset(record, 0, sizeof(record));
        if (uartGetEngData(record) != VQS_SUCCESS)
            return VQS_FAILURE;
        int32_t status = 0;
        std::memcpy(&status, record, sizeof(status));
        std::memcpy(&sensorCycle, record + 4, sizeof(sensorCycle));
        if (runHasSample && sensorCycle < lastSensorCycle) {
            // The counter started again: the sensor lost power and came back,
            // idle. What it holds now was not measured for this run; it is told
            // to measure (unless that was just done) and its next sample counts.
            qWarning() << logName() << "- restarted: sample" << sensorCycle << "after" << lastSensorCycle;
            emit VQSUpdateTimeLog(QStringLiteral("Cycle %1: Sensor restarted (sample %2 after %3).")
                                      .arg(cycleCount)
                                      .arg(sensorCycle)
                                      .arg(lastSensorCycle));
            lastSensorCycle = sensorCycle;
            awaitNewSample = true;
            if (!measuringJustSent && enterMeasuring() != VQS_SUCCESS)
                return VQS_FAILURE;
        }
        if (sensorCycle != lastSensorCycle || (status != 0 && !awaitNewSample))
            break;
        if (steadyMs() - pollStart > kSampleStallMs) {
            qWarning() << logName() << "- no new sample for" << kSampleStallMs / 1000 << "s";
            return VQS_FAILURE;
        }
        // The sensor has no new sample yet. A stop request must be honoured
        // here or the queued stop would wait for the whole poll.
        if (!pauseUnlessStopped(500))
            return VQS_FAILURE;
    }
    lastSensorCycle = sensorCycle;
    runHasSample = true;
    awaitNewSample = false;
    measuringJustSent = false;
    markReply();
    std::memset(&answer, 0, sizeof(answer));
    if (v3Answer) {
        flam_data_v3_t data;
        std::memcpy(&data, record, sizeof(data));
        uartEngDataToVerboseAnswerV3(&data);
    } else {
        flam_data_t data;
        std::memcpy(&data, record, sizeof(data));
        uartEngDataToVerboseAnswer(&data);
    }
    postCycleDelay();
    return VQS_SUCCESS;
}

VQSStatus VQS::reconnect() {
    const std::string home = location();
    // A replugged sensor comes back at its old place or on a port that
    // appeared since the loss. Ports listed at the loss and still listed are
    // other instruments: they are never sent a request. One that leaves the
    // list may come back carrying the sensor, so it stops counting as standing.
    std::vector<std::string> standing = candidatePorts ? candidatePorts() : std::vector<std::string>();
    auto listed = [](const std::vector<std::string>& ports, const std::string& port) {
        return std::find(ports.begin(), ports.end(), port) != ports.end();
    };
    for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
        // A stop asked for while the link is down ends the recovery at once.
        if (stopRequested)
            return VQS_FAILURE;
        disconnect();
        if (!pauseUnlessStopped(1000))
            return VQS_FAILURE;
        if (reopenAt(home)) {
            emit VQSUpdateTimeLog(QStringLiteral("Cycle %1: Connection Re-established (%2 retries).")
                                      .arg(cycleCount)
                                      .arg(attempt));
            return VQS_SUCCESS;
        }
        const std::vector<std::string> now = candidatePorts ? candidatePorts() : std::vector<std::string>();
        standing.erase(std::remove_if(standing.begin(), standing.end(),
                                      [&](const std::string& port) { return !listed(now, port); }),
                       standing.end());
        for (const std::string& other : now) {
            if (other == home || listed(standing, other) || stopRequested)
                continue;
            if (reopenAt(other)) {
                emit VQSUpdateTimeLog(QStringLiteral("Cycle %1: Connection Re-established on %2 (%3 retries).")
                                          .arg(cycleCount)
                                          .arg(QString::fromStdString(portLabel(other)))
                                          .arg(attempt));
                emit VQSPortMoved(QString::fromStdString(other));
                return VQS_SUCCESS;
            }
        }
        if (!stopRequested)
            emit VQSCycleUnanswered();
    }
    emit VQSUpdateTimeLog(QStringLiteral("Cycle %1: Re-connection failed - giving up after %2 retries!")
                              .arg(cycleCount)
                              .arg(kReconnectAttempts));
    return VQS_FAILURE;
}

bool VQS::reopenAt(const std::string& where) {
    const std::string previousPath = portPath;
    portPath = where;
    // Who answers is asked once per attempt: a silent port would otherwise
    // cost every retry's time-out, and the next attempt asks again anyway.
    const uint8_t retries = retryCount;
    retryCount = 0;
    bool found = false;
    // What the broken exchange left in the line is dropped before the name
    // request goes out, as before every request.
    if (connect() == VQS_SUCCESS)
        found = runSensorAnswers();
    retryCount = retries;
    if (found) {
        // A sensor whose cable also carried its power is back idle. The run
        // goes on only once it measures again, with the run's unit, and only
        // with samples taken since.
        if (enterMeasuring() == VQS_SUCCESS) {
            awaitNewSample = true;
            return true;
        }
        qWarning() << logName() << "- answers at" << where.c_str() << "but does not measure";
    }
    disconnect();
    portPath = previousPath;
    return false;
}

bool VQS::runSensorAnswers() {
    // The name query fills the identity records; whatever answers, the run's
    // identity and status stay as they were.
    char runName[sizeof(sensorName)];
    char runMcuId[sizeof(mcuId)];
    char runSku[sizeof(sensorSku)];
    char runStatus[sizeof(statusText)];
    const sensorInfo_t runInfo = sensorInfo;
    const uartReplyHeader_t runHeader = lastReplyHeader;
    std::memcpy(runName, sensorName, sizeof(runName));
    std::memcpy(runMcuId, mcuId, sizeof(runMcuId));
    std::memcpy(runSku, sensorSku, sizeof(runSku));
    std::memcpy(runStatus, statusText, sizeof(runStatus));
    // Names are set by users and travel with a copied parameter set, so two
    // sensors may share one. Where the reply carries the chip's MCU id (UART
    // sensor information) and the run knows its own, that must match too; a
    // reply without one cannot show it is the run's chip.
    std::memset(mcuId, 0, sizeof(mcuId));
    const bool answered = getSensorName() == VQS_SUCCESS;
    const bool sameName = answered && std::strncmp(sensorName, runName, sizeof(runName)) == 0;
    const bool sameChip = runMcuId[0] == '\0' || std::strncmp(mcuId, runMcuId, sizeof(runMcuId)) == 0;
    const bool same = sameName && sameChip;
    if (answered && !same)
        qWarning() << runName << "- another sensor answers at" << portPath.c_str() << ":" << sensorName
                   << "MCU ID" << mcuId;
    std::memcpy(sensorName, runName, sizeof(runName));
    std::memcpy(mcuId, runMcuId, sizeof(runMcuId));
    std::memcpy(sensorSku, runSku, sizeof(runSku));
    std::memcpy(statusText, runStatus, sizeof(runStatus));
    sensorInfo = runInfo;
    lastReplyHeader = runHeader;
    return same;
}

std::string VQS::location() const {
    if (!portPath.empty())
        return portPath;
    char comPath[32];
    std::snprintf(comPath, sizeof(comPath), "\\\\.\\COM%d", portNumber);
    return comPath;
}

bool VQS::paceUsbCycle() {
    const int64_t since = steadyMs() - lastUsbCycleMs;
    if (lastUsbCycleMs >= 0 && since < kUsbCycleSpacingMs &&
        !pauseUnlessStopped(static_cast<unsigned>(kUsbCycleSpacingMs - since)))
        return false;
    lastUsbCycleMs = steadyMs();
    return true;
}

bool VQS::pauseUnlessStopped(unsigned ms) {
    while (ms > 0) {
        if (stopRequested)
            return false;
        const unsigned slice = std::min(ms, kPauseSliceMs);
        sleepMs(slice);
        ms -= slice;
    }
    return !stopRequested;
}

void VQS::postCycleDelay() {
    if (firmwareVersion[0] <= 3)
        pauseUnlessStopped(sensorInfo.sensorType == 5 ? 900 : 1900);
    else
        pauseUnlessStopped(sensorCycle > 0 ? 1900 : 900);
}

void shutDownSensorThread(VQS* sensor, QThread* thread, unsigned long waitMs) {
    // The stop runs on the worker thread after whatever cycle is under way;
    // the request flag cuts a sample poll short. Quitting from the same
    // queued call makes sure the stop ran before the loop ends.
    sensor->stopRequested = true;
    QMetaObject::invokeMethod(
        sensor,
        [sensor]() {
            if (sensor->isRunning())
                sensor->stopVQS();
            if (sensor->isRunning())  // the idle command failed: close the port anyway
                sensor->stopVQS();
            if (sensor->portOpen)
                sensor->disconnect();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (thread->wait(waitMs)) {
        delete sensor;
        delete thread;
        return;
    }
    // Never free an object a running thread still uses: let the thread
    // release it when it finally ends.
    qWarning() << sensor->sensorName << "- worker did not stop in time; releasing it when it ends";
    QObject::connect(thread, &QThread::finished, sensor, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->quit();
}
