// Saving and clearing a run, and the test notes written beside saved data.
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include "analysisreport.h"
#include "gasmarks.h"
#include "presentation.h"
#include "response.h"
#include "runfiles.h"
#include "runreader.h"
#include "runplots.h"
#include "runregistry.h"
#include "savelocation.h"
#include "tarnlitesystemtab.h"
#include "testnotedialog.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

namespace {

const char* const kBoxStyle = "QLabel{min-width: 250px;}";

// Files directly inside a directory (no recursion); none for an empty path.
QStringList filesIn(const QString& directory) {
    if (directory.isEmpty())
        return {};
    return QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

}  // namespace

void TarnLiteSystemTab::on_pushButton_saveData_clicked() {
    QPointer<TarnLiteSystemTab> page(this);
    const QString directory = QFileDialog::getExistingDirectory(
        this, "Please choose a directory to save data",
        runplots::saveStartDirectory(), QFileDialog::ShowDirsOnly);
    if (!page || shutDown || directory.isEmpty())
        return;
    if (saveData(directory) == 0 && page) {
        ui->pushButton_start->setEnabled(true);
        enableRunDataButtons(false);
    }
}

void TarnLiteSystemTab::on_pushButton_clearData_clicked() {
    if (messageBox("Clear Data?", QString(), kBoxStyle, true) == QMessageBox::Ok)
        clearData();
}

QString TarnLiteSystemTab::portListName() const {
    return ui->comboBox_ports->currentData(SensorNameRole).toString();
}

void TarnLiteSystemTab::removeDirectoryFiles(const QString& directory) {
    if (directory.isEmpty())
        return;
    QDir dir(directory);
    for (const QString& name : filesIn(directory))
        dir.remove(name);
    QDir().rmdir(directory);
}

bool TarnLiteSystemTab::waitForTestName() {
    QPointer<TarnLiteSystemTab> page(this);
    QPointer<TestNoteDialog> dialog(testNoteDialog);
    while (dialog && dialog->testName.isEmpty()) {
        // Wait on events until the dialog is hidden (OK, or closed without OK,
        // which shows it again), or the page or dialog goes away.
        QEventLoop loop;
        connect(dialog, &TestNoteDialog::hidden, &loop, &QEventLoop::quit);
        connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
        loop.exec();
        if (!page || shutDown)
            return false;
    }
    return dialog != nullptr;
}

namespace {

// The response times after the run's gas marks, as `vqs-ctl analyse` gives
// them, in analysis.txt beside the saved run's table.
bool writeAnalysis(const QString& directory) {
    const Run run = readRun(directory);
    if (!run.nothingToShow.isEmpty())
        return true;  // no readings, nothing to analyse
    const QList<StepResponse> steps = analyseSteps(run.table.seconds, run.table.concentration, gasMarksOf(run));
    const QString unit = QLatin1String(presentation::runUnitName(run.table.runUnit()));
    QFile file(directory + QStringLiteral("/analysis.txt"));
    const QByteArray text = responseText(steps, unit).toUtf8();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

}  // namespace

int TarnLiteSystemTab::saveData(QString saveDirectory) {
    const QString name = portListName();
    if (runInProgress || sensor->isRunning()) {
        messageBox("VQS Running", QString("%1 is running - data cannot be saved").arg(name), kBoxStyle);
        return 1;
    }
    if (!waitForTestName())
        return 1;

    // Both names come from outside (device, user): keep them inside one directory name.
    const QString directoryName =
        QString("%1 %2_%3").arg(runDateStamp(), safeNamePart(name), safeNamePart(testNoteDialog->testName));
    const QString encSaveDir = QString("%1/enc/%2").arg(QCoreApplication::applicationDirPath(), directoryName);
    if (!QDir().mkdir(encSaveDir)) {
        qDebug() << "couldnt make encrypted data directory";
        return 1;
    }
    saveDirectory = QString("%1/%2").arg(saveDirectory, directoryName);
    if (!QDir().mkdir(saveDirectory)) {
        qDebug() << "couldnt make customer data directory";
        return 1;
    }

    writeTimeLog("Data saved");

    // Every copy is made and verified before any run file is deleted, so a
    // failed copy leaves the whole run where it was.
    struct Copy {
        QString source;
        QString destination;
    };
    QList<Copy> copies;
    if (!recorder.timeLogPath.isEmpty() && QFile::exists(recorder.timeLogPath))
        copies.append({recorder.timeLogPath, encSaveDir + "/timelog.txt"});
    for (const QString& file : filesIn(recorder.encDataDir))
        copies.append({recorder.encDataDir + '/' + file, encSaveDir + '/' + file});
    for (const QString& file : filesIn(recorder.tempDataDir))
        copies.append({recorder.tempDataDir + '/' + file, saveDirectory + '/' + file});
    for (const Copy& copy : copies) {
        if (!copyVerified(copy.source, copy.destination)) {
            qWarning() << "could not copy" << copy.source << "to" << copy.destination;
            messageBox("Data Not Saved",
                       QString("Could not copy %1. The run's data was kept in %2.")
                           .arg(QDir::toNativeSeparators(copy.source), QDir::toNativeSeparators(recorder.tempDataDir)),
                       "QLabel{min-width: 500px;}");
            return 1;
        }
    }
    removeDirectoryFiles(recorder.encDataDir);
    removeDirectoryFiles(recorder.tempDataDir);

    writeTestNotes(encSaveDir);
    writeTestNotes(saveDirectory);
    // Pictures of the run as the plots show it, beside its table; the data is
    // saved even when they cannot be written.
    if (!runplots::writePictures(ui->plot_conc, ui->plot_enviro, saveDirectory))
        qWarning() << "could not write the run's plots into" << saveDirectory;
    if (!writeAnalysis(saveDirectory))
        qWarning() << "could not write the run's response times into" << saveDirectory;
    emit dataSaved(saveDirectory);
    return 0;
}

void TarnLiteSystemTab::writeTestNotes(const QString& directory) {
    // Literal text: a "%" in a note stays as it is.
    const QString notes = QString("Test Name: %1\n").arg(testNoteDialog->testName) +
                          QString("Analyte(s) Description: %1\n").arg(testNoteDialog->analytes) +
                          QString("Enviro Description: %1\n").arg(testNoteDialog->environment) +
                          QString("Additional Notes: %1\n").arg(testNoteDialog->additionalNotes);
    if (!appendNotesFile(directory + "/testNotes.txt", notes))
        qWarning() << "could not write the test notes into" << directory;
}

void TarnLiteSystemTab::clearData() {
    if (runInProgress || sensor->isRunning()) {
        messageBox("VQS Running",
                   QString("%1 is running - data cannot be cleared").arg(QString::fromLatin1(sensor->sensorName)),
                   kBoxStyle);
        return;
    }
    elapsedTimer->invalidate();
    sensor->cycleCount = 0;
    session->resetRows();
    ui->label_time->setText("00h:00m:00s");
    ui->label_cycles->setText("0");
    testNoteDialog->clearNotes();
    resetDisplay();

    if (sensor->connect() != 0) {
        qInfo() << sensor->sensorName << "- could not connect to clear history";
    } else {
        sensor->clearHistory();
        sensor->disconnect();
    }

    // A file still open (an abandoned start) could not be deleted on Windows.
    closeRunFiles();
    if (!RunRegistry::directoryHeldByOther(recorder.tempDataDir, this)) {
        removeDirectoryFiles(recorder.encDataDir);
        removeDirectoryFiles(recorder.tempDataDir);
    }
    runDirectory = {};

    enableRunDataButtons(false);
    ui->pushButton_start->setEnabled(true);
}
