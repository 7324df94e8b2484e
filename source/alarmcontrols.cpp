#include "alarmcontrols.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "alarmdialog.h"
#include "runalarms.h"
#include "runsession.h"

AlarmControls::AlarmControls(RunSession& session, QWidget* parent)
    : QWidget(parent), runAlarms(new RunAlarms(session, this)) {
    setObjectName(QStringLiteral("alarmControls"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 4);
    auto* buttons = new QHBoxLayout;
    settingsButton = new QPushButton(QStringLiteral("Alarms..."));
    settingsButton->setObjectName(QStringLiteral("pushButton_alarms"));
    settingsButton->setToolTip(QStringLiteral("Alarm set-points of this sensor"));
    settingsButton->setMinimumHeight(30);
    settingsButton->setEnabled(false);
    acknowledgeButton = new QPushButton(QStringLiteral("Acknowledge"));
    acknowledgeButton->setObjectName(QStringLiteral("pushButton_acknowledge"));
    acknowledgeButton->setMinimumHeight(30);
    acknowledgeButton->setEnabled(false);
    buttons->addWidget(settingsButton);
    buttons->addWidget(acknowledgeButton);
    column->addLayout(buttons);
    indicator = new QLabel;
    indicator->setObjectName(QStringLiteral("label_alarm"));
    indicator->setWordWrap(true);
    column->addWidget(indicator);

    connect(settingsButton, &QPushButton::clicked, this, &AlarmControls::editSettings);
    connect(acknowledgeButton, &QPushButton::clicked, runAlarms, &RunAlarms::acknowledge);
    connect(runAlarms, &RunAlarms::changed, this, &AlarmControls::showState);
    connect(runAlarms, &RunAlarms::soundWanted, this, [] { QApplication::beep(); });
    showState();
}

presentation::AlarmState AlarmControls::state() const {
    return runAlarms->monitor().state();
}

void AlarmControls::setSensorName(const QString& name) {
    sensorName = name;
    settingsButton->setEnabled(!name.isEmpty());
    QSettings stored(AlarmSettings::programSettingsPath(), QSettings::IniFormat);
    runAlarms->setSettings(AlarmSettings::load(stored, name));
    showState();
}

void AlarmControls::editSettings() {
    if (sensorName.isEmpty())
        return;
    const uint8_t unit = unitSource ? unitSource() : uint8_t(0);
    // Levels are typed in the unit of now; those kept in another keep their numbers.
    auto* dialog = new AlarmDialog(runAlarms->settings(), sensorName, RunSession::unitText(unit), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    const QString name = sensorName;
    connect(dialog, &QDialog::accepted, this, [this, dialog, name, unit] {
        if (name != sensorName)
            return;  // another sensor was identified meanwhile
        AlarmSettings settings = dialog->settings();
        settings.unit = unit;
        QSettings stored(AlarmSettings::programSettingsPath(), QSettings::IniFormat);
        settings.save(stored, name);
        stored.sync();
        runAlarms->setSettings(settings);
    });
    dialog->open();
}

void AlarmControls::showState() {
    using presentation::AlarmKind;
    const AlarmMonitor& monitor = runAlarms->monitor();
    const AlarmSettings& settings = monitor.settings();
    QStringList raised;
    for (AlarmKind kind : {AlarmKind::Fault, AlarmKind::High, AlarmKind::Low}) {
        if (monitor.raised(kind))
            raised << (monitor.waitsForAcknowledge(kind) ? presentation::alarmName(kind) + QStringLiteral(" (latched)")
                                                        : presentation::alarmName(kind));
    }
    const bool anyOn = !sensorName.isEmpty() && (settings.anyLevel() || settings.faultEnabled);
    QString text = raised.join(QStringLiteral(", "));
    presentation::Tone tone = presentation::alarmTone(monitor.state());
    if (text.isEmpty()) {
        text = anyOn ? QStringLiteral("No alarm") : QStringLiteral("Alarms off");
        if (!anyOn)
            tone = presentation::Tone::Black;
    }
    if (settings.anyLevel() && !monitor.levelsApply())
        text += QStringLiteral(" (levels set in %1 not checked)").arg(RunSession::unitText(uint8_t(settings.unit)));
    indicator->setText(text);
    const QString style = presentation::labelStyle(tone);
    if (indicator->styleSheet() != style)
        indicator->setStyleSheet(style);
    acknowledgeButton->setEnabled(monitor.waitsForAcknowledge());
    const presentation::AlarmState now = monitor.state();
    if (now != shownState) {
        shownState = now;
        emit stateChanged(now);
    }
}
