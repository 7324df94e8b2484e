// The run's files: start of a run, headers, rows, the time log and the
// enciphered copies (through RecordEncryptor).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>

#include <cstdarg>

#include "runfiles.h"
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
        return sensor->cycleCount != 0 ? reopenRunFiles() : 1;
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
    const QString runDir = QString("%1/TempData/%2 %3")
                               .arg(applicationDir, runDateStamp(),
                                    safeNamePart(QString::fromLatin1(sensor->sensorName)));
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
    RunRegistry::releaseDirectory(tempDataDir, this);
    RunRegistry::claimDirectory(runDir, this);
    tempDataDir = runDir;
    encDataDir = runEncDir;
    runPort = portNameOfCurrentEntry();
    RunRegistry::claimPort(runPort, this);
    return openRunFiles();
}

bool TarnLiteSystemTab::hasUnsavedRun() const {
    // Save and clear both remove the run's files; a run left behind keeps its table.
    return !csvDataPath.isEmpty() && QFile::exists(csvDataPath);
}

QString TarnLiteSystemTab::portNameOfCurrentEntry() const {
    const QStringList pieces = ui->comboBox_ports->currentText().split(QStringLiteral(" - "));
    return pieces.size() > 1 ? pieces.at(1) : QString();
}

int32_t TarnLiteSystemTab::recordedCycle() const {
    // A USB sensor reports no sample number: its rows count the run's own cycles.
    return sensor->transport == 0 ? static_cast<int32_t>(sensor->cycleCount) : sensor->sensorCycle;
}

int TarnLiteSystemTab::openRunFiles() {
    QDir().mkdir(tempDataDir);
    QDir().mkdir(encDataDir);
    csvDataPath = QString("%1/vqsData.csv").arg(tempDataDir);
    timeLogPath = QString("%1/timelog.txt").arg(tempDataDir);
    encDataPath = QString("%1/vqsData.enc").arg(encDataDir);
    testInfoPath = QString("%1/testInfo.enc").arg(encDataDir);

    if (FILE* info = openFile(testInfoPath, "ab")) {
        writeEncrypted(info, "VQS Sensor Interface: %s\n", QByteArray(appVersion).constData());
        writeEncrypted(info, "MCU ID: 0x%s\n", sensor->mcuId);
        writeEncrypted(info, "Sensor Name: %s\n", sensor->sensorName);
        writeEncrypted(info, "%s\n", sensor->versionText);
        std::fclose(info);
    }

    closeFile(encDataFile);
    encDataFile = openFile(encDataPath, "ab");
    if (!encDataFile) {
        messageBox("File Open Error", "Could not open save file for engineering data", kBoxStyle);
        return 1;
    }
    writeEncrypted(encDataFile, "Time [s], Cycle , T [C], P [kPa], RH [%%], AH [g/m3], ");
    writeEncrypted(encDataFile, "dDSCMidCompNorm [%%LEL], dDSCMaxCompNorm [%%LEL], ");
    writeEncrypted(encDataFile, "FlamID , FlamConc [%%LEL], ");
    writeEncrypted(encDataFile, "DSC1MidP_K [mW], DSC1MaxP_K [mW], ");
    if (!sensor->v3Answer)
        writeEncrypted(encDataFile, "Sensor Status,Internal Status,Internal Status Strings,TRaw,PRaw,RHRaw");
    else
        writeEncrypted(encDataFile, "Sensor Status,Internal Status,Internal Status Strings");
    writeEncrypted(encDataFile, ",Analog Out [V]");
    writeEncrypted(encDataFile, "\r\n");

    closeFile(csvDataFile);
    csvDataFile = openFile(csvDataPath, "ab");
    if (!csvDataFile) {
        messageBox("File Open Error", "Could not open save file for customer data", kBoxStyle);
        // An abandoned start keeps no file open: an open file could not be
        // deleted by the next clear on Windows.
        closeFile(encDataFile);
        return 1;
    }
    textPrintf(csvDataFile, "Time [s], Cycle , T [C], P [kPa], RH [%%], ");
    if (reportsInPpm(*sensor))
        textPrintf(csvDataFile, "Gas ID , Conc [PPM]");
    else
        textPrintf(csvDataFile, "Gas ID , Conc [%%LEL]");
    textPrintf(csvDataFile, "\n");
    std::fflush(csvDataFile);
    return 0;
}

