// Firmware transfer into the sensor: streamed 64-byte chunks over the USB
// framing, or the sensor's UART bootloader driven by the external flasher.
#include "vqs.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <cstring>

#include "vqs_framing.h"

namespace {

constexpr uint16_t kCmdFirmwareChunk = 0x01A4;
constexpr uint16_t kCmdEnterBootloader = 0x63;
constexpr uint32_t kChunkWritten = 3;
constexpr uint32_t kChunkReplyWaitSeconds = 5;
constexpr uint16_t kChunkCheckSeed = 0xFFFF;

constexpr unsigned kBootloaderStartMs = 3000;
constexpr int kFlasherStartMs = 30000;
constexpr int kFlasherOutputWaitMs = 2000;
constexpr int kFlasherSilentWaitsAllowed = 9;  // the tenth silent wait in a row ends reading
constexpr int kFlasherFinishMs = 90000;
constexpr unsigned kAfterFlashMs = 3000;
// Enough for a few progress records; a flasher that prints without any line
// break cannot make the kept tail grow without bound.
constexpr int kFlasherTailLimit = 4096;

// Application region of the sensor's controller (1 KiB pages): page 6 onwards,
// 114 pages erased, i.e. 0x08001800 .. 0x0801DFFF. The flasher's page options
// ("-s 6 -e 114") are ignored by its current versions when writing a file, which
// then write from page 0 over the sensor's boot code; the same region as start
// address and length is honoured by every version that has it, and the flasher
// refuses a mix of both forms.
const char* const kFlasherRegion = "0x08001800:0x1C800";
// The largest image that fits the application region. The flasher cuts a longer
// file at the region's end and still reports success; over USB the sensor would
// take chunks past the region's end. A longer image is refused either way.
constexpr qint64 kApplicationAreaBytes = 114 * 1024;

#ifdef Q_OS_WIN
const char* const kFlasherFileName = "/stm32flash.exe";
const char* const kFlasherFixedPath = "C:\\Relaybank\\executables\\stm32flash.exe";
#else
const char* const kFlasherFileName = "/stm32flash";
#endif

// Progress of the flasher: the integer part of the last "<digits>.<digits>%".
const QRegularExpression& progressPattern() {
    static const QRegularExpression pattern(QStringLiteral("((\\d+).(\\d+)%)"));
    return pattern;
}

// The image rule, logged when broken; checked before the sensor is touched.
bool imageFitsSensor(const char* sensorName, const char* path) {
    const QFileInfo info(QString::fromUtf8(path));
    if (!info.isFile() || !info.isReadable()) {
        qWarning("%s - Unable to find or access '%s'", sensorName, path);
        return false;
    }
    const QString problem = VQS::firmwareImageProblem(info.filePath());
    if (!problem.isEmpty()) {
        qWarning().noquote() << sensorName << QStringLiteral("- ") + problem;
        return false;
    }
    return true;
}

}  // namespace

QString VQS::firmwareImageProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return QStringLiteral("no readable image file");
    const qint64 size = info.size();
    // An empty image would leave a UART sensor in its bootloader with nothing written,
    // and over USB nothing would be sent although the write reports success.
    if (size == 0)
        return QStringLiteral("firmware image is empty");
    if (size > kApplicationAreaBytes)
        return QStringLiteral("firmware image too large for the sensor: %1 bytes, at most %2")
            .arg(size)
            .arg(kApplicationAreaBytes);
    return QString();
}

VQSStatus VQS::updateFirmware(char* path) {
    return framing().updateFirmware(*this, path);
}

