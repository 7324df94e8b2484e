// One measurement cycle as a value: everything a cycle yields, copied once on
// the worker thread when the cycle ends and handed on by value, so nobody
// reads the sensor object's fields while its worker runs.
#pragma once

#include <QMetaType>
#include <QString>

#include <cstdint>

#include "vqs_records.h"

struct Sample {
    // Why a cycle gives no row.
    enum class Skip : uint8_t {
        None,            // recorded
        FailedCycle,     // no new, good answer (it would repeat the last sample)
        SensorStarting,  // before the first row, a temperature or pressure of exactly zero
    };

    answer_t answer{};
    float analogOut = 0.0f;
    uint8_t status = 0;  // the reply header's sensor status code
    QString statusText;  // the sensor's own status text
    int32_t sensorCycle = -1;  // the sensor's sample number (UART)
    // Recorded cycles of the run so far, this one included when it is recorded.
    uint32_t cycleCount = 0;
    // The Cycle column: the sensor's sample number, or over USB (which reports
    // none) the run's own count.
    int32_t cycle = 0;
    // When the reply arrived: the monotonic clock of QElapsedTimer (ms since
    // its reference, comparable with QElapsedTimer::msecsSinceReference()) and
    // UTC ms since the epoch.
    qint64 steadyMs = 0;
    qint64 utcMs = 0;
    Skip skip = Skip::FailedCycle;
    int transport = 0;  // 0 USB framing, 1 UART framing
    bool v3Answer = false;

    bool recorded() const { return skip == Skip::None; }

    // Whether a finished cycle gives a row: only one that brought a new answer,
    // and until the first row, not one whose temperature or pressure reads
    // exactly zero (a sensor still starting).
    static Skip recordRule(bool freshAnswer, uint32_t rowsSoFar, const answer_t& answer) {
        if (!freshAnswer)
            return Skip::FailedCycle;
        if (rowsSoFar == 0 && (answer.temperature == 0.0f || answer.pressure == 0.0f))
            return Skip::SensorStarting;
        return Skip::None;
    }
};

Q_DECLARE_METATYPE(Sample)
