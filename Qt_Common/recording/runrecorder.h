// The files of one run: the customer table (vqsData.csv), the time log
// (timelog.txt), the enciphered engineering table (enc/vqsData.enc) and test
// information (enc/testInfo.enc). The sensor page and the command-line tool
// both record through this class, so every header and row exists once.
// Widget-free; used from one thread at a time.
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <cstdio>

#include "recordencryptor.h"

class VQS;
struct Sample;

class RunRecorder {
public:
    enum OpenResult { Opened = 0, EngineeringFileFailed, CustomerFileFailed };

    RunRecorder() = default;
    ~RunRecorder();
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // "<base>/<stamp> <sensor name>", the name made safe for one directory level.
    static QString runDirectory(const QString& baseDirectory, const QString& sensorName,
                                const QDateTime& when = QDateTime::currentDateTime());

    // Points the recorder at a run directory (its "enc" directory inside it).
    void setRunDirectory(const QString& runDirectory);
    // Creates the directories, writes the test information once and opens both
    // tables with their headers. The table's unit follows `ppmTable`.
    OpenResult openRunFiles(const VQS& sensor, bool ppmTable);
    // Opens both tables again for appending, without headers (a run carried on).
    OpenResult reopenRunFiles();
    // One cycle: the engineering row and the customer row, interleaved piece by
    // piece; the customer table is flushed so a crash loses no recorded cycle.
    // `seconds` is the run time of the sample's reply; its Cycle column is the sample's.
    void writeDataRow(double seconds, const Sample& sample);
    // "<stamp>: <event>" appended to the time log; nothing before a run directory is set.
    void writeTimeLog(const QString& event);
    // Closes both tables if open; harmless when they never opened.
    void closeRunFiles();

    bool isOpen() const { return encDataFile != nullptr && csvDataFile != nullptr; }

    QString tempDataDir;
    QString encDataDir;
    QString encDataPath;
    QString csvDataPath;
    QString timeLogPath;
    QString testInfoPath;
    FILE* encDataFile = nullptr;
    FILE* csvDataFile = nullptr;
    // Cipher and encryptState of the enciphered files.
    RecordEncryptor encryption;

private:
    void writeEncrypted(FILE* file, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
};
