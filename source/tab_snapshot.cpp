// The page's snapshot of what it shows, for views over all pages.
#include <QElapsedTimer>

#include "tarnlitesystemtab.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

void TarnLiteSystemTab::publishSnapshot(SensorSnapshot::State state) {
    shown.state = state;
    shown.name = ui->label_SensorName->text();
    shown.port = portNameOfEntry(identifiedEntry);
    shown.unit = ui->label_flamConcUnit->text();
    // The status line of a lost run reads "Idle" once its buttons are back.
    shown.statusText =
        state == SensorSnapshot::State::Lost ? QStringLiteral("Communication failed") : ui->label_status->text();
    shown.runMs = elapsedTimer && elapsedTimer->isValid() ? elapsedTimer->elapsed() : 0;
    emit snapshotChanged(shown);
}

void TarnLiteSystemTab::publishRunStart() {
    ++shown.run;
    shown.hasSample = false;
    shown.rows = 0;
    shown.gas = ui->label_flamID->text();
    shown.concentration = 0;
    shown.concentrationText = ui->label_flamConc->text();
    shown.temperature = shown.pressure = shown.humidity = 0;
    publishSnapshot(SensorSnapshot::State::Running);
}

void TarnLiteSystemTab::publishCycle() {
    // Read between the cycle's completion and the next queued doWork, like the
    // rest of the display.
    const answer_t& a = sensor->answer;
    shown.hasSample = true;
    shown.gas = ui->label_flamID->text();
    shown.concentration = a.concentration;
    shown.concentrationText = ui->label_flamConc->text();
    shown.temperature = a.temperature;
    shown.pressure = a.pressure;
    shown.humidity = a.humidity;
    shown.rows = sensor->cycleCount;
    publishSnapshot(SensorSnapshot::State::Running);
}
