// One table of what the user reads: the status line by sensor status code,
// the colours that go with it, gas names, unit names, the run table's
// concentration column and the states of a sensor page. Every view and
// vqs-ctl take their texts from here, so they cannot drift apart.
#pragma once

#include <QString>

#include <cstdint>

namespace presentation {

// ---- colours ----
enum class Tone { Green, Orange, Red, Black };

const char* colourName(Tone tone);  // "#26A65B", "#F89406", "#Ff0000", "#000000"
// The page's style sheet for a status label in that colour.
QString labelStyle(Tone tone);

// ---- status line ----
enum class StatusKind { Ok, Starting, Fault, Idle };

struct StatusLine {
    QString text;
    Tone tone;
    StatusKind kind;
};

// What the status line says for a reply's status code: the program's own
// words for a good reply and the start-up codes, else the sensor's own status
// text (`sensorText`, as the sensor object keeps it) in red.
StatusLine statusLine(uint8_t code, const QString& sensorText);
// After identification: "Sensor ready" in green when the self test passed,
// else the sensor's own text in red.
StatusLine identifiedLine(bool selfTestPassed, const QString& sensorText);
// The page's line once a run ended: "Idle" in black.
StatusLine idleLine();

// ---- gases ----
const char* gasName(uint32_t id);  // null for an ID not in the table
QString gasText(uint32_t id);      // the name, or "Unknown Gas: <id>"

// ---- concentration units ----
enum : uint8_t { UnitLelIso = 0, UnitVol = 1, UnitLelIec = 2, UnitPpm = 3 };
const char* unitName(uint8_t code);  // "%LEL(ISO)", "%VOL", "%LEL(IEC)", "PPM"; null otherwise

// A run table holds %LEL or PPM; its column names the unit without the scale.
enum class RunUnit { Unknown, Lel, Ppm };
const char* runUnitName(RunUnit unit);  // "%LEL", "PPM"; "" when unknown
QString runConcColumn(RunUnit unit);    // "Conc [%LEL]", "Conc [PPM]", "Conc"

// ---- a sensor page's state, as views over all pages show it ----
// Offline: a sensor of another bench whose bench went away (the lab view).
enum class SensorState { Idle, Running, Recovering, Lost, Offline };
QString stateText(SensorState state);  // "idle", "running", "recovering", "lost", "offline"
Tone stateTone(SensorState state);

// ---- alarms ----
// The two set-point levels and the fault alarm of a sensor.
enum class AlarmKind { Low, High, Fault };
enum class AlarmChange { Raised, Cleared, Acknowledged };
// The time-log words of a change: "High alarm raised", "Fault alarm acknowledged".
QString alarmEventText(AlarmKind kind, AlarmChange change);
// Whether a text is one of those words (they are the program's, never an operator's note).
bool isAlarmEventText(const QString& text);
QString alarmName(AlarmKind kind);  // "Low alarm", "High alarm", "Fault alarm"
// What a sensor shows of its alarms: the most severe one active.
enum class AlarmState { None, Low, High, Fault };
Tone alarmTone(AlarmState state);

}  // namespace presentation
