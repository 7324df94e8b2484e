// The page's alarm row: "Alarms..." (the set-points of the identified
// sensor), the alarm indicator in the alarm's colour and "Acknowledge" while
// a latched alarm waits. Holds the run's RunAlarms; set-points are loaded
// when a sensor is identified and stored by its name when edited.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "presentation.h"

class QLabel;
class QPushButton;
class RunAlarms;
class RunSession;

class AlarmControls : public QWidget {
    Q_OBJECT
public:
    AlarmControls(RunSession& session, QWidget* parent = nullptr);

    // The identified sensor (empty: none); its stored set-points apply.
    void setSensorName(const QString& name);
    // The unit code levels are given in now: the run's, or the next run's.
    void setUnitSource(std::function<uint8_t()> source) { unitSource = std::move(source); }
    presentation::AlarmState state() const;
    RunAlarms* alarms() const { return runAlarms; }

signals:
    void stateChanged(presentation::AlarmState state);

private:
    void editSettings();
    void showState();

    RunAlarms* runAlarms = nullptr;
    QPushButton* settingsButton = nullptr;
    QLabel* indicator = nullptr;
    QPushButton* acknowledgeButton = nullptr;
    QString sensorName;
    std::function<uint8_t()> unitSource;
    presentation::AlarmState shownState = presentation::AlarmState::None;
};
