// The simulated sensor's command set: the waveform and its sample clock, state, parameters,
// flash, calibration and the USB answer record.
#include <QElapsedTimer>
#include <QtTest>

#include "sim_test_client.h"
#include "simulator.h"
#include "vqs_records.h"

using namespace vqssim;
using simtest::Client;
using simtest::f32;
using simtest::le32;

namespace {
std::vector<uint8_t> bytes(std::initializer_list<uint8_t> b) { return std::vector<uint8_t>(b); }

std::vector<uint8_t> paramsRecord(const std::string& json) {
    std::vector<uint8_t> rec(kParamTransferSize, 0);
    uint32_t n = uint32_t(json.size());
    memcpy(rec.data() + 4, &n, 4);
    memcpy(rec.data() + 8, json.data(), json.size());
    return rec;
}
}  // namespace

class TestSimulatorCommands : public QObject {
    Q_OBJECT

private slots:
    void waveformShape() {
        auto w0 = Simulator::waveform(0, 0);
        QCOMPARE(w0.lel, 0.0f);
        QCOMPARE(w0.gasId, 0u);
        QVERIFY(w0.internalStatus & (1u << 25));
        auto w30 = Simulator::waveform(30, 0);
        QCOMPARE(w30.lel, 25.0f);
        QCOMPARE(w30.gasId, 3u);
        QCOMPARE(w30.internalStatus, 0u);
        QCOMPARE(Simulator::waveform(40, 0).lel, 50.0f);
        QCOMPARE(Simulator::waveform(59, 0).lel, 2.5f);
        QCOMPARE(Simulator::waveform(90, 3).concentration, 25.0f * 440.0f);
        QCOMPARE(Simulator::waveform(7, 0).temperature, 25.7f);
    }

    // UART engineering data follows the waveform in the unit last set, in the layout the
    // firmware number chooses; the sample number runs on its own clock unless held.
    void uartEngineeringDataAndClock_data() {
        QTest::addColumn<int>("build");
        QTest::addColumn<int>("recordSize");
        QTest::newRow("4.0.9.9") << 9 << 84;
        QTest::newRow("4.1.0.0") << 0 << 100;
    }
    void uartEngineeringDataAndClock() {
        QFETCH(int, build);
        QFETCH(int, recordSize);
        Identity id;
        id.firmware = build ? std::array<uint8_t, 4>{{4, 0, 9, 9}} : std::array<uint8_t, 4>{{4, 1, 0, 0}};
        Options opt;
        opt.samplePeriodMs = 100;
        Simulator sim(Framing::Uart, id, opt);
        sim.setExtraStatusBits(1u << 21);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        QVERIFY(c.uart(cmd::UartSetState, bytes({0x32})).checkOk);
        QCOMPARE(sim.state(), uint8_t(2));
        QCOMPARE(sim.unit(), uint8_t(3));
        QCOMPARE(c.uart(cmd::UartSetState, bytes({0x07})).status, uint8_t(0x02));  // not a state

        sim.holdSamples(true);
        sim.setSampleNumber(30);
        auto r = c.uart(cmd::UartEngData).payload;
        QCOMPARE(r.size(), size_t(1024));
        QCOMPARE(le32(r, 0), uint32_t(recordSize));
        QCOMPARE(le32(r, 8), 30u);  // sample number, word 1 of the record
        QCOMPARE(f32(r, 12), 25.0f * 440.0f);
        QCOMPARE(le32(r, 16), 3u);
        QCOMPARE(le32(r, 4 + size_t(recordSize) - 4), 1u << 21);
        QCOMPARE(le32(c.uart(cmd::UartEngData).payload, 8), 30u);  // held

        auto verbose = c.uart(cmd::UartVerboseAnswer).payload;
        QCOMPARE(verbose.size(), size_t(recordSize) + 4028);
        QCOMPARE(le32(verbose, size_t(recordSize) + 4), 0x40u);  // answer word 40

        // Released, the clock goes on from the held number: one sample per 100 ms since.
        QElapsedTimer released;
        released.start();
        sim.holdSamples(false);
        QTRY_VERIFY(sim.sampleNumber() >= 32);
        const uint32_t later = le32(c.uart(cmd::UartEngData).payload, 8);
        const qint64 bound = 30 + released.elapsed() / 100;
        QVERIFY2(later >= 32 && later <= bound, qPrintable(QString("%1 of at most %2").arg(later).arg(bound)));

        auto analog = c.uart(cmd::UartAnalogOut);
        if (build) {
            QCOMPARE(analog.status, uint8_t(0x05));  // no analog output before 4100
        } else {
            QCOMPARE(analog.payload.size(), size_t(4));
            QVERIFY(f32(analog.payload, 0) >= 0.4f);
        }
    }

