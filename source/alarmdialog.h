// The alarm set-points of the page's sensor: low and high level (value,
// rising or falling, hysteresis, latching), the fault alarm and the sound.
// Built in code; opened window-modal by the page's "Alarms..." button.
#pragma once

#include <QDialog>

#include "alarmsettings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;

class AlarmDialog : public QDialog {
    Q_OBJECT
public:
    // `unitText` names the unit the levels are given in ("%LEL(ISO)", "PPM").
    AlarmDialog(const AlarmSettings& settings, const QString& sensorName, const QString& unitText,
                QWidget* parent = nullptr);
    // The settings as edited (their unit is the caller's to set).
    AlarmSettings settings() const;

private:
    struct LevelEdit {
        QGroupBox* group = nullptr;
        QDoubleSpinBox* level = nullptr;
        QComboBox* direction = nullptr;
        QDoubleSpinBox* hysteresis = nullptr;
        QCheckBox* latching = nullptr;
    };
    QGroupBox* levelBox(const QString& title, const char* name, const AlarmLevel& level, const QString& unitText,
                        LevelEdit* edit);
    static AlarmLevel levelOf(const LevelEdit& edit);

    AlarmSettings initial;
    LevelEdit low, high;
    QGroupBox* fault = nullptr;
    QCheckBox* faultLatching = nullptr;
    QCheckBox* sound = nullptr;
};
