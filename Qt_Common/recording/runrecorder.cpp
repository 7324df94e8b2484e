#include "runrecorder.h"

#include <QDir>

#include <cstdarg>

#include "presentation.h"
#include "runfiles.h"
#include "sample.h"
#include "vqs.h"

RunRecorder::~RunRecorder() {
    closeRunFiles();
}

QString RunRecorder::runDirectory(const QString& baseDirectory, const QString& sensorName, const QDateTime& when) {
    return QString("%1/%2 %3").arg(baseDirectory, runDateStamp(when), safeNamePart(sensorName));
}

void RunRecorder::setRunDirectory(const QString& runDirectory) {
    tempDataDir = runDirectory;
    encDataDir = QString("%1/enc").arg(runDirectory);
}

RunRecorder::OpenResult RunRecorder::openRunFiles(const VQS& sensor, bool ppmTable) {
    QDir().mkdir(tempDataDir);
    QDir().mkdir(encDataDir);
    csvDataPath = QString("%1/vqsData.csv").arg(tempDataDir);
    timeLogPath = QString("%1/timelog.txt").arg(tempDataDir);
    encDataPath = QString("%1/vqsData.enc").arg(encDataDir);
    testInfoPath = QString("%1/testInfo.enc").arg(encDataDir);

    if (FILE* info = openFile(testInfoPath, "ab")) {
        writeEncrypted(info, "VQS Sensor Interface: %s\n", QByteArray(appVersion).constData());
        writeEncrypted(info, "MCU ID: 0x%s\n", sensor.mcuId);
        writeEncrypted(info, "Sensor Name: %s\n", sensor.sensorName);
        writeEncrypted(info, "%s\n", sensor.versionText);
        std::fclose(info);
    }

    closeFile(encDataFile);
    encDataFile = openFile(encDataPath, "ab");
    if (!encDataFile)
        return EngineeringFileFailed;
    writeEncrypted(encDataFile, "Time [s], Cycle , T [C], P [kPa], RH [%%], AH [g/m3], ");
    writeEncrypted(encDataFile, "dDSCMidCompNorm [%%LEL], dDSCMaxCompNorm [%%LEL], ");
    writeEncrypted(encDataFile, "FlamID , FlamConc [%%LEL], ");
    writeEncrypted(encDataFile, "DSC1MidP_K [mW], DSC1MaxP_K [mW], ");
    if (!sensor.v3Answer)
        writeEncrypted(encDataFile, "Sensor Status,Internal Status,Internal Status Strings,TRaw,PRaw,RHRaw");
    else
        writeEncrypted(encDataFile, "Sensor Status,Internal Status,Internal Status Strings");
    writeEncrypted(encDataFile, ",Analog Out [V]");
    writeEncrypted(encDataFile, "\r\n");

    closeFile(csvDataFile);
    csvDataFile = openFile(csvDataPath, "ab");
    if (!csvDataFile) {
        // An abandoned start keeps no file open: an open file could not be
        // deleted by the next clear on Windows.
        closeFile(encDataFile);
        return CustomerFileFailed;
    }
    textPrintf(csvDataFile, "Time [s], Cycle , T [C], P [kPa], RH [%%], ");
    const QString column =
        presentation::runConcColumn(ppmTable ? presentation::RunUnit::Ppm : presentation::RunUnit::Lel);
    textPrintf(csvDataFile, "Gas ID , %s", column.toLatin1().constData());
    textPrintf(csvDataFile, "\n");
    std::fflush(csvDataFile);
    return Opened;
}

RunRecorder::OpenResult RunRecorder::reopenRunFiles() {
    closeFile(encDataFile);
    encDataFile = openFile(encDataPath, "ab");
    if (!encDataFile)
        return EngineeringFileFailed;
    closeFile(csvDataFile);
    csvDataFile = openFile(csvDataPath, "ab");
    if (!csvDataFile) {
        closeFile(encDataFile);
        return CustomerFileFailed;
    }
    return Opened;
}

void RunRecorder::closeRunFiles() {
    closeFile(encDataFile);
    closeFile(csvDataFile);
}

void RunRecorder::writeDataRow(double time, const Sample& sample) {
    const answer_t& a = sample.answer;
    const int32_t cycle = sample.cycle;
    writeEncrypted(encDataFile, "%f, %d, ", time, cycle);
    textPrintf(csvDataFile, "%f, %d, ", time, cycle);
    writeEncrypted(encDataFile, "%f, %f, %f, %f, ", double(a.temperature), double(a.pressure), double(a.humidity),
                   double(a.absHumidity));
    textPrintf(csvDataFile, "%f, %f, %f, ", double(a.temperature), double(a.pressure), double(a.humidity));
    writeEncrypted(encDataFile, "%f, %f, ", double(a.midCompNorm), double(a.maxCompNorm));
    writeEncrypted(encDataFile, "%u, %f, ", a.gasId, double(a.concentration));
    textPrintf(csvDataFile, "%u, %f", a.gasId, double(a.concentration));
    writeEncrypted(encDataFile, "%f, %f, ", double(a.dsc1MidPower), double(a.dsc1MaxPower));
    char statusBits[512];
    statusBitsToText(a.internalStatus, statusBits);
    // Longer than one record when many bits are set: written as several records.
    writeEncrypted(encDataFile, "%d, %u, %s, ", a.sensorStatus, a.internalStatus, statusBits);
    if (!sample.v3Answer)
        writeEncrypted(encDataFile, "%f, %f, %f,", double(a.temperatureRaw), double(a.pressureRaw),
                       double(a.humidityRaw));
    writeEncrypted(encDataFile, "%f", double(sample.analogOut));
    writeEncrypted(encDataFile, "\r\n");
    textPrintf(csvDataFile, "\n");
    // Every recorded cycle reaches the file at once, so a crash loses none.
    if (csvDataFile)
        std::fflush(csvDataFile);
}

void RunRecorder::writeTimeLog(const QString& event) {
    if (timeLogPath.isEmpty())
        return;
    FILE* log = openFile(timeLogPath, "ab");
    if (!log)
        return;
    textPrintf(log, "%s: %s\n", timeLogStamp().toLatin1().constData(), event.toLatin1().constData());
    std::fclose(log);
}

void RunRecorder::writeEncrypted(FILE* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    encryption.writeEncryptedV(file, format, args);
    va_end(args);
}
