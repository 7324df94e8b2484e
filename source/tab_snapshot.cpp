// The page's snapshot of its run for views over all pages, built from the
// run's Samples and what the page keeps as values (never from its labels).
#include <QElapsedTimer>

#include "tarnlitesystemtab.h"

void TarnLiteSystemTab::publishSnapshot(SensorSnapshot::State state) {
    shown.state = state;
    shown.port = portNameOfEntry(identifiedEntry);
    // The status line of a lost run reads "Idle" once its buttons are back.
    shown.statusText = state == SensorSnapshot::State::Lost ? QStringLiteral("Communication failed") : statusShown;
    shown.runMs = elapsedTimer && elapsedTimer->isValid() ? elapsedTimer->elapsed() : 0;
    emit snapshotChanged(shown);
}

void TarnLiteSystemTab::publishRunStart() {
    ++shown.run;
    shown.hasSample = false;
    shown.rows = 0;
    shown.concentration = 0;
    shown.temperature = shown.pressure = shown.humidity = 0;
    publishSnapshot(SensorSnapshot::State::Running);
}

void TarnLiteSystemTab::publishCycle(const Sample& sample) {
    // Gas and concentration texts were set with the display from this sample.
    const answer_t& a = sample.answer;
    shown.hasSample = true;
    shown.concentration = a.concentration;
    shown.temperature = a.temperature;
    shown.pressure = a.pressure;
    shown.humidity = a.humidity;
    shown.rows = sample.cycleCount;
    publishSnapshot(SensorSnapshot::State::Running);
}