    void usbAnswerRecord() {
        Simulator sim(Framing::Usb);
        QVERIFY(sim.openPty());
        sim.start();
        sim.holdSamples(true);
        sim.setSampleNumber(45);
        Client c(sim.path());
        auto st = c.usb(cmd::UsbSetState, bytes({0x12, 0, 0, 0}));
        QCOMPARE(simtest::le16(st.payload, 0), uint16_t(3));
        QCOMPARE(sim.unit(), uint8_t(1));
        auto a = c.usb(cmd::UsbAnswer, bytes({1, 0, 0, 0, 0, 0}), 2000);
        QVERIFY(a.complete && a.checkOk);
        QCOMPARE(a.payload.size(), sizeof(answer_t));
        answer_t rec;
        memcpy(&rec, a.payload.data(), sizeof rec);
        const Measurement w = Simulator::waveform(45, 1);
        QCOMPARE(rec.concentration, w.concentration);
        QCOMPARE(rec.gasId, 3u);
        QCOMPARE(rec.temperature, w.temperature);
        QCOMPARE(rec.humidityRaw, w.humidityRaw);
        QCOMPARE(rec.sensorStatus, 0);

        auto env = c.usb(cmd::UsbEnviro);
        QCOMPARE(env.payload.size(), size_t(40));
        QCOMPARE(f32(env.payload, 0), w.temperature);
        QCOMPARE(simtest::le16(c.usb(cmd::UsbClearHistory).payload, 0), uint16_t(3));
        QCOMPARE(sim.historyClears(), 1u);
    }

    // A set persists, is read back byte for byte, and renames the sensor; malformed sets are refused.
    void parametersPersist_data() {
        QTest::addColumn<int>("framing");
        QTest::newRow("uart") << int(Framing::Uart);
        QTest::newRow("usb") << int(Framing::Usb);
    }
    void parametersPersist() {
        QFETCH(int, framing);
        const bool uart = framing == int(Framing::Uart);
        Simulator sim{Framing(framing)};
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        auto get = [&] { return uart ? c.uart(cmd::UartGetParams) : c.usb(cmd::UsbGetParams); };
        auto set = [&](const std::vector<uint8_t>& rec) {
            return uart ? c.uart(cmd::UartSetParams, rec) : c.usb(cmd::UsbSetParams, rec);
        };
        auto first = get().payload;
        QCOMPARE(first.size(), kParamTransferSize);
        const std::string initial(reinterpret_cast<const char*>(first.data() + 8), le32(first, 4));
        QCOMPARE(initial, sim.paramsJson());
        QVERIFY(initial.find("\"generalParams\"") == 1);

        const std::string json = "{\"generalParams\":{\"sensorName\":\"Renamed\"},\"dscParams\":[],\"flamParams\":{}}";
        auto ok = set(paramsRecord(json));
        if (uart) QCOMPARE(ok.status, uint8_t(0));
        else QCOMPARE(simtest::le16(ok.payload, 0), uint16_t(3));
        auto back = get().payload;
        QCOMPARE(std::string(reinterpret_cast<const char*>(back.data() + 8)), json);
        QCOMPARE(sim.identity().name, std::string("Renamed"));

        auto bad = paramsRecord("{not json");
        auto refused = set(bad);
        if (uart) QCOMPARE(refused.status, uint8_t(0x02));
        else QCOMPARE(simtest::le16(refused.payload, 0), uint16_t(2));
        QCOMPARE(sim.paramsJson(), json);
    }

    void flashSelfTestAndCalibration() {
        Simulator sim(Framing::Uart);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        std::vector<uint8_t> req(8);
        const uint32_t addr = kPostAddress, count = 0x800;
        memcpy(req.data(), &addr, 4);
        memcpy(req.data() + 4, &count, 4);
        auto post = c.uart(cmd::UartReadFlash, req).payload;
        QCOMPARE(post.size(), size_t(2048));
        QVERIFY(std::string(reinterpret_cast<const char*>(post.data())).find("POST passed") == 0);
        sim.setPostPassed(false);
        post = c.uart(cmd::UartReadFlash, req).payload;
        QVERIFY(std::string(reinterpret_cast<const char*>(post.data())).find("POST passed") == std::string::npos);

        const uint32_t beyond = kFlashBase + kFlashSize - 0x400;
        memcpy(req.data(), &beyond, 4);
        QCOMPARE(c.uart(cmd::UartReadFlash, req).status, uint8_t(0x02));

        cal_rqst_t cal{2, 0.0f};
        std::vector<uint8_t> calReq(8);
        memcpy(calReq.data(), &cal, 8);
        auto calReply = c.uart(cmd::UartCalibrate, calReq).payload;
        QCOMPARE(calReply.size(), size_t(140));
        QCOMPARE(le32(calReply, 0), 2u);
    }

    void overrideAndReboot() {
        Simulator sim(Framing::Usb);
        QVERIFY(sim.openPty());
        sim.start();
        Client c(sim.path());
        sim.overridePayload(cmd::UsbSensorName, std::vector<uint8_t>(200, 'A'));  // no terminator
        QCOMPARE(c.usb(cmd::UsbSensorName).payload.size(), size_t(200));
        sim.clearOverrides();
        c.write(c.usbPacket(cmd::UsbReboot));
        QVERIFY(c.read(1, 300).empty());  // reboot is not answered
        QCOMPARE(sim.reboots(), 1u);
        QCOMPARE(c.usb(cmd::UsbSensorName).payload.size(), size_t(13));
    }
};

QTEST_GUILESS_MAIN(TestSimulatorCommands)
#include "test_simulator_commands.moc"
