// The documents a bench publishes, built from plain structs so that whatever
// records a run can fill them in. Numbers are written in JSON's own notation
// (never the process locale); a sensor's float readings keep their shortest
// form (23.4, not 23.399999618530273); NaN becomes null.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cmath>
#include <limits>

// One recorded cycle: the run table's row and what goes with it.
struct CycleMessage {
    QString bench;
    QString sensor;
    double time = 0;        // seconds since the run's start
    qint64 cycle = 0;       // the table's Cycle column
    qint64 runCycle = 0;    // the run's own count of recorded cycles: 1, 2, 3, ...
    qint64 sample = -1;     // the sensor's own sample number; -1 where it reports none
    float temperature = std::numeric_limits<float>::quiet_NaN();  // C
    float pressure = std::numeric_limits<float>::quiet_NaN();     // kPa
    float humidity = std::numeric_limits<float>::quiet_NaN();     // %
    int gasId = 0;
    QString gas;            // the gas's name
    float concentration = std::numeric_limits<float>::quiet_NaN();
    QString unit;           // "%LEL(ISO)", "PPM", ...
    int status = 0;         // the sensor's status code
    QString statusText;
    qint64 utcMs = 0;       // when the reply came, milliseconds since 1970 UTC
};

// Retained: what the sensor is. Empty texts are written as null (not known).
struct IdentityMessage {
    QString bench;
    QString sensor;
    QString type;
    QString sku;
    QString firmware;
    QString mcuId;
    QString port;
};

enum class SensorState { Idle, Running, Recovering, Lost, Offline };
const char* sensorStateWord(SensorState state);  // "idle", "running", ...

enum class EventType {
    RunStarted,
    RunStopped,
    RunSaved,
    ConnectionLost,
    ConnectionReestablished,
    Alarm,
    GasMark,
    Note,
};
const char* eventTypeWord(EventType type);  // "run-started", "run-stopped", ...

struct EventMessage {
    QString bench;
    QString sensor;
    EventType type = EventType::Note;
    QString text;
    double time = std::numeric_limits<double>::quiet_NaN();  // run seconds; NaN outside a run
    qint64 utcMs = 0;
};

namespace messages {

QByteArray cycleJson(const CycleMessage& message);
QByteArray identityJson(const IdentityMessage& message);
QByteArray eventJson(const EventMessage& message);

}  // namespace messages