int TarnLiteSystemTab::reopenRunFiles() {
    closeFile(encDataFile);
    encDataFile = openFile(encDataPath, "ab");
    if (!encDataFile) {
        messageBox("File Open Error", "Could not open save file for engineering data", kBoxStyle);
        return 1;
    }
    closeFile(csvDataFile);
    csvDataFile = openFile(csvDataPath, "ab");
    if (!csvDataFile) {
        messageBox("File Open Error", "Could not open save file for customer data", kBoxStyle);
        closeFile(encDataFile);
        return 1;
    }
    return 0;
}

void TarnLiteSystemTab::closeRunFiles() {
    closeFile(encDataFile);
    closeFile(csvDataFile);
}

void TarnLiteSystemTab::writeDataRow() {
    const double time = double(elapsedTimer->isValid() ? elapsedTimer->elapsed() : 0) / 1000.0;
    const answer_t& a = sensor->answer;

    const int32_t cycle = recordedCycle();
    writeEncrypted(encDataFile, "%f, %d, ", time, cycle);
    textPrintf(csvDataFile, "%f, %d, ", time, cycle);
    writeEncrypted(encDataFile, "%f, %f, %f, %f, ", double(a.temperature), double(a.pressure),
                   double(a.humidity), double(a.absHumidity));
    textPrintf(csvDataFile, "%f, %f, %f, ", double(a.temperature), double(a.pressure), double(a.humidity));
    // Copies: the record is packed, its floats may sit at any address.
    const float midCompNorm = a.midCompNorm;
    const float maxCompNorm = a.maxCompNorm;
    midCompNormHistory->append(midCompNorm);
    maxCompNormHistory->append(maxCompNorm);
    writeEncrypted(encDataFile, "%f, %f, ", double(a.midCompNorm), double(a.maxCompNorm));
    writeEncrypted(encDataFile, "%u, %f, ", a.gasId, double(a.concentration));
    textPrintf(csvDataFile, "%u, %f", a.gasId, double(a.concentration));
    writeEncrypted(encDataFile, "%f, %f, ", double(a.dsc1MidPower), double(a.dsc1MaxPower));
    char statusBits[512];
    statusBitsToText(a.internalStatus, statusBits);
    // Longer than one record when many bits are set: written as several records.
    writeEncrypted(encDataFile, "%d, %u, %s, ", a.sensorStatus, a.internalStatus, statusBits);
    if (!sensor->v3Answer)
        writeEncrypted(encDataFile, "%f, %f, %f,", double(a.temperatureRaw), double(a.pressureRaw),
                       double(a.humidityRaw));
    writeEncrypted(encDataFile, "%f", double(sensor->analogOut));
    writeEncrypted(encDataFile, "\r\n");
    textPrintf(csvDataFile, "\n");
    // Every recorded cycle reaches the file at once, so a crash loses none.
    if (csvDataFile)
        std::fflush(csvDataFile);

    showTimeAndCycles();
}

void TarnLiteSystemTab::writeTimeLog(QString event) {
    if (timeLogPath.isEmpty())
        return;
    FILE* log = openFile(timeLogPath, "ab");
    if (!log)
        return;
    textPrintf(log, "%s: %s\n", timeLogStamp().toLatin1().constData(), event.toLatin1().constData());
    std::fclose(log);
}

// ---- enciphered records ----

bool TarnLiteSystemTab::EncryptInit(const char* passPhrase) {
    return encryption.EncryptInit(passPhrase);
}

void TarnLiteSystemTab::EncryptDeInit() {
    encryption.EncryptDeInit();
}

uint32_t TarnLiteSystemTab::EncryptData(uint8_t* text, uint8_t* out, uint32_t outSize) {
    return encryption.EncryptData(text, out, outSize);
}

void TarnLiteSystemTab::writeEncrypted(FILE* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    encryption.writeEncryptedV(file, format, args);
    va_end(args);
}
