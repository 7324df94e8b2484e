// What a sensor page last showed of its sensor, handed to views that watch
// several pages at once. Filled on the GUI thread from the page's own display;
// nothing here asks the sensor anything.
#pragma once

#include <QMetaType>
#include <QString>

#include "presentation.h"

struct SensorSnapshot {
    using State = presentation::SensorState;  // Idle, Running, Recovering, Lost

    State state = State::Idle;
    // Counts the page's run starts; a new number means the curve starts afresh.
    quint64 run = 0;
    QString name;  // empty before a sensor is identified
    QString port;  // "COM5", "ttyUSB0"
    // The last recorded cycle; hasSample is false until the run recorded one.
    bool hasSample = false;
    QString gas;
    double concentration = 0;
    QString concentrationText;  // formatted as the page shows it
    QString unit;               // "%LEL(ISO)", "%LEL(IEC)", "%VOL", "PPM"
    double temperature = 0;
    double pressure = 0;
    double humidity = 0;
    QString statusText;
    quint32 rows = 0;  // rows recorded in this run
    // The latest gas step's response times, in short ("Gas on: t50 3.5 s,
    // t90 11.5 s", "Gas off: settling"); empty before the run's first mark.
    QString response;
    qint64 runMs = 0;  // the run clock when the snapshot was taken
    // The most severe alarm raised (None, Low, High, Fault).
    presentation::AlarmState alarm = presentation::AlarmState::None;

    static QString stateText(State state) { return presentation::stateText(state); }
};

Q_DECLARE_METATYPE(SensorSnapshot)
