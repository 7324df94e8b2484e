#include "alarmsettings.h"

#include <QCoreApplication>
#include <QSettings>

#include <cmath>

namespace {

// Numbers go in as text with '.', whatever the locale, and come back only when they read whole.
double readNumber(const QSettings& settings, const QString& key, double fallback) {
    bool ok = false;
    const double value = settings.value(key).toString().toDouble(&ok);
    return ok && std::isfinite(value) ? value : fallback;
}

void loadLevel(QSettings& settings, const QString& prefix, AlarmLevel* level) {
    level->enabled = settings.value(prefix + QStringLiteral("Enabled"), level->enabled).toBool();
    level->level = readNumber(settings, prefix + QStringLiteral("Level"), level->level);
    level->rising = settings.value(prefix + QStringLiteral("Rising"), level->rising).toBool();
    level->hysteresis = std::fabs(readNumber(settings, prefix + QStringLiteral("Hysteresis"), level->hysteresis));
    level->latching = settings.value(prefix + QStringLiteral("Latching"), level->latching).toBool();
}

void saveLevel(QSettings& settings, const QString& prefix, const AlarmLevel& level) {
    settings.setValue(prefix + QStringLiteral("Enabled"), level.enabled);
    settings.setValue(prefix + QStringLiteral("Level"), QString::number(level.level, 'g', 17));
    settings.setValue(prefix + QStringLiteral("Rising"), level.rising);
    settings.setValue(prefix + QStringLiteral("Hysteresis"), QString::number(level.hysteresis, 'g', 17));
    settings.setValue(prefix + QStringLiteral("Latching"), level.latching);
}

QString& settingsPathOverride() {
    static QString path;
    return path;
}

}  // namespace

AlarmSettings::AlarmSettings() {
    low.level = 10;
    high.level = 20;
}

QString AlarmSettings::programSettingsPath() {
    if (!settingsPathOverride().isEmpty())
        return settingsPathOverride();
    return QCoreApplication::applicationDirPath() + QStringLiteral("/vqs-sensor-interface.ini");
}

void AlarmSettings::setProgramSettingsPath(const QString& path) {
    settingsPathOverride() = path;
}

QString AlarmSettings::groupOf(const QString& sensorName) {
    return QStringLiteral("alarms/") + QString::fromLatin1(sensorName.toUtf8().toHex());
}

AlarmSettings AlarmSettings::load(QSettings& settings, const QString& sensorName) {
    AlarmSettings s;
    if (sensorName.isEmpty())
        return s;
    settings.beginGroup(groupOf(sensorName));
    loadLevel(settings, QStringLiteral("low"), &s.low);
    loadLevel(settings, QStringLiteral("high"), &s.high);
    s.faultEnabled = settings.value(QStringLiteral("faultEnabled"), s.faultEnabled).toBool();
    s.faultLatching = settings.value(QStringLiteral("faultLatching"), s.faultLatching).toBool();
    s.sound = settings.value(QStringLiteral("sound"), s.sound).toBool();
    bool ok = false;
    const int unit = settings.value(QStringLiteral("unit")).toInt(&ok);
    s.unit = ok && unit >= 0 && unit <= 255 ? unit : kNoUnit;
    settings.endGroup();
    return s;
}

void AlarmSettings::save(QSettings& settings, const QString& sensorName) const {
    if (sensorName.isEmpty())
        return;
    settings.beginGroup(groupOf(sensorName));
    settings.setValue(QStringLiteral("sensor"), sensorName);  // for people reading the file
    saveLevel(settings, QStringLiteral("low"), low);
    saveLevel(settings, QStringLiteral("high"), high);
    settings.setValue(QStringLiteral("faultEnabled"), faultEnabled);
    settings.setValue(QStringLiteral("faultLatching"), faultLatching);
    settings.setValue(QStringLiteral("sound"), sound);
    if (unit == kNoUnit)
        settings.remove(QStringLiteral("unit"));
    else
        settings.setValue(QStringLiteral("unit"), unit);
    settings.endGroup();
}
