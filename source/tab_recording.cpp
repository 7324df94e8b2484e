// The file side of a run on the page: its start (questions, directory,
// identity) and its rows, written through the shared RunRecorder.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>

#include "runregistry.h"
#include "sensoridentity.h"
#include "tarnlitesystemtab.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

namespace {

const char* const kBoxStyle = "QLabel{min-width: 250px;}";

}  // namespace

int TarnLiteSystemTab::startRun() {
    // The sensor still runs (its stop has not finished): carry on in the same files.
    if (runInProgress || sensor->isRunning()) {
        clearData();  // refused with its message while the sensor runs
        return session->rows() != 0 ? reopenRunFiles() : 1;
    }

    // A run that was neither saved nor cleared is only discarded when the user says so.
    if (hasUnsavedRun() &&
        messageBox("Unsaved Data", "The last run has not been saved. Discard it and start a new run?",
                   "QLabel{min-width: 300px;}", true) != QMessageBox::Ok)
        return 1;

    // The run is named after, and sent to, the sensor the page shows.
    const QString entry = ui->comboBox_ports->currentText();
    if (!selectPortFromEntry(entry))
        return 1;
    if (identifiedEntry != entry) {
        if (sensor->connect() != VQS_SUCCESS || sensor->identify() != VQS_SUCCESS) {
            sensor->disconnect();
            messageBox("Sensor Not Found", QString("%1 does not answer.").arg(entry), kBoxStyle);
            return 1;
        }
        sensor->disconnect();
        identifiedEntry = entry;
    }

    clearData();

    const QString applicationDir = QCoreApplication::applicationDirPath();
    const QString runDir =
        RunRecorder::runDirectory(applicationDir + "/TempData", QString::fromLatin1(sensor->sensorName));
    const QString runEncDir = QString("%1/enc").arg(runDir);

    // Another page's run writes there: never write into or clear it.
    if (RunRegistry::directoryHeldByOther(runDir, this)) {
        messageBox("Directory In Use", QString("Another tab records into %1.").arg(QDir::toNativeSeparators(runDir)),
                   "QLabel{min-width: 500px;}");
        return 1;
    }
    if (QDir(runDir).exists()) {
        if (messageBox("Directory Already Exists", "Do you want to overwrite existing data?", kBoxStyle, true) !=
            QMessageBox::Ok)
            return 1;
        removeDirectoryFiles(runEncDir);
        removeDirectoryFiles(runDir);
    }
    RunRegistry::Reservation directory = RunRegistry::reserveDirectory(runDir, this);
    RunRegistry::Reservation port = RunRegistry::reservePort(portNameOfEntry(entry), this);
    if (!directory || !port) {
        // Taken by another page meanwhile: its run is left alone.
        messageBox(directory ? "Port In Use" : "Directory In Use",
                   directory ? QString("Another tab runs the sensor on %1.").arg(portNameOfEntry(entry))
                             : QString("Another tab records into %1.").arg(QDir::toNativeSeparators(runDir)),
                   "QLabel{min-width: 500px;}");
        return 1;
    }
    runDirectory = std::move(directory);
    recorder.setRunDirectory(runDir);
    runPort = std::move(port);
    if (openRunFiles() != 0) {
        runPort = {};  // nothing runs on it
        return 1;
    }
    return 0;
}

bool TarnLiteSystemTab::hasUnsavedRun() const {
    // Save and clear both remove the run's files; a run left behind keeps its table.
    return !recorder.csvDataPath.isEmpty() && QFile::exists(recorder.csvDataPath);
}

int TarnLiteSystemTab::openRunFiles() {
    return reportOpenResult(recorder.openRunFiles(*sensor, reportsInPpm(*sensor)));
}

int TarnLiteSystemTab::reopenRunFiles() {
    return reportOpenResult(recorder.reopenRunFiles());
}

int TarnLiteSystemTab::reportOpenResult(int result) {
    switch (result) {
        case RunRecorder::Opened:
            return 0;
        case RunRecorder::EngineeringFileFailed:
            messageBox("File Open Error", "Could not open save file for engineering data", kBoxStyle);
            return 1;
        default:
            messageBox("File Open Error", "Could not open save file for customer data", kBoxStyle);
            return 1;
    }
}

void TarnLiteSystemTab::closeRunFiles() {
    recorder.closeRunFiles();
}

void TarnLiteSystemTab::writeTimeLog(QString event) {
    recorder.writeTimeLog(event);
}
