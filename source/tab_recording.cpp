// The run's files: start of a run, headers, rows, the time log and the
// enciphered copies (through RecordEncryptor).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>

#include <cstdarg>

#include "runfiles.h"
#include "tarnlitesystemtab.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

namespace {

const char* const kBoxStyle = "QLabel{min-width: 250px;}";

bool isPpmSensor(uint32_t sensorType) {
    return sensorType == 5 || sensorType == 6;
}

}  // namespace

int TarnLiteSystemTab::startRun() {
    clearData();

    // The clear was refused because the sensor still runs: carry on in the same files.
    if (sensor->cycleCount != 0)
        return reopenRunFiles();

    const QString applicationDir = QCoreApplication::applicationDirPath();
    const QString runDir = QString("%1/TempData/%2 %3")
                               .arg(applicationDir, runDateStamp(),
                                    safeNamePart(QString::fromLatin1(sensor->sensorName)));
    const QString runEncDir = QString("%1/enc").arg(runDir);

    if (QDir(runDir).exists()) {
        if (messageBox("Directory Already Exists", "Do you want to overwrite existing data?", kBoxStyle, true) !=
            QMessageBox::Ok)
            return 1;
        removeDirectoryFiles(runEncDir);
        removeDirectoryFiles(runDir);
    }
    tempDataDir = runDir;
    encDataDir = runEncDir;
    return openRunFiles();
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
    if (isPpmSensor(sensor->sensorInfo.sensorType))
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

    writeEncrypted(encDataFile, "%f, %d, ", time, sensor->sensorCycle);
    textPrintf(csvDataFile, "%f, %d, ", time, sensor->sensorCycle);
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
