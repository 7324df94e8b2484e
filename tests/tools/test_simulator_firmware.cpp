// Firmware into the simulated sensor: USB chunks with the chained check value, and the STM32
// bootloader behind UART command 0x63 driven by the real stm32flash.
#include <QtTest>

#include "sim_test_client.h"
#include "simulator.h"
#include "vqs_records.h"

using namespace vqssim;
using simtest::Client;

namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + seed + (i >> 8));
    return v;
}

// Sends the image as the client does; returns the replies (status, chunk) per chunk.
std::vector<std::pair<uint32_t, uint32_t>> sendChunks(Client& c, const std::vector<uint8_t>& image,
                                                      int corruptChunk = -1, int skipChunk = -1) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    uint16_t chain = 0xFFFF;
    size_t sent = 0;
    for (uint32_t n = 0; sent < image.size(); ++n) {
        firmwareWriteRequest q{};
        size_t k = std::min<size_t>(64, image.size() - sent);
        memcpy(q.data, image.data() + sent, k);
        sent += k;
        chain = simtest::crc(std::vector<uint8_t>(q.data, q.data + 64), chain);
        q.chunkNumber = n;
        q.checksum = chain ^ (int(n) == corruptChunk ? 1u : 0u);
        q.lastChunk = sent >= image.size();
        if (int(n) == skipChunk) continue;
        std::vector<uint8_t> p(sizeof q);
        memcpy(p.data(), &q, sizeof q);
        auto r = c.usb(cmd::UsbFirmwareChunk, p);
        if (r.payload.size() < 8) {
            out.emplace_back(UINT32_MAX, UINT32_MAX);
            break;
        }
        out.emplace_back(simtest::le32(r.payload, 0), simtest::le32(r.payload, 4));
        if (out.back() != std::make_pair(3u, n)) break;
    }
    return out;
}

bool runFlasher(const QStringList& args, QString* output, int timeoutMs = 30000) {
    QProcess p;
    p.start(QStringLiteral("stm32flash"), args);
    if (!p.waitForStarted(30000)) return false;
    p.waitForFinished(timeoutMs);
    *output = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

class TestSimulatorFirmware : public QObject {
    Q_OBJECT

private slots:
    void usbChunksChainAndNumbering() {
        Simulator sim(Framing::Usb);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        const auto image = pattern(130, 1);
        auto replies = sendChunks(c, image);
        QCOMPARE(replies.size(), size_t(3));
        for (uint32_t i = 0; i < 3; ++i) QCOMPARE(replies[i], std::make_pair(3u, i));
        QVERIFY(sim.firmwareImageMatches(image));
        QVERIFY(sim.firmwareComplete());
        QCOMPARE(sim.firmwareImage().size(), size_t(192));

        // A wrong chained value is refused with status 1; a skipped chunk gets status 2 and the
        // number the device expects. Chunk 0 starts over each time.
        replies = sendChunks(c, image, 1);
        QCOMPARE(replies.back(), std::make_pair(1u, 1u));
        QVERIFY(!sim.firmwareComplete());
        replies = sendChunks(c, image, -1, 1);
        QCOMPARE(replies.back(), std::make_pair(2u, 1u));
        QCOMPARE(sim.firmwareChunks(), 1u);
    }

    void usbChunkFaults() {
        Simulator sim(Framing::Usb);
        QVERIFY(sim.openPty());
        sim.addFault(Fault::onCommand(FaultKind::ChunkOutOfSequence, cmd::UsbFirmwareChunk, 2));
        sim.addFault(Fault::onCommand(FaultKind::ChunkRefused, cmd::UsbFirmwareChunk, 4, 1, 7));
        sim.start();
        Client c(sim.path());
        const auto image = pattern(200, 2);
        auto replies = sendChunks(c, image);
        QCOMPARE(replies.size(), size_t(2));
        QCOMPARE(replies[1], std::make_pair(3u, 0u));  // lags: chunk 1 answered as 0
        replies = sendChunks(c, image);
        QCOMPARE(replies.size(), size_t(2));
        QCOMPARE(replies[1], std::make_pair(7u, 1u));
        QCOMPARE(sim.firmwareChunks(), 1u);  // the refused chunk was not written
    }

    // stm32flash 0.7 on a pty: 8N1 (ptys drop PARENB, which its 8E1 check reads back).
    void stm32flashWritesThroughBootloader() {
        if (QStandardPaths::findExecutable(QStringLiteral("stm32flash")).isEmpty())
            QSKIP("stm32flash is not installed");
        Simulator sim(Framing::Uart);
        QVERIFY(sim.openPty());
        sim.start();
        {
            Client c(sim.path());
            auto r = c.uart(cmd::UartEnterBootloader);
            QVERIFY(r.checkOk);
            QCOMPARE(r.length, uint16_t(0));
        }
        QVERIFY(sim.inBootloader());
        QTemporaryDir dir;
        const auto image = pattern(5000, 3);
        const QString file = dir.filePath(QStringLiteral("fw.bin"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
        }
        QString out;
        QVERIFY2(runFlasher({"-m", "8n1", "-b", "115200", "-S", "0x08001800", "-w", file,
                             QString::fromStdString(sim.path())}, &out), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("(100.00%)")), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("0x0410")));
        QVERIFY(sim.flash(0x08001800, image.size()) == image);
        QCOMPARE(sim.bootloaderLowestWrite(), 0x08001800u);
        QCOMPARE(sim.bootloaderPagesErased(), 5u);
        const auto page0 = sim.flash(kFlashBase, 0x1800);
        QVERIFY(std::all_of(page0.begin(), page0.end(), [](uint8_t b) { return b == 0xFF; }));

        // Go returns to the sensor firmware, which answers frames again.
        QVERIFY2(runFlasher({"-m", "8n1", "-g", "0x08001800", QString::fromStdString(sim.path())}, &out), qPrintable(out));
        QVERIFY(!sim.inBootloader());
        Client c(sim.path());
        QVERIFY(c.uart(cmd::UartVersion, {0x55}).checkOk);
    }

    void silentBootloader() {
        if (QStandardPaths::findExecutable(QStringLiteral("stm32flash")).isEmpty())
            QSKIP("stm32flash is not installed");
        Simulator sim(Framing::Uart);
        QVERIFY(sim.openPty());
        sim.addFault(Fault::onCommand(FaultKind::SilentBootloader, cmd::UartEnterBootloader));
        sim.start();
        {
            Client c(sim.path());
            QVERIFY(c.uart(cmd::UartEnterBootloader).checkOk);
        }
        QString out;
        QVERIFY(!runFlasher({"-m", "8n1", QString::fromStdString(sim.path())}, &out));
        QCOMPARE(sim.bootloaderBytesWritten(), 0u);
        QVERIFY(sim.inBootloader());
    }
};

QTEST_GUILESS_MAIN(TestSimulatorFirmware)
#include "test_simulator_firmware.moc"
