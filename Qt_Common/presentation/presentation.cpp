#include "presentation.h"

namespace presentation {

namespace {

struct ToneRow {
    Tone tone;
    const char* colour;
};
constexpr ToneRow kTones[] = {
    {Tone::Green, "#26A65B"},
    {Tone::Orange, "#F89406"},
    {Tone::Red, "#Ff0000"},
    {Tone::Black, "#000000"},
};

// The status line by reply status code; any other code shows the sensor's own text in red.
struct StatusRow {
    uint8_t code;
    StatusKind kind;
    const char* text;
};
constexpr StatusRow kStatusLines[] = {
    {0x00, StatusKind::Ok, "Sensor OK"},
    {0x28, StatusKind::Starting, "Sensor Warm-Up"},
    {0x27, StatusKind::Starting, "Sensor Start-Up"},
    {0x26, StatusKind::Starting, "Sensor Initializing"},
};

struct KindRow {
    StatusKind kind;
    Tone tone;
};
constexpr KindRow kKindTones[] = {
    {StatusKind::Ok, Tone::Green},
    {StatusKind::Starting, Tone::Orange},
    {StatusKind::Fault, Tone::Red},
};

struct NameRow {
    uint32_t code;
    const char* text;
};
// Texts exactly as the sensor's documentation names them.
constexpr NameRow kGases[] = {
    {0, "None"},       {1, "Hydrogen"},  {2, "Hydrogen Mixture"}, {3, "Methane"}, {4, "Light Gas"},
    {5, "Medium Gas"}, {6, "Heavy Gas"}, {7, "A2L"},              {8, "A1"},      {255, "Over Range"},
};
constexpr NameRow kUnits[] = {
    {UnitLelIso, "%LEL(ISO)"},
    {UnitVol, "%VOL"},
    {UnitLelIec, "%LEL(IEC)"},
    {UnitPpm, "PPM"},
};

struct RunUnitRow {
    RunUnit unit;
    const char* name;
};
constexpr RunUnitRow kRunUnits[] = {
    {RunUnit::Lel, "%LEL"},
    {RunUnit::Ppm, "PPM"},
};

struct StateRow {
    SensorState state;
    const char* text;
    Tone tone;
};
constexpr StateRow kStates[] = {
    {SensorState::Idle, "idle", Tone::Black},
    {SensorState::Running, "running", Tone::Green},
    {SensorState::Recovering, "recovering", Tone::Orange},
    {SensorState::Lost, "lost", Tone::Red},
    {SensorState::Offline, "offline", Tone::Black},
};

struct AlarmRow {
    AlarmKind kind;
    const char* name;
};
constexpr AlarmRow kAlarms[] = {
    {AlarmKind::Low, "Low alarm"},
    {AlarmKind::High, "High alarm"},
    {AlarmKind::Fault, "Fault alarm"},
};
struct AlarmChangeRow {
    AlarmChange change;
    const char* word;
};
constexpr AlarmChangeRow kAlarmChanges[] = {
    {AlarmChange::Raised, "raised"},
    {AlarmChange::Cleared, "cleared"},
    {AlarmChange::Acknowledged, "acknowledged"},
};
struct AlarmToneRow {
    AlarmState state;
    Tone tone;
};
constexpr AlarmToneRow kAlarmTones[] = {
    {AlarmState::None, Tone::Green},
    {AlarmState::Low, Tone::Orange},
    {AlarmState::High, Tone::Red},
    {AlarmState::Fault, Tone::Red},
};

template <typename Row, size_t N, typename Key>
const Row* find(const Row (&rows)[N], Key Row::*key, Key value) {
    for (const Row& row : rows)
        if (row.*key == value)
            return &row;
    return nullptr;
}

Tone toneOf(StatusKind kind) {
    return find(kKindTones, &KindRow::kind, kind)->tone;
}

}  // namespace

const char* colourName(Tone tone) {
    return find(kTones, &ToneRow::tone, tone)->colour;
}

QString labelStyle(Tone tone) {
    return QStringLiteral("QLabel{color:%1;font-family:Quicksand;}").arg(QLatin1String(colourName(tone)));
}

StatusLine statusLine(uint8_t code, const QString& sensorText) {
    if (const StatusRow* row = find(kStatusLines, &StatusRow::code, code))
        return {QLatin1String(row->text), toneOf(row->kind), row->kind};
    return {sensorText, toneOf(StatusKind::Fault), StatusKind::Fault};
}

StatusLine identifiedLine(bool selfTestPassed, const QString& sensorText) {
    if (selfTestPassed)
        return {QStringLiteral("Sensor ready"), toneOf(StatusKind::Ok), StatusKind::Ok};
    return {sensorText, toneOf(StatusKind::Fault), StatusKind::Fault};
}

StatusLine idleLine() {
    return {QStringLiteral("Idle"), Tone::Black, StatusKind::Idle};
}

const char* gasName(uint32_t id) {
    const NameRow* row = find(kGases, &NameRow::code, id);
    return row ? row->text : nullptr;
}

QString gasText(uint32_t id) {
    const char* name = gasName(id);
    return name ? QString(QLatin1String(name)) : QStringLiteral("Unknown Gas: %1").arg(id);
}

const char* unitName(uint8_t code) {
    const NameRow* row = find(kUnits, &NameRow::code, uint32_t(code));
    return row ? row->text : nullptr;
}

const char* runUnitName(RunUnit unit) {
    const RunUnitRow* row = find(kRunUnits, &RunUnitRow::unit, unit);
    return row ? row->name : "";
}

QString runConcColumn(RunUnit unit) {
    const char* name = runUnitName(unit);
    return *name ? QStringLiteral("Conc [%1]").arg(QLatin1String(name)) : QStringLiteral("Conc");
}

QString stateText(SensorState state) {
    return QLatin1String(find(kStates, &StateRow::state, state)->text);
}

Tone stateTone(SensorState state) {
    return find(kStates, &StateRow::state, state)->tone;
}

QString alarmName(AlarmKind kind) {
    return QLatin1String(find(kAlarms, &AlarmRow::kind, kind)->name);
}

QString alarmEventText(AlarmKind kind, AlarmChange change) {
    return alarmName(kind) + QLatin1Char(' ') +
           QLatin1String(find(kAlarmChanges, &AlarmChangeRow::change, change)->word);
}

bool isAlarmEventText(const QString& text) {
    for (const AlarmRow& alarm : kAlarms)
        for (const AlarmChangeRow& change : kAlarmChanges)
            if (text == alarmEventText(alarm.kind, change.change))
                return true;
    return false;
}

Tone alarmTone(AlarmState state) {
    return find(kAlarmTones, &AlarmToneRow::state, state)->tone;
}

}  // namespace presentation
