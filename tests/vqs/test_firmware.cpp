// Firmware transfer: USB chunks against the simulator, and the UART bootloader
// path with the real flasher and with scripted stand-ins placed beside the test.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <vector>

#include "captured_log.h"
#include "simulator.h"
#include "sim_link.h"
#include "vqs.h"

namespace {

QString flasherBesideProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/stm32flash");
}

// Installs a shell script as the program-directory flasher; removed by the destructor.
struct ScriptedFlasher {
    explicit ScriptedFlasher(const QByteArray& body) {
        QFile file(flasherBesideProgram());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write("#!/bin/sh\n" + body);
            file.close();
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
    }
    ~ScriptedFlasher() { QFile::remove(flasherBesideProgram()); }
};

std::vector<uint8_t> patternImage(size_t size, uint8_t salt) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = uint8_t((i * 7 + salt) ^ (i >> 8));
    return image;
}

bool writeFile(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

}  // namespace

class TestFirmware : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QList<int> progress;
    int links = 0;

    bool openPty(vqssim::Simulator& sim) { return openThroughLink(sim, dir, QStringLiteral("sensor-%1").arg(++links)); }

    void attach(VQS& vqs, vqssim::Simulator& sim, int transport) {
        vqs.portPath = sim.path();
        vqs.transport = transport;
        progress.clear();
        QObject::connect(&vqs, &VQS::VQSFWChunkWritten, this, [this](int p) { progress << p; });
    }
    // Starts the simulated sensor and attaches `vqs` to it; false when no pseudo-terminal opens.
    bool start(vqssim::Simulator& sim, VQS& vqs, int transport) {
        if (!openPty(sim))
            return false;
        sim.start();
        attach(vqs, sim, transport);
        return true;
    }
    QString imagePath(const std::vector<uint8_t>& image) {
        const QString path = dir.filePath(QStringLiteral("image.bin"));
        writeFile(path, image);
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QFile::remove(flasherBesideProgram());
    }

    void usbWritesChunksWithChainedCheck() {
        vqssim::Simulator sim(vqssim::Framing::Usb);
        VQS vqs;
        QVERIFY(start(sim, vqs, 0));
        const auto image = patternImage(130, 1);
        QByteArray path = imagePath(image).toLatin1();

        CapturedLog log;
        QCOMPARE(int(vqs.updateFirmware(path.data())), 0);
        QCOMPARE(progress, (QList<int>{49, 98, 100}));
        QVERIFY(sim.firmwareImageMatches(image));
        QVERIFY(sim.firmwareComplete());
        QVERIFY(!vqs.portOpen);

        // Chunks 0, 1, 2; only the last is flagged, and it carries 2 bytes and 62 zeros.
        std::vector<vqssim::Request> chunks;
        for (const auto& r : sim.requests())
            if (r.command == vqssim::cmd::UsbFirmwareChunk && !r.repeat)
                chunks.push_back(r);
        QCOMPARE(chunks.size(), size_t(3));
        for (uint32_t n = 0; n < 3; ++n) {
            firmwareWriteRequest request;
            QCOMPARE(chunks[n].payload.size(), sizeof(request));
            std::memcpy(&request, chunks[n].payload.data(), sizeof(request));
            QCOMPARE(request.chunkNumber, n);
            QCOMPARE(request.lastChunk, n == 2 ? 1u : 0u);
            QVERIFY(request.checksum <= 0xFFFF);
        }
        firmwareWriteRequest last;
        std::memcpy(&last, chunks[2].payload.data(), sizeof(last));
        QCOMPARE(int(last.data[0]), int(image[128]));
        QCOMPARE(int(last.data[1]), int(image[129]));
        for (int i = 2; i < 64; ++i)
            QCOMPARE(int(last.data[i]), 0);
        QVERIFY(log.has(QtInfoMsg, QStringLiteral("Writing file '")));
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("- wrote 130 bytes")));
    }

    void usbStopsOnBadReplies_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("lagging chunk number") << int(vqssim::FaultKind::ChunkOutOfSequence)
                                              << QStringLiteral("- Data written out of sequence, abort!");
        QTest::newRow("refused status") << int(vqssim::FaultKind::ChunkRefused)
                                        << QStringLiteral("- Failed status: 0x1");
    }
    void usbStopsOnBadReplies() {
        QFETCH(int, kind);
        QFETCH(QString, message);
        vqssim::Simulator sim(vqssim::Framing::Usb);
        QVERIFY(openPty(sim));
        sim.addFault(vqssim::Fault::onCommand(vqssim::FaultKind(kind), vqssim::cmd::UsbFirmwareChunk, 2));
        sim.start();
        VQS vqs;
        attach(vqs, sim, 0);
        QByteArray path = imagePath(patternImage(300, 2)).toLatin1();

        CapturedLog log;
        QCOMPARE(int(vqs.updateFirmware(path.data())), 1);
        QVERIFY2(log.has(QtWarningMsg, message), qPrintable(log.dump()));
        QCOMPARE(progress, QList<int>{21});  // only the first chunk counted as written
        QVERIFY(!vqs.portOpen);
        QCOMPARE(sim.requestCount(vqssim::cmd::UsbFirmwareChunk), size_t(2));
    }

    void usbEdgeFiles() {
        vqssim::Simulator sim(vqssim::Framing::Usb);
        VQS vqs;
        QVERIFY(start(sim, vqs, 0));
        CapturedLog log;

        // Nothing to send is no write; an image beyond the application area is refused
        // whole rather than written up to where the sensor stops taking chunks.
        QByteArray empty = imagePath({}).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(empty.data())), 1);
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("- firmware image is empty")));
        QByteArray large = imagePath(patternImage(114 * 1024 + 64, 3)).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(large.data())), 1);
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("- firmware image too large for the sensor: 116800 bytes")));
        QCOMPARE(sim.requestCount(), size_t(0));
        QVERIFY(!vqs.portOpen);

        QByteArray missing = dir.filePath(QStringLiteral("missing.bin")).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(missing.data())), 1);
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("- Unable to find or access '")));

        vqs.transport = 7;
        QCOMPARE(int(vqs.updateFirmware(empty.data())), 1);
        QVERIFY(progress.isEmpty());
    }

    // The real flasher through the simulated bootloader. Ptys drop the parity bit that
    // the flasher reads back, so the stand-in runs it in 8N1 and keeps its argument list.
    void uartWritesImageWithRealFlasher() {
        const QString real = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
        if (real.isEmpty())
            QSKIP("stm32flash is not installed");
        const QString argsFile = dir.filePath(QStringLiteral("args.txt"));
        ScriptedFlasher flasher("for a in \"$@\"; do echo \"$a\"; done > '" + argsFile.toLocal8Bit() +
                                "'\nexec '" + real.toLocal8Bit() + "' -m 8n1 \"$@\"\n");
        vqssim::Simulator sim(vqssim::Framing::Uart);
        VQS vqs;
        QVERIFY(start(sim, vqs, 1));
        const auto image = patternImage(3000, 3);
        const QString path = imagePath(image);
        QByteArray latin = path.toLatin1();

        QCOMPARE(int(vqs.updateFirmware(latin.data())), 0);
        QCOMPARE(progress.first(), 0);
        QCOMPARE(progress.last(), 100);
        // How many steps show depends on how the flasher's output is split into reads.
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(sim.requestCount(vqssim::cmd::UartEnterBootloader), size_t(1));

        QFile args(argsFile);
        QVERIFY(args.open(QIODevice::ReadOnly));
        const QStringList expected{"-S", "0x08001800:0x1C800", "-b", "115200", "-w", path,
                                   QString::fromStdString(sim.path())};
        QCOMPARE(QString::fromLocal8Bit(args.readAll()).split('\n', Qt::SkipEmptyParts), expected);

        // Where "-s 6 -e 114" means it: written from page 6, pages 6..119 erased, page 0 untouched.
        const auto written = sim.flash(0x08001800, image.size());
        QVERIFY(written == image);
        QCOMPARE(sim.bootloaderLowestWrite(), 0x08001800u);
        QCOMPARE(sim.bootloaderPagesErased(), 114u);
        const auto bootArea = sim.flash(vqssim::kFlashBase, 0x1800);
        QVERIFY(std::all_of(bootArea.begin(), bootArea.end(), [](uint8_t b) { return b == 0xFF; }));
    }

    // Records cut anywhere and several per read: the last whole percentage counts.
    void uartReadsProgressRecordsNotLines() {
        ScriptedFlasher flasher(
            "printf 'stm32flash\\n\\nWrite to memory\\nErasing memory\\n'\n"
            "printf '\\rWrote address 0x08001900 (50.00%%) \\rWrote address 0x08001a00 (75.00%%) "
            "\\rWrote address 0x08001b00 (99.61%%) '\n"
            "sleep 0.3\nprintf '\\rWrote address 0x08001c00 (10'\nsleep 0.3\n"
            "printf '0.00%%) Done.\\n\\n'\n");
        vqssim::Simulator sim(vqssim::Framing::Uart);
        VQS vqs;
        QVERIFY(start(sim, vqs, 1));
        QByteArray path = imagePath(patternImage(64, 4)).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(path.data())), 0);
        QCOMPARE(progress, (QList<int>{0, 99, 100}));
    }

    // Two readings within one percent give one value; a line without a percentage keeps the
    // flasher alive; then ten 2-second silences end the reading and the write fails.
    void uartSilentFlasherFails() {
        ScriptedFlasher flasher(
            "printf 'Wrote address 0x08001900 (12.50%%)\\n'\nsleep 1\n"
            "printf 'Wrote address 0x08001a00 (12.90%%)\\n'\nsleep 1.5\n"
            "printf 'still busy\\n'\nsleep 24\n");
        vqssim::Simulator sim(vqssim::Framing::Uart);
        VQS vqs;
        QVERIFY(start(sim, vqs, 1));
        QByteArray path = imagePath(patternImage(64, 5)).toLatin1();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(int(vqs.updateFirmware(path.data())), 1);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(progress, (QList<int>{0, 12}));
        // 3 s bootloader start, 2.5 s of output, then ten 2 s silences (the flasher ends at ~29.5 s).
        QVERIFY2(elapsed >= 3000 + 2500 + 20000 - 500, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < 60000, qPrintable(QString::number(elapsed)));
    }

    void uartBootloaderRefused() {
        ScriptedFlasher flasher("exit 0\n");
        vqssim::Simulator sim(vqssim::Framing::Uart);
        QVERIFY(openPty(sim));
        sim.addFault(vqssim::Fault::onCommand(vqssim::FaultKind::NoReply, vqssim::cmd::UartEnterBootloader, 1, 0));
        sim.start();
        VQS vqs;
        attach(vqs, sim, 1);
        QByteArray path = imagePath(patternImage(64, 6)).toLatin1();
        CapturedLog log;
        QCOMPARE(int(vqs.updateFirmware(path.data())), 1);
        QVERIFY2(log.has(QtWarningMsg, QStringLiteral("- set bootloader mode failed")), qPrintable(log.dump()));
        QVERIFY(!vqs.portOpen);
    }

    // The application area is 114 pages of 1 KiB from page 6. The flasher cuts a longer
    // image short and still reports success, so one is refused before the sensor is
    // touched; an empty image would strand the sensor in its bootloader. An image that
    // fills the area exactly is written.
    void uartImageMustFitTheApplicationArea() {
        const QString started = dir.filePath(QStringLiteral("flasher-started"));
        ScriptedFlasher flasher("touch '" + started.toLocal8Bit() + "'\nprintf '(100.00%%) Done.\\n'\n");
        QFile::remove(started);
        vqssim::Simulator sim(vqssim::Framing::Uart);
        VQS vqs;
        QVERIFY(start(sim, vqs, 1));
        CapturedLog log;
        QByteArray large = imagePath(patternImage(114 * 1024 + 1, 8)).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(large.data())), 1);
        QVERIFY2(log.has(QtWarningMsg, QStringLiteral("- firmware image too large for the sensor: 116737 bytes, "
                                                      "at most 116736")),
                 qPrintable(log.dump()));
        QByteArray empty = imagePath({}).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(empty.data())), 1);
        QVERIFY(log.has(QtWarningMsg, QStringLiteral("- firmware image is empty")));
        QCOMPARE(sim.requestCount(), size_t(0));
        QVERIFY(progress.isEmpty());
        QVERIFY(!QFile::exists(started));

        QByteArray fits = imagePath(patternImage(114 * 1024, 9)).toLatin1();
        QCOMPARE(int(vqs.updateFirmware(fits.data())), 0);
        QVERIFY(QFile::exists(started));
        QCOMPARE(progress, (QList<int>{0, 100}));
    }

    void uartMissingFlasherTellsTheUser() {
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", dir.path().toLocal8Bit());
        vqssim::Simulator sim(vqssim::Framing::Uart);
        VQS vqs;
        QVERIFY(start(sim, vqs, 1));
        QStringList told;
        vqs.userError = [&told](const QString& text, const QString& info) { told << text << info; };
        QByteArray path = imagePath(patternImage(64, 7)).toLatin1();
        const int result = vqs.updateFirmware(path.data());
        qputenv("PATH", savedPath);
        QCOMPARE(result, 1);
        QCOMPARE(told, (QStringList{"File Open Error", "Could not open 'stm32flash.exe'"}));
        QVERIFY(progress.isEmpty());
        QCOMPARE(sim.requestCount(), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestFirmware)
#include "test_firmware.moc"
