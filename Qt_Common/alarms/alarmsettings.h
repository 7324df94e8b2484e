// A sensor's alarm set-points: a low and a high level in the run's unit, each
// rising or falling, with hysteresis and latching, the fault alarm, and a short
// sound. Kept per sensor (by its name) in the program's settings file.
#pragma once

#include <QString>

#include <cstdint>

class QSettings;

struct AlarmLevel {
    bool enabled = false;
    double level = 0;
    bool rising = true;     // raised at or above the level; else at or below
    double hysteresis = 0;  // cleared only past level - hysteresis (rising) or level + hysteresis
    bool latching = false;  // stays raised until acknowledged, once the reading is back

    bool operator==(const AlarmLevel& o) const {
        return enabled == o.enabled && level == o.level && rising == o.rising && hysteresis == o.hysteresis &&
               latching == o.latching;
    }
};

struct AlarmSettings {
    static constexpr int kNoUnit = -1;

    AlarmLevel low;
    AlarmLevel high;
    bool faultEnabled = false;
    bool faultLatching = false;
    bool sound = false;
    // The unit code the levels were set in (presentation's unit codes); a run
    // in another unit does not compare its readings with them.
    int unit = kNoUnit;

    AlarmSettings();
    bool anyLevel() const { return low.enabled || high.enabled; }
    bool operator==(const AlarmSettings& o) const {
        return low == o.low && high == o.high && faultEnabled == o.faultEnabled &&
               faultLatching == o.faultLatching && sound == o.sound && unit == o.unit;
    }

    // The program's settings file beside the executable, or where a test
    // put it (empty: beside the executable again).
    static QString programSettingsPath();
    static void setProgramSettingsPath(const QString& path);
    // The group a sensor's settings live in: the name is data, so it is
    // spelled as hex of its UTF-8 (no separator or case folding can touch it).
    static QString groupOf(const QString& sensorName);
    // Defaults for a name never stored (or an empty name).
    static AlarmSettings load(QSettings& settings, const QString& sensorName);
    void save(QSettings& settings, const QString& sensorName) const;
};