VQSStatus VQS::usbUpdateFirmware(char* path) {
    if (!imageFitsSensor(logName(), path))
        return VQS_FAILURE;
    const QString filePath = QString::fromUtf8(path);
    const qint64 size = QFileInfo(filePath).size();
    if (size < 0) {
        qWarning() << logName() << "- Unable to file stats";
        return VQS_FAILURE;
    }

    if (connect() != VQS_SUCCESS) {
        qWarning() << logName() << "- Transfer failed";
        return VQS_FAILURE;
    }
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("%s - Unable to open '%s'", logName(), path);
        disconnect();
        return VQS_FAILURE;
    }
    qInfo("Writing file '%s' (%lld bytes)", path, static_cast<long long>(size));

    firmwareWriteRequest request;
    std::memset(&request, 0, sizeof(request));
    uint32_t chunk = 0;
    qint64 sent = 0;
    uint16_t check = kChunkCheckSeed;

    for (;;) {
        const qint64 count = file.read(reinterpret_cast<char*>(request.data), sizeof(request.data));
        if (count == 0) {
            file.close();
            disconnect();
            return VQS_SUCCESS;
        }
        if (count < 0) {
            // The image changed or vanished under us: a partial write must not look complete.
            qWarning("%s - Unable to read '%s'", logName(), path);
            file.close();
            disconnect();
            return VQS_FAILURE;
        }
        sent += count;
        request.chunkNumber = chunk;
        // The check value covers the whole padded data field and chains from chunk to chunk.
        check = crc16(request.data, sizeof(request.data), check);
        request.checksum = check;
        if (sent >= size)
            request.lastChunk = 1;

        uint16_t length = 0;
        VQSBuffer reply;
        if (usbSend(kCmdFirmwareChunk, reinterpret_cast<uint8_t*>(&request), sizeof(request)) == 0)
            reply = usbRecv(kCmdFirmwareChunk, &length, kChunkReplyWaitSeconds);

        firmwareWriteReply result{};
        if (reply && length >= sizeof(result))
            std::memcpy(&result, reply.get(), sizeof(result));
        if (!reply)
            qWarning() << logName() << "- Transfer failed";
        else if (length < sizeof(result))
            qWarning() << logName() << "- fwWrite incomplete reply received";
        else if (result.chunkNumber != chunk)
            qWarning() << logName() << "- Data written out of sequence, abort!";
        else if (result.status != kChunkWritten)
            qWarning().noquote() << logName() << QStringLiteral("- Failed status: 0x%1").arg(result.status, 0, 16);
        if (!reply || length < sizeof(result) || result.chunkNumber != chunk || result.status != kChunkWritten) {
            file.close();
            disconnect();
            return VQS_FAILURE;
        }

        ++chunk;
        const double percent = static_cast<double>(sent) / static_cast<double>(size) * 100.0;
        qWarning() << logName() << "- wrote" << sent << "bytes";
        qDebug() << percent;
        emit VQSFWChunkWritten(static_cast<int>(percent));
        std::memset(request.data, 0, sizeof(request.data));
    }
}

QString VQS::flasherPath() const {
    const QString besideProgram = QCoreApplication::applicationDirPath() + QLatin1String(kFlasherFileName);
    if (QFileInfo(besideProgram).isFile())
        return besideProgram;
#ifdef Q_OS_WIN
    const QString fixed = QString::fromLatin1(kFlasherFixedPath);
    return QFileInfo(fixed).isFile() ? fixed : QString();
#else
    return QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
#endif
}

