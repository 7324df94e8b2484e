// The simulator's own behaviour, seen from a bare client: framing bytes, identity records,
// start-up codes, the request log, and fault scheduling.
#include <QtTest>

#include <cmath>

#include "sim_test_client.h"
#include "simulator.h"

using namespace vqssim;
using simtest::Client;

namespace {
std::vector<uint8_t> bytes(std::initializer_list<uint8_t> b) { return std::vector<uint8_t>(b); }
std::string text(const std::vector<uint8_t>& v, size_t off, size_t cap) {
    return std::string(reinterpret_cast<const char*>(v.data() + off), strnlen(reinterpret_cast<const char*>(v.data() + off), cap));
}
}  // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void uartVersionAndLog() {
        Identity id;
        id.firmware = {{4, 0, 9, 9}};
        Simulator sim(Framing::Uart, id);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        QVERIFY(c.ok());

        auto r = c.uart(cmd::UartVersion, bytes({0x55}));
        QVERIFY(r.complete && r.checkOk);
        QCOMPARE(r.command, uint16_t(0x42));
        QCOMPARE(r.status, uint8_t(0));
        QCOMPARE(r.payload.size(), size_t(58));
        QCOMPARE(r.payload[0], uint8_t(4));
        QCOMPARE(r.payload[3], uint8_t(9));
        QCOMPARE(text(r.payload, 8, 16), std::string("vqs-sim"));

        // The same frame again is logged as a repeat and answered alike.
        auto again = c.uart(cmd::UartVersion, bytes({0x55}));
        QCOMPARE(again.payload, r.payload);
        auto log = sim.requests();
        QCOMPARE(log.size(), size_t(2));
        QCOMPARE(log[0].bytes, Client::uartFrame(0x42, bytes({0x55})));
        QVERIFY(!log[0].repeat && log[1].repeat);
        QCOMPARE(log[1].index, 2u);

        id.shortVersion = true;
        sim.setIdentity(id);
        QCOMPARE(c.uart(cmd::UartVersion, bytes({0x55})).payload.size(), size_t(8));
    }

    // Firmware 4099 sends the short layout, 4100 the long one; no payload gives the fallback.
    void uartSensorInformationLayouts() {
        Identity id;
        id.firmware = {{4, 0, 9, 9}};
        id.mcuId = {{0x11111111u, 0x22222222u, 0x33333333u}};
        Simulator sim(Framing::Uart, id);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());

        auto shortInfo = c.uart(cmd::UartSensorInfo, bytes({0xAA})).payload;
        QCOMPARE(shortInfo.size(), size_t(112));
        QCOMPARE(text(shortInfo, 0, 32), id.name);
        QCOMPARE(simtest::le32(shortInfo, 32), 3u);
        QCOMPARE(text(shortInfo, 36, 16), id.calibrationDate);
        QCOMPARE(simtest::le32(shortInfo, 76), 0x11111111u);  // printed first
        QCOMPARE(simtest::le32(shortInfo, 68), 0x33333333u);

        id.firmware = {{4, 1, 0, 0}};
        sim.setIdentity(id);
        auto longInfo = c.uart(cmd::UartSensorInfo, bytes({0xAA})).payload;
        QCOMPARE(longInfo.size(), size_t(144));
        QCOMPARE(text(longInfo, 36, 32), id.sku);
        QCOMPARE(text(longInfo, 68, 16), id.calibrationDate);
        QCOMPARE(simtest::le32(longInfo, 108), 0x11111111u);
        QCOMPARE(simtest::le32(longInfo, 100), 0x33333333u);

        auto fallback = c.uart(cmd::UartSensorInfo).payload;
        QCOMPARE(fallback.size(), size_t(124));
        QCOMPARE(text(fallback, 44, 32), id.name);

        // Ill-formed requests get the reply-status codes.
        QCOMPARE(c.uart(cmd::UartSensorInfo, bytes({0x12})).status, uint8_t(0x02));
        QCOMPARE(c.uart(0x7A).status, uint8_t(0x05));
        auto bad = Client::uartFrame(cmd::UartVersion, bytes({0x55}));
        bad[6] ^= 1;
        c.write(bad);
        auto crcReply = c.readUart();
        QCOMPARE(crcReply.status, uint8_t(0x01));
        QVERIFY(!sim.requests().back().checkOk);
        // A header declaring more than any request holds is refused as incomplete, the rest dropped.
        c.write(bytes({0x46, 0, 0x28, 0x23, 0, 0, 0, 0, 1, 2, 3}));
        QCOMPARE(c.readUart().status, uint8_t(0x07));
        QVERIFY(c.uart(cmd::UartVersion, bytes({0x55})).checkOk);
    }

    void uartStartupSequence() {
        Simulator sim(Framing::Uart);
        sim.enableStartup(2);
        sim.setSensorStatus(0x31);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        std::vector<uint8_t> seen;
        for (int i = 0; i < 8; ++i) seen.push_back(c.uart(cmd::UartVersion, bytes({0x55})).status);
        QCOMPARE(seen, bytes({0x26, 0x26, 0x27, 0x27, 0x28, 0x28, 0x31, 0x31}));
        // A reboot starts the sequence again.
        c.write(Client::uartFrame(cmd::UartReboot));
        QVERIFY(sim.waitForRequests(9, 1000));
        QCOMPARE(c.uart(cmd::UartVersion, bytes({0x55})).status, uint8_t(0x26));
        QCOMPARE(sim.reboots(), 1u);
    }

    void usbPacketsEchoSequenceAndFlagErrors() {
        Simulator sim(Framing::Usb);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        c.sequence = 0x1234;
        auto v = c.usb(cmd::UsbVersion);
        QVERIFY(v.complete && v.checkOk);
        QCOMPARE(v.sequence, uint16_t(0x1234));
        QCOMPARE(v.command, cmd::UsbVersion);
        QCOMPARE(simtest::le16(v.header, 0), uint16_t(0x207E));
        QCOMPARE(std::string(reinterpret_cast<const char*>(v.payload.data())), std::string("Firmware: 4.1.0.0\r\nHardware: 2.1"));
        QCOMPARE(v.payload.back(), uint8_t(0));

        QCOMPARE(simtest::le16(c.usb(0x0777).payload, 0), uint16_t(5));  // unknown command
        auto name = c.usb(cmd::UsbSensorName);
        QCOMPARE(std::string(reinterpret_cast<const char*>(name.payload.data())), std::string("VQS-SIM-0001"));

        // Noise before a packet is skipped; a bad check value is reported with flag 0x0004.
        auto pkt = c.usbPacket(cmd::UsbVersion);
        pkt[12] = 0x55;  // reserved byte changed after the check value was computed
        std::vector<uint8_t> noisy{0x00, 0x7E, 0x13};
        noisy.insert(noisy.end(), pkt.begin(), pkt.end());
        c.write(noisy);
        auto flagged = c.readUsb();
        QCOMPARE(flagged.flags, uint16_t(0x0004));
        QCOMPARE(flagged.length, uint16_t(0));

        // A packet that stops short is answered with flag 0x0010 after the request time-out.
        auto cut = c.usbPacket(cmd::UsbSetState, bytes({0x32, 0, 0, 0}));
        cut.resize(18);
        c.write(cut);
        QCOMPARE(c.readUsb(2000).flags, uint16_t(0x0010));

        // A retransmission carries flag 0x0002 and is logged as a repeat.
        c.write(c.usbPacket(cmd::UsbSensorName, {}, 0x0002));
        QVERIFY(c.readUsb().checkOk);
        QVERIFY(sim.requests().back().repeat);
    }

    void faultsOnChosenRequests_data() {
        QTest::addColumn<int>("framing");
        QTest::newRow("uart") << int(Framing::Uart);
        QTest::newRow("usb") << int(Framing::Usb);
    }
    void faultsOnChosenRequests() {
        QFETCH(int, framing);
        const bool uart = framing == int(Framing::Uart);
        Simulator sim{Framing(framing)};
        QVERIFY(sim.openPty());
        const uint16_t ver = uart ? cmd::UartVersion : cmd::UsbVersion;
        const auto payload = uart ? bytes({0x55}) : std::vector<uint8_t>();
        sim.addFault(Fault::onRequest(FaultKind::NoReply, 2));
        sim.addFault(Fault::onCommand(FaultKind::BadCrc, ver, 3));
        sim.addFault(Fault::onCommand(FaultKind::WrongCommand, ver, 4));
        sim.addFault(Fault::onCommand(FaultKind::TruncatedHeader, ver, 5, 1, 4));
        sim.addFault(Fault::onCommand(FaultKind::TruncatedPayload, ver, 6, 1, 5));
        sim.addFault(Fault::onCommand(FaultKind::PayloadSize, ver, 7, 1, 3));
        sim.start();
        Client c(sim.path());
        auto ask = [&](int timeout = 500) {
            return uart ? c.uart(ver, payload, timeout) : c.usb(ver, payload, timeout);
        };
        QVERIFY(ask().checkOk);
        QVERIFY(ask(300).header.empty());
        auto badCrc = ask();
        QVERIFY(badCrc.complete && !badCrc.checkOk);
        auto wrong = ask();
        QVERIFY(wrong.checkOk);
        QCOMPARE(wrong.command, uint16_t(ver + 1));
        QCOMPARE(ask(300).header.size(), size_t(4));
        auto truncated = ask(300);
        QVERIFY(!truncated.complete);
        QCOMPARE(truncated.payload.size(), size_t(5));
        auto sized = ask();
        QVERIFY(sized.complete && sized.checkOk);
        QCOMPARE(sized.payload.size(), size_t(3));
        QVERIFY(ask().checkOk);  // all spent
        QCOMPARE(sim.pendingFaults(), size_t(0));
        QCOMPARE(sim.requests()[2].faults.size(), size_t(1));

        // Error flags over USB, a status code over UART; a delay is measurable.
        sim.addFault(uart ? Fault::onRequest(FaultKind::ReplyStatus, 9, 0x28) : Fault::onRequest(FaultKind::UsbFlags, 9, 0x0008));
        auto coded = ask();
        QVERIFY(coded.checkOk);
        if (uart) QCOMPARE(coded.status, uint8_t(0x28));
        else QCOMPARE(coded.flags, uint16_t(0x0008));
        sim.addFault(Fault::onRequest(FaultKind::Delay, 10, 400));
        QElapsedTimer t;
        t.start();
        QVERIFY(ask(2000).checkOk);
        QVERIFY(t.elapsed() >= 400);
        sim.addFault(Fault::onRequest(FaultKind::GarbageBefore, 11, 3));
        auto g = uart ? (c.write(Client::uartFrame(uint8_t(ver), payload)), c.read(3 + 6 + 58, 1000))
                      : (c.write(c.usbPacket(ver)), c.read(3 + 16 + 33, 1000));
        QCOMPARE(g.size(), size_t(uart ? 67 : 52));
    }

    void hangUpAndReplug() {
        const QString link = QDir::temp().filePath(QStringLiteral("vqs-sim-test-%1").arg(QCoreApplication::applicationPid()));
        Simulator sim(Framing::Uart);
        QVERIFY(sim.openPty(link.toStdString()));
        QCOMPARE(QString::fromStdString(sim.path()), link);
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromStdString(sim.slavePath()));
        sim.addFault(Fault::onCommand(FaultKind::HangUp, cmd::UartVersion, 2));
        sim.start();
        {
            Client c(sim.path());
            QVERIFY(c.uart(cmd::UartVersion, bytes({0x55})).checkOk);
            auto r = c.uart(cmd::UartVersion, bytes({0x55}), 1000);
            QVERIFY(r.header.empty());
            QVERIFY(c.hungUp);
            QVERIFY(!sim.isOpen());
            QVERIFY(!QFileInfo::exists(link));
        }
        QVERIFY(sim.replug());
        Client c(sim.path());
        QVERIFY(c.uart(cmd::UartVersion, bytes({0x55})).checkOk);

        // Plugged in again with its power: idle, sample 0 until told to measure.
        QVERIFY(sim.replug(Simulator::Replug::PowerCycled));
        QVERIFY(sim.idleSincePowerUp());
        QCOMPARE(sim.state(), uint8_t(0));
        QCOMPARE(sim.sampleNumber(), 0u);
        Client powered(sim.path());
        QVERIFY(powered.uart(cmd::UartSetState, bytes({0x03})).checkOk);
        QVERIFY(sim.idleSincePowerUp());
        QVERIFY(powered.uart(cmd::UartSetState, bytes({0x02})).checkOk);
        QVERIFY(!sim.idleSincePowerUp());
        QTRY_VERIFY_WITH_TIMEOUT(sim.sampleNumber() >= 1, 3000);
        sim.close();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // The same seed gives the same faults on the same requests.
    void randomFaultsAreReproducible() {
        auto run = [](uint32_t seed) {
            Simulator sim(Framing::Uart);
            sim.setRandomFaults(seed, 0.5, {FaultKind::NoReply, FaultKind::BadCrc, FaultKind::ReplyStatus});
            sim.openPty();
            sim.start();
            Client c(sim.path());
            for (int i = 0; i < 12; ++i) c.uart(cmd::UartVersion, bytes({0x55}), 150);
            std::vector<int> kinds;
            for (const Request& r : sim.requests()) kinds.push_back(r.faults.empty() ? -1 : int(r.faults[0]));
            return kinds;
        };
        auto a = run(7);
        QCOMPARE(run(7), a);
        QVERIFY(std::count(a.begin(), a.end(), -1) > 0 && std::count(a.begin(), a.end(), -1) < 12);
    }

    void parseFaultText() {
        Fault f;
        std::string err;
        QVERIFY(parseFault("delay=1500@cmd:0x42#2*3", &f, &err));
        QCOMPARE(int(f.kind), int(FaultKind::Delay));
        QCOMPARE(f.value, int64_t(1500));
        QCOMPARE(f.command, 0x42);
        QCOMPARE(f.occurrence, 2);
        QCOMPARE(f.times, 3);
        QVERIFY(parseFault("usbflags=0x0010@7", &f, &err));
        QCOMPARE(f.request, 7);
        QCOMPARE(f.value, int64_t(0x10));
        QVERIFY(parseFault("hangup*0", &f, &err));
        QCOMPARE(f.times, 0);
        QCOMPARE(f.command, -1);
        QVERIFY(!parseFault("melt@3", &f, &err));
        QVERIFY(!parseFault("noreply@cmd:0x10000", &f, &err));
        QVERIFY(!parseFault("noreply@0", &f, &err));
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
