#include "alarmdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "alarmmonitor.h"

namespace {

// Wide enough for any reading in PPM; the sensor's own range is narrower.
constexpr double kLevelLimit = 1e6;

QDoubleSpinBox* numberBox(const char* name, double value, double minimum, const QString& unitText) {
    auto* box = new QDoubleSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setDecimals(3);
    box->setRange(minimum, kLevelLimit);
    box->setValue(value);
    box->setSuffix(QLatin1Char(' ') + unitText);
    return box;
}

}  // namespace

AlarmDialog::AlarmDialog(const AlarmSettings& settings, const QString& sensorName, const QString& unitText,
                         QWidget* parent)
    : QDialog(parent), initial(settings) {
    setObjectName(QStringLiteral("alarmDialog"));
    setWindowTitle(QStringLiteral("Alarms of %1").arg(sensorName));
    auto* column = new QVBoxLayout(this);
    column->addWidget(levelBox(QStringLiteral("Low alarm"), "low", settings.low, unitText, &low));
    column->addWidget(levelBox(QStringLiteral("High alarm"), "high", settings.high, unitText, &high));

    fault = new QGroupBox(QStringLiteral("Fault alarm (fault status, or %1 cycles without an answer)")
                              .arg(AlarmMonitor::kUnansweredForFault));
    fault->setObjectName(QStringLiteral("groupBox_fault"));
    fault->setCheckable(true);
    fault->setChecked(settings.faultEnabled);
    faultLatching = new QCheckBox(QStringLiteral("Latching (stays until acknowledged)"));
    faultLatching->setObjectName(QStringLiteral("checkBox_faultLatching"));
    faultLatching->setChecked(settings.faultLatching);
    (new QVBoxLayout(fault))->addWidget(faultLatching);
    column->addWidget(fault);

    sound = new QCheckBox(QStringLiteral("Sound when an alarm is raised"));
    sound->setObjectName(QStringLiteral("checkBox_sound"));
    sound->setChecked(settings.sound);
    column->addWidget(sound);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

QGroupBox* AlarmDialog::levelBox(const QString& title, const char* name, const AlarmLevel& level,
                                 const QString& unitText, LevelEdit* edit) {
    const QString prefix = QLatin1String(name);
    auto* group = new QGroupBox(title);
    group->setObjectName(QStringLiteral("groupBox_") + prefix);
    group->setCheckable(true);
    group->setChecked(level.enabled);
    auto* form = new QFormLayout(group);
    edit->group = group;
    edit->level = numberBox(qPrintable(QStringLiteral("spinBox_%1Level").arg(prefix)), level.level, -kLevelLimit,
                            unitText);
    edit->direction = new QComboBox;
    edit->direction->setObjectName(QStringLiteral("comboBox_%1Direction").arg(prefix));
    edit->direction->addItems({QStringLiteral("rising"), QStringLiteral("falling")});
    edit->direction->setCurrentIndex(level.rising ? 0 : 1);
    edit->hysteresis = numberBox(qPrintable(QStringLiteral("spinBox_%1Hysteresis").arg(prefix)), level.hysteresis, 0,
                                 unitText);
    edit->latching = new QCheckBox(QStringLiteral("Latching (stays until acknowledged)"));
    edit->latching->setObjectName(QStringLiteral("checkBox_%1Latching").arg(prefix));
    edit->latching->setChecked(level.latching);
    form->addRow(QStringLiteral("Level:"), edit->level);
    form->addRow(QStringLiteral("Raised when the reading is:"), edit->direction);
    form->addRow(QStringLiteral("Hysteresis:"), edit->hysteresis);
    form->addRow(edit->latching);
    return group;
}

AlarmLevel AlarmDialog::levelOf(const LevelEdit& edit) {
    AlarmLevel level;
    level.enabled = edit.group->isChecked();
    level.level = edit.level->value();
    level.rising = edit.direction->currentIndex() == 0;
    level.hysteresis = edit.hysteresis->value();
    level.latching = edit.latching->isChecked();
    return level;
}

AlarmSettings AlarmDialog::settings() const {
    AlarmSettings s = initial;
    s.low = levelOf(low);
    s.high = levelOf(high);
    s.faultEnabled = fault->isChecked();
    s.faultLatching = faultLatching->isChecked();
    s.sound = sound->isChecked();
    return s;
}
