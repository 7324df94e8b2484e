// vqs-ctl firmware against simulated sensors: USB chunks, and over UART the bootloader
// written by the real stm32flash; progress is reported and the version read again.
#include <QtTest>

#include "program_result.h"
#include "sim_link.h"
#include "simulator.h"

using namespace vqssim;

namespace {

using Result = ProgramResult;

Result run(const QString& program, const QStringList& args) {
    return runProgram(program, args);
}

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + (i >> 8));
    return v;
}

bool writeImage(const QString& path, const std::vector<uint8_t>& image) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(reinterpret_cast<const char*>(image.data()), qint64(image.size())) == qint64(image.size());
}

// Progress lines on a non-terminal stderr, in order.
QList<int> progressValues(const QString& err) {
    QList<int> values;
    auto matches = QRegularExpression(QStringLiteral("progress (\\d+)%")).globalMatch(err);
    while (matches.hasNext()) values.append(matches.next().captured(1).toInt());
    return values;
}

}  // namespace

class TestCtlFirmware : public QObject {
    Q_OBJECT

private slots:
    void writesOverUsbWithProgress() {
        Simulator sim(Framing::Usb);
        QTemporaryDir dir;
        QVERIFY(openThroughLink(sim, dir, QStringLiteral("sensor")));
        sim.start();
        const auto image = pattern(64 * 40 + 10);
        const QString file = dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(writeImage(file, image));

        const Result r = run(QStringLiteral(VQS_CTL_PATH),
                             {QStringLiteral("firmware"), QStringLiteral("--usb"), QString::fromStdString(sim.path()), file});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(sim.firmwareImageMatches(image));
        QVERIFY(sim.firmwareComplete());
        const QList<int> progress = progressValues(r.err);
        QVERIFY2(progress.size() > 10 && progress.last() == 100, qPrintable(r.err));
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QVERIFY2(r.out.startsWith(QStringLiteral("firmware written: ")), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("4.1.0.0")));

        // An empty image, or one beyond the application area (114 KiB), is refused before
        // the sensor is touched, over either framing.
        const QString empty = dir.filePath(QStringLiteral("empty.bin"));
        const QString large = dir.filePath(QStringLiteral("large.bin"));
        QVERIFY(writeImage(empty, {}));
        QVERIFY(writeImage(large, pattern(114 * 1024 + 64)));
        const size_t chunks = sim.requestCount(cmd::UsbFirmwareChunk);
        for (const QString& framing : {QStringLiteral("--usb"), QStringLiteral("--uart")}) {
            for (const QString& unusable : {empty, large}) {
                const Result r = run(QStringLiteral(VQS_CTL_PATH), {QStringLiteral("firmware"), framing,
                                                                    QString::fromStdString(sim.path()), unusable});
                QVERIFY2(r.code == 2, qPrintable(r.err));
                QCOMPARE(r.err.count('\n'), 1);
                QVERIFY(r.err.startsWith(QStringLiteral("vqs-ctl: %1: firmware image ").arg(unusable)));
            }
        }
        QCOMPARE(sim.requestCount(cmd::UsbFirmwareChunk), chunks);

        // A refused chunk is a failed write.
        sim.addFault(Fault::onCommand(FaultKind::ChunkRefused, cmd::UsbFirmwareChunk, 3));
        const Result refused = run(QStringLiteral(VQS_CTL_PATH),
                                   {QStringLiteral("firmware"), QStringLiteral("--usb"), QString::fromStdString(sim.path()), file});
        QCOMPARE(refused.code, 1);
        QVERIFY(refused.err.contains(QStringLiteral("firmware not written")));
    }

    // The tool runs from a directory of its own, with a flasher beside it that fits a
    // pseudo-terminal (8N1) and starts the written firmware as a sensor restarting would.
    void writesOverUartThroughTheFlasher() {
        const QString flasher = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
        if (flasher.isEmpty())
            QSKIP("stm32flash is not installed");
        QTemporaryDir dir;
        const QString tool = dir.filePath(QStringLiteral("vqs-ctl"));
        QVERIFY(QFile::copy(QStringLiteral(VQS_CTL_PATH), tool));
        const QString wrapper = dir.filePath(QStringLiteral("stm32flash"));
        {
            QFile f(wrapper);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\nexec '" + flasher.toLocal8Bit() + "' -m 8n1 -g 0x08000000 \"$@\"\n");
        }
        QFile::setPermissions(wrapper, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        Simulator sim(Framing::Uart);
        QVERIFY(openThroughLink(sim, dir, QStringLiteral("sensor")));
        sim.start();
        const auto image = pattern(3000);
        const QString file = dir.filePath(QStringLiteral("fw.bin"));
        QVERIFY(writeImage(file, image));

        const Result r = run(tool, {QStringLiteral("firmware"), QStringLiteral("--uart"),
                                    QString::fromStdString(sim.path()), file, QStringLiteral("--json")});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(sim.flash(0x08001800, image.size()) == image);
        QVERIFY(!sim.inBootloader());
        const QList<int> progress = progressValues(r.err);
        QVERIFY2(progress.size() >= 2 && progress.first() == 0 && progress.last() == 100, qPrintable(r.err));
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QVERIFY(o.value("written").toBool());
        QCOMPARE(o.value("after").toString(), QStringLiteral("4.1.0.0"));
    }
};

QTEST_GUILESS_MAIN(TestCtlFirmware)
#include "test_ctl_firmware.moc"