VQSStatus VQS::uartUpdateFirmware(char* path) {
    // Checked before the sensor is sent to its bootloader.
    if (!imageFitsSensor(logName(), path))
        return VQS_FAILURE;
    const QString flasher = flasherPath();
    if (flasher.isEmpty()) {
        qWarning() << logName() << "- flasher not found";
        if (userError)
            userError(QStringLiteral("File Open Error"), QStringLiteral("Could not open 'stm32flash.exe'"));
        return VQS_FAILURE;
    }

    emit VQSFWChunkWritten(0);

    if (connect() != VQS_SUCCESS || uartSend(kCmdEnterBootloader, nullptr, 0) != 0) {
        disconnect();
        return VQS_FAILURE;
    }
    if (uartRecv(kCmdEnterBootloader, nullptr, 0) != 0) {
        qWarning() << logName() << "- set bootloader mode failed";
        disconnect();
        return VQS_FAILURE;
    }
    // The flasher needs the port to itself; the sensor restarts into its bootloader meanwhile.
    disconnect();
    sleepMs(kBootloaderStartMs);

    const QString port = portPath.empty() ? QStringLiteral("COM%1").arg(portNumber)
                                          : QString::fromStdString(portPath);
    QProcess process;
    QString image = QString::fromUtf8(path);
#ifdef Q_OS_WIN
    // The flasher reads its arguments in the ANSI code page, which cannot spell
    // every user's name, and so not every directory of ours: it runs in the
    // image's directory and is given the plain file name alone.
    const QFileInfo imageInfo(image);
    bool plainName = true;
    for (const QChar c : imageInfo.fileName())
        plainName = plainName && c.unicode() >= 0x20 && c.unicode() < 0x7F;
    if (plainName) {
        process.setWorkingDirectory(imageInfo.absolutePath());
        image = imageInfo.fileName();
    }
#endif
    const QStringList arguments{QStringLiteral("-S"), QLatin1String(kFlasherRegion),
                                QStringLiteral("-b"), QStringLiteral("115200"),
                                QStringLiteral("-w"), image, port};
    process.start(flasher, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(kFlasherStartMs)) {
        qWarning().noquote() << logName() << "- flasher did not start:" << process.errorString();
        return VQS_FAILURE;
    }

    // Progress records end in '\r' or '\n' and arrive cut at arbitrary points, several
    // per read; the unfinished tail is kept so a number is never read half-arrived.
    QByteArray tail;
    int progress = 0;
    int silentWaits = 0;
    for (;;) {
        if (process.bytesAvailable() == 0 && !process.waitForReadyRead(kFlasherOutputWaitMs)) {
            if (++silentWaits > kFlasherSilentWaitsAllowed)
                break;
            continue;
        }
        silentWaits = 0;
        tail += process.readAllStandardOutput();

        int value = -1;
        int recordStart = 0;
        for (int i = 0; i <= tail.size(); ++i) {
            const bool end = i == tail.size();
            if (!end && tail[i] != '\r' && tail[i] != '\n')
                continue;
            // A record still open at the end counts once its '%' is in: the digits
            // before it are whole because the record's start is kept.
            const QString record = QString::fromUtf8(tail.constData() + recordStart, i - recordStart);
            auto matches = progressPattern().globalMatch(record);
            while (matches.hasNext())
                value = matches.next().captured(2).toInt();
            recordStart = i + 1;
        }
        const int lastBreak = std::max(tail.lastIndexOf('\r'), tail.lastIndexOf('\n'));
        tail.remove(0, lastBreak + 1);
        if (tail.size() > kFlasherTailLimit)
            tail.remove(0, tail.size() - kFlasherTailLimit);

        if (value >= 0 && value != progress) {
            emit VQSFWChunkWritten(value);
            progress = value;
        }
    }

    const auto running = [&process] { return process.state() != QProcess::NotRunning; };
    if (progress == 100) {
        // Done once the image is written; a flasher lingering after that is not waited for.
        if (running() && !process.waitForFinished(kFlasherOutputWaitMs)) {
            process.kill();
            process.waitForFinished(kFlasherOutputWaitMs);
        }
        sleepMs(kAfterFlashMs);
        return VQS_SUCCESS;
    }
    if (running() && !process.waitForFinished(kFlasherFinishMs)) {
        qWarning() << logName() << "- flasher did not finish, stopping it";
        process.kill();
        process.waitForFinished(kFlasherOutputWaitMs);
    }
    const QByteArray errors = process.readAllStandardError().trimmed();
    qWarning().noquote() << logName() << "- firmware write incomplete:" << QString::fromUtf8(errors);
    return VQS_FAILURE;
}
