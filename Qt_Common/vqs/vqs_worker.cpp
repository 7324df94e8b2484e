// Measurement worker: start, one cycle, stop, and link recovery. Runs on the
// tab's worker thread; the tab drives the loop by queueing doWork after it has
// read each cycle's answer.
#include <QDebug>

#include <cstring>

#include "vqs.h"

namespace {

// The engineering record is at most 100 bytes, but the sensor announces its
// own length (up to 1020 bytes), so receive into room for the largest reply.
constexpr size_t kEngDataRoom = 1024;

// Reconnection attempts after a failed cycle, one second apart.
constexpr int kReconnectAttempts = 10;

}  // namespace

void VQS::startVQS() {
    if (running) {
        qWarning() << sensorName << "- already running";
        return;
    }
    qInfo() << sensorName << "- starting";
    std::strcpy(statusText, "None");

    if (connect() != VQS_SUCCESS || setState(VQS_STATE_IDLE) != VQS_SUCCESS) {
        commFailed = 1;
        emit VQSStopped();
        return;
    }
    sleepMs(10);
    if (setState(VQS_STATE_MEASURING) != VQS_SUCCESS) {
        commFailed = 1;
        emit VQSStopped();
        return;
    }
    if (firmwareVersion[0] > 3)
        sleepMs(500);
    running = true;
    doWork();
}

void VQS::doWork() {
    if (!running)
        return;
    // A stop is pending: end the run here instead of measuring again. This also
    // finishes a stop whose idle command failed, so the run can never be left
    // half-stopped with nothing queued to end it.
    if (stopRequested) {
        stopVQS();
        return;
    }

    VQSStatus result = getAnswer();
    if (result == VQS_SUCCESS) {
        commFailed = 0;
    } else if (stopRequested) {
        // The poll was cut short by a stop request (or failed while one was
        // pending): no recovery, just end the run.
        stopVQS();
        return;
    } else {
        bool recovered = false;
        if (reconnect() == VQS_SUCCESS) {
            commFailed = getAnswer();
            recovered = commFailed == 0;
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
    emit VQSWorkComplete();
}

void VQS::stopVQS() {
    if (!running) {
        qWarning() << sensorName << "- already stopped";
        commFailed = 0;
        return;
    }
    qInfo() << sensorName << "- stopping";
    if (commFailed == 0 && setState(VQS_STATE_IDLE) != VQS_SUCCESS) {
        commFailed = 1;
        return;
    }
    if (disconnect() != VQS_SUCCESS) {
        commFailed = 1;
        return;
    }
    running = false;
    emit VQSStopped();
}

VQSStatus VQS::uartGetAnswer() {
    alignas(4) uint8_t record[kEngDataRoom];
    for (;;) {
        std::memset(record, 0, sizeof(record));
        if (uartGetEngData(record) != VQS_SUCCESS)
            return VQS_FAILURE;
        int32_t status = 0;
        std::memcpy(&status, record, sizeof(status));
        std::memcpy(&sensorCycle, record + 4, sizeof(sensorCycle));
        if (status != 0 || sensorCycle != lastSensorCycle)
            break;
        // The sensor has no new sample yet. Polling has no limit, so a stop
        // request must be honoured here or the queued stop would never run.
        if (stopRequested)
            return VQS_FAILURE;
        sleepMs(500);
        if (stopRequested)
            return VQS_FAILURE;
    }
    lastSensorCycle = sensorCycle;
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
    for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
        // A stop asked for while the link is down ends the recovery at once.
        if (stopRequested)
            return VQS_FAILURE;
        disconnect();
        sleepMs(1000);
        if (connect() == VQS_SUCCESS) {
            emit VQSUpdateTimeLog(QStringLiteral("Cycle %1: Connection Re-established (%2 retries).")
                                      .arg(cycleCount)
                                      .arg(attempt));
            return VQS_SUCCESS;
        }
    }
    emit VQSUpdateTimeLog(QStringLiteral("Cycle %1: Re-connection failed - giving up after %2 retries!")
                              .arg(cycleCount)
                              .arg(kReconnectAttempts));
    return VQS_FAILURE;
}

void VQS::postCycleDelay() {
    if (firmwareVersion[0] <= 3)
        sleepMs(sensorInfo.sensorType == 5 ? 900 : 1900);
    else
        sleepMs(sensorCycle > 0 ? 1900 : 900);
}
