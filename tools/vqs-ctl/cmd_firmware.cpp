// firmware PORT IMAGE: writes an image over either framing and reads the version back.
#include <QFileInfo>
#include <QJsonObject>
#include <QThread>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "cli.h"
#include "commands.h"
#include "sensorport.h"
#include "vqs.h"

namespace {

// After the write the sensor restarts (and a USB port may come back only after a while).
constexpr int kVersionAttempts = 20;
constexpr unsigned long kVersionRetryMs = 1000;
constexpr int kBarWidth = 40;

// A bar on a terminal; one line per new value otherwise, so a log shows how far a write got.
class Progress {
public:
    Progress() : terminal_(isatty(fileno(stderr)) != 0) {}

    void show(int percent) {
        if (percent == last_)
            return;
        last_ = percent;
        if (terminal_) {
            const int filled = kBarWidth * qBound(0, percent, 100) / 100;
            std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(),
                         QByteArray(kBarWidth - filled, '.').constData(), percent);
        } else {
            std::fprintf(stderr, "progress %d%%\n", percent);
        }
        std::fflush(stderr);
    }

    void end() {
        if (terminal_ && last_ >= 0)
            std::fputc('\n', stderr);
        last_ = -1;
    }

private:
    bool terminal_;
    int last_ = -1;
};

bool readVersion(VQS& sensor) {
    const bool ok = sensor.connect() == VQS_SUCCESS && sensor.getVersion() == VQS_SUCCESS;
    sensor.disconnect();
    return ok;
}

}  // namespace

int runFirmware(const Args& args, const Output& out) {
    const QString image = args.positional.value(1);
    const QFileInfo imageInfo(image);
    // The sensor library's own rule, asked before the port is opened.
    const QString imageProblem = VQS::firmwareImageProblem(imageInfo.absoluteFilePath());
    if (!imageProblem.isEmpty())
        return out.failFile(ExitUsage, image, imageProblem);

    PortTarget target;
    int code = resolvePort(args, out, &target);
    if (code != ExitOk)
        return code;
    VQS sensor;
    sensor.retryCount = 3;
    if (target.transport == 1 && sensor.flasherPath().isEmpty())
        return out.fail(ExitSensorFailed, QString(), QStringLiteral("no-flasher"),
                        QStringLiteral("stm32flash not found: install it or place it beside vqs-ctl"));

    code = openSensor(sensor, target, out);
    if (code != ExitOk)
        return code;
    if (sensor.getVersion() != VQS_SUCCESS) {
        sensor.disconnect();
        return out.fail(ExitSensorFailed, target.label, QStringLiteral("no-answer"),
                        QStringLiteral("no sensor answers"));
    }
    const QString before = firmwareText(sensor);

    Progress progress;
    QObject::connect(&sensor, &VQS::VQSFWChunkWritten, [&progress](int percent) { progress.show(percent); });
    sensor.userError = [&out](const QString& text, const QString& informative) {
        out.note(text + QStringLiteral(": ") + informative);
    };
    // UTF-8, as the transfer reads the path.
    QByteArray path = imageInfo.absoluteFilePath().toUtf8();
    const VQSStatus written = sensor.updateFirmware(path.data());
    progress.end();
    sensor.disconnect();
    if (written != VQS_SUCCESS)
        return out.fail(ExitSensorFailed, target.label, QStringLiteral("not-written"),
                        QStringLiteral("firmware not written"));

    std::memset(sensor.firmwareVersionText, 0, sizeof(sensor.firmwareVersionText));
    std::memset(sensor.versionText, 0, sizeof(sensor.versionText));
    bool answered = false;
    for (int attempt = 0; attempt < kVersionAttempts && !answered; ++attempt) {
        if (attempt > 0)
            QThread::msleep(kVersionRetryMs);
        answered = readVersion(sensor);
    }
    if (!answered)
        return out.fail(ExitSensorFailed, target.label, QStringLiteral("no-answer"),
                        QStringLiteral("firmware written, but the sensor does not answer afterwards"));
    const QString after = firmwareText(sensor);
    out.line(QStringLiteral("firmware written: %1 -> %2").arg(before, after));
    if (out.json())
        out.document(QJsonObject{{QStringLiteral("port"), target.label},
                                 {QStringLiteral("image"), image},
                                 {QStringLiteral("written"), true},
                                 {QStringLiteral("before"), before},
                                 {QStringLiteral("after"), after}});
    return ExitOk;
}
