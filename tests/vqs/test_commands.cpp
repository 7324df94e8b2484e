// The command set against the simulated sensor over both framings: what each
// command stores, what it logs, and which record it clears when the reply is
// short or missing.
#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

#include "captured_log.h"
#include "record_fields.h"
#include "simulator.h"
#include "vqs.h"

using vqssim::Fault;
using vqssim::FaultKind;
using vqssim::Framing;
using vqssim::Identity;
using vqssim::Simulator;
namespace cmd = vqssim::cmd;

namespace {

std::vector<uint8_t> paramsRecordOf(const std::string& json, size_t size) {
    std::vector<uint8_t> record(size, 0);
    const uint32_t header[2] = {0, static_cast<uint32_t>(json.size())};
    std::memcpy(record.data(), header, sizeof(header));
    std::memcpy(record.data() + 8, json.data(), std::min(json.size(), size - 8));
    return record;
}

bool allZero(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != 0) return false;
    return true;
}

Identity firmware(uint8_t major, uint8_t minor, uint8_t build, uint8_t rev) {
    Identity id;
    id.firmware = {{major, minor, build, rev}};
    return id;
}

// A simulated sensor on a pseudo-terminal and a sensor object connected to it.
struct Rig {
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<VQS> vqs;

    Rig(Framing framing, const Identity& identity = Identity()) {
        sim = std::make_unique<Simulator>(framing, identity);
        vqs = std::make_unique<VQS>();
        if (!sim->openPty()) return;
        sim->start();
        vqs->portPath = sim->path();
        vqs->transport = framing == Framing::Usb ? 0 : 1;
        vqs->retryCount = 0;  // failures are asked for on purpose: do not wait for resends
        vqs->connect();
    }
    bool ok() const { return vqs->portOpen; }
    // UART firmware-dependent choices need the version first.
    bool identify() { return vqs->getVersion() == VQS_SUCCESS; }
};

#define RIG(name, ...)                 \
    Rig name(__VA_ARGS__);             \
    QVERIFY(name.ok())

}  // namespace

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void uartIdentityByFirmware_data() {
        QTest::addColumn<int>("build");
        QTest::addColumn<int>("minor");
        QTest::newRow("4.0.9.9") << 9 << 0;
        QTest::newRow("4.1.0.0") << 0 << 1;
    }

    void uartIdentityByFirmware() {
        QFETCH(int, build);
        QFETCH(int, minor);
        Identity id = firmware(4, uint8_t(minor), uint8_t(build), uint8_t(build));
        id.sensorType = 1;
        RIG(rig, Framing::Uart, id);
        CapturedLog log;
        VQS& v = *rig.vqs;
        QCOMPARE(v.getVersion(), VQS_SUCCESS);
        const bool v3 = build == 9;
        QCOMPARE(val(v.firmwareNumber), uint16_t(v3 ? 4099 : 4100));
        QCOMPARE(val(v.v3Answer), v3);
        const QString fw = v3 ? "4.0.9.9" : "4.1.0.0";
        QCOMPARE(txt(v.versionText),
                 "Firmware: " + fw + "\r\nComment: vqs-sim\r\nHardware: 2.1\r\nDOB: Jan 15 2024 10:20:30");
        QVERIFY(log.has(QtInfoMsg, "new_sensor uartGetVersion Firmware: " + fw));

        QCOMPARE(v.getSensorName(), VQS_SUCCESS);
        QCOMPARE(txt(v.sensorName), txt("VQS-SIM-0001"));
        QCOMPARE(txt(v.mcuId), txt("333837323139511300370041"));
        QCOMPARE(val(v.sensorInfo.sensorType), 3u);  // type 1 reads as "VQS Flam. Gas"
        QCOMPARE(txt(v.sensorInfo.calibrationDate), txt("2024-01-15"));
        QCOMPARE(txt(v.sensorSku), txt(v3 ? "" : "VQS-FL-100"));
        QVERIFY(log.has(QtInfoMsg, "VQS-SIM-0001 - got sensor info"));
        // The layout asked for follows the version: 0xAA, one request.
        QCOMPARE(rig.sim->requestCount(cmd::UartSensorInfo), size_t(1));
        QCOMPARE(int(rig.sim->requests().back().payload.at(0)), 0xAA);
    }

    void uartShortVersionAndFallbackInfo() {
        Identity id;
        id.shortVersion = true;
        id.name = "FALLBACK-7";
        RIG(rig, Framing::Uart, id);
        VQS& v = *rig.vqs;
        QCOMPARE(v.getVersion(), VQS_SUCCESS);
        QCOMPARE(txt(v.versionText), txt("Firmware: 4.1.0.0\r\nHardware: 2.1"));

        std::strcpy(v.mcuId, "kept");
        rig.sim->addFault(Fault::onCommand(FaultKind::ReplyStatus, cmd::UartSensorInfo));
        CapturedLog log;
        QCOMPARE(v.getSensorName(), VQS_SUCCESS);
        QCOMPARE(txt(v.sensorName), txt("FALLBACK-7"));
        QCOMPARE(txt(v.mcuId), txt("kept"));
        QCOMPARE(rig.sim->requests().back().payload.size(), size_t(0));

        rig.sim->addFault(Fault::onCommand(FaultKind::ReplyStatus, cmd::UartSensorInfo, 1, 0));
        QCOMPARE(v.getSensorName(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "FALLBACK-7 - getSensorInfo failed"));
    }

    void usbIdentityTextsStayInCapacity() {
        RIG(rig, Framing::Usb);
        VQS& v = *rig.vqs;
        CapturedLog log;
        QCOMPARE(v.getVersion(), VQS_SUCCESS);
        QCOMPARE(txt(v.versionText), txt("Firmware: 4.1.0.0\r\nHardware: 2.1"));
        // The numbers come from the text, the only place a USB sensor names them.
        QCOMPARE(val(v.firmwareNumber), uint16_t(4100));
        QCOMPARE(v.firmwareVersion[0], uint8_t(4));
        QCOMPARE(txt(v.firmwareVersionText), txt("4.1.0.0"));
        QCOMPARE(txt(v.hardwareVersionText), txt("2.1"));
        QVERIFY(!v.v3Answer);
        QCOMPARE(v.getSensorName(), VQS_SUCCESS);
        QCOMPARE(txt(v.sensorName), txt("VQS-SIM-0001"));
        QVERIFY(log.has(QtInfoMsg, "new_sensor - got version"));
        QVERIFY(log.has(QtInfoMsg, "VQS-SIM-0001 - got sensor name"));
        // Identification starts without a name: until it arrives, lines name the port.
        v.resetIdentity();
        QCOMPARE(v.getVersion(), VQS_SUCCESS);
        const QString port = QString::fromStdString(v.portPath).section('/', -1);
        QVERIFY2(log.has(QtInfoMsg, QStringLiteral("(unnamed on %1) - got version").arg(port)), qPrintable(log.dump()));
        QCOMPARE(v.getSensorName(), VQS_SUCCESS);

        // Texts without a terminator, longer than the members.
        rig.sim->overridePayload(cmd::UsbVersion, std::vector<uint8_t>(300, 'V'));
        rig.sim->overridePayload(cmd::UsbSensorName, std::vector<uint8_t>(300, 'N'));
        QCOMPARE(v.getVersion(), VQS_SUCCESS);
        QCOMPARE(txt(v.versionText), QString(127, 'V'));
        QCOMPARE(val(v.firmwareNumber), uint16_t(0));  // no version in it: numbers zero
        QCOMPARE(v.firmwareVersion[0], uint8_t(0));
        for (const char* text : {"Firmware: 3.0.5.0\r\nComment: x\r\nHardware: 1.4\r\nDOB: Jan  1 2024",
                                 "Firmware: 3.0.256.0\r\nHardware: 1.4", "Firmware: 3.0\r\nHardware: 1.4"}) {
            rig.sim->overridePayload(cmd::UsbVersion, std::vector<uint8_t>(text, text + std::strlen(text) + 1));
            QCOMPARE(v.getVersion(), VQS_SUCCESS);
            QCOMPARE(txt(v.versionText), txt(text));
            const bool whole = std::strstr(text, "3.0.5.0") != nullptr;
            QCOMPARE(val(v.firmwareNumber), uint16_t(whole ? 3050 : 0));
            QCOMPARE(txt(v.firmwareVersionText), txt(whole ? "3.0.5.0" : ""));
            QCOMPARE(txt(v.hardwareVersionText), txt("1.4"));
        }
        QCOMPARE(v.getSensorName(), VQS_SUCCESS);
        QCOMPARE(txt(v.sensorName), QString(159, 'N'));
    }

    void usbMissingReplies() {
        RIG(rig, Framing::Usb);
        VQS& v = *rig.vqs;
        rig.sim->addFault(Fault::onCommand(FaultKind::NoReply, -1, 1, 0));  // every request from now on
        CapturedLog log;
        std::memset(&v.answer, 0xAB, sizeof(v.answer));
        std::memset(&v.params, 0xAB, sizeof(v.params));
        QCOMPARE(v.getVersion(), VQS_FAILURE);
        QCOMPARE(v.getSensorName(), VQS_FAILURE);
        QCOMPARE(v.getAnswer(), VQS_FAILURE);
        QCOMPARE(v.getParams(), VQS_FAILURE);
        QCOMPARE(v.clearHistory(), VQS_FAILURE);
        QCOMPARE(v.setParams(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - getVersion rxData == NULL"));
        QVERIFY(log.has(QtWarningMsg, "new_sensor - getSensorName rxData == NULL"));
        QVERIFY(log.has(QtWarningMsg, "new_sensor - getAnswer rxData == NULL"));
        QVERIFY(log.has(QtWarningMsg, "new_sensor - getParams rxData == NULL"));
        QVERIFY(log.has(QtWarningMsg, "new_sensor - clearHistory rxData == NULL"));
        QVERIFY(log.has(QtWarningMsg, "new_sensor - setParams(USB) rxData == NULL"));
        QVERIFY(allZero(&v.answer, sizeof(v.answer)));
        QVERIFY(allZero(&v.params, sizeof(v.params)));
    }

    void usbAnswerSizes() {
        RIG(rig, Framing::Usb);
        VQS& v = *rig.vqs;
        rig.sim->holdSamples(true);
        rig.sim->setSampleNumber(30);  // gas present: concentration 25 %LEL
        QCOMPARE(v.getAnswer(), VQS_SUCCESS);
        QCOMPARE(val(v.answer.concentration), 25.0f);
        QCOMPARE(val(v.answer.gasId), 3u);
        QCOMPARE(val(v.answer.aux4064), 64.0f);

        rig.sim->addFault(Fault::onCommand(FaultKind::PayloadSize, cmd::UsbAnswer, 1, 1, 4131));
        CapturedLog log;
        QCOMPARE(v.getAnswer(), VQS_FAILURE);
        QVERIFY2(log.has(QtWarningMsg,
                         "new_sensor - getAnswer incorrect reply received ( expected 4132 | received 4131 )"),
                 qPrintable(log.dump()));
        QVERIFY(allZero(&v.answer, sizeof(v.answer)));
    }

    void usbEnviro() {
        RIG(rig, Framing::Usb);
        VQS& v = *rig.vqs;
        CapturedLog log;
        QCOMPARE(v.getEnviro(), VQS_SUCCESS);
        QVERIFY(log.has(QtInfoMsg, "---> getEnviro()"));
        uint32_t tag;
        std::memcpy(&tag, v.enviro + 32, 4);
        QCOMPARE(tag, 0x454E5649u);

        rig.sim->addFault(Fault::onCommand(FaultKind::PayloadSize, cmd::UsbEnviro, 1, 1, 39));
        QCOMPARE(v.getEnviro(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - getEnviro incomplete reply received"));
        QVERIFY(allZero(v.enviro, sizeof(v.enviro)));

        rig.sim->addFault(Fault::onCommand(FaultKind::PayloadSize, cmd::UsbEnviro, 1, 1, 64));
        QCOMPARE(v.getEnviro(), VQS_SUCCESS);  // a longer record: its first 40 bytes
        std::memcpy(&tag, v.enviro + 32, 4);
        QCOMPARE(tag, 0x454E5649u);
    }

    void usbParamsLength() {
        RIG(rig, Framing::Usb);
        VQS& v = *rig.vqs;
        const std::string json =
            "{\"generalParams\":{\"sensorName\":\"FROM-PARAMS\"},\"dscParams\":[{\"number\":1,\"KP\":2}],"
            "\"flamParams\":{}}";
        CapturedLog log;
        std::memset(&v.params, 0xAB, sizeof(v.params));
        rig.sim->overridePayload(cmd::UsbGetParams, paramsRecordOf(json, 319));
        QCOMPARE(v.getParams(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - getParams incomplete reply received"));
        QVERIFY(allZero(&v.params, sizeof(v.params)));

        rig.sim->overridePayload(cmd::UsbGetParams, paramsRecordOf(json, 320));
        QCOMPARE(v.getParams(), VQS_SUCCESS);
        QCOMPARE(txt(v.sensorName), txt("FROM-PARAMS"));
        QCOMPARE(val(v.params.dsc.KP), 2.0f);
        QCOMPARE(v.paramsJson, json.c_str());
        QVERIFY(log.has(QtInfoMsg, "FROM-PARAMS - got params"));

        // Unterminated text filling a long record is read only to the record's end.
        rig.sim->overridePayload(cmd::UsbGetParams, std::vector<uint8_t>(3000, '['));
        QCOMPARE(v.getParams(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "FROM-PARAMS - error translating JSON to kernel params"));
        QVERIFY(log.has(QtInfoMsg, "FROM-PARAMS " + QString(2000, '[')));
        QCOMPARE(v.paramsJson, json.c_str());  // kept from the last good read
    }

    void paramsSetAndReadBack_data() {
        QTest::addColumn<bool>("usb");
        QTest::newRow("USB") << true;
        QTest::newRow("UART") << false;
    }

    void paramsSetAndReadBack() {
        QFETCH(bool, usb);
        RIG(rig, usb ? Framing::Usb : Framing::Uart);
        VQS& v = *rig.vqs;
        QVERIFY(rig.identify());
        CapturedLog log;
        QCOMPARE(v.getParams(), VQS_SUCCESS);
        QCOMPARE(QString::fromLatin1(v.paramsJson), QString::fromStdString(rig.sim->paramsJson()));
        QCOMPARE(txt(v.sensorName), txt("VQS-SIM-0001"));
        if (!usb) {  // UART reads the sensor information first
            QCOMPARE(rig.sim->requests().at(rig.sim->requests().size() - 2).command, cmd::UartSensorInfo);
        }

        std::strcpy(v.params.general.sensorName, "RENAMED");
        v.params.general.cycleTime = 1.25f;
        QCOMPARE(v.setParams(), VQS_SUCCESS);
        QVERIFY(log.has(QtInfoMsg, "VQS-SIM-0001 - set params"));
        const vqssim::Request sent = rig.sim->requests().back();
        QCOMPARE(sent.payload.size(), size_t(2008));
        uint32_t length;
        std::memcpy(&length, sent.payload.data() + 4, 4);
        QCOMPARE(size_t(length), std::strlen(reinterpret_cast<const char*>(sent.payload.data() + 8)));

        std::memset(&v.params, 0, sizeof(v.params));
        QCOMPARE(v.getParams(), VQS_SUCCESS);
        QCOMPARE(txt(v.sensorName), txt("RENAMED"));
        QCOMPARE(val(v.params.general.cycleTime), 1.25f);

        rig.sim->addFault(Fault::onCommand(FaultKind::NoReply, usb ? cmd::UsbSetParams : cmd::UartSetParams));
        QCOMPARE(v.setParams(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, usb ? "RENAMED - setParams(USB) rxData == NULL" : "RENAMED - setParams(UART) failed"));
    }

    void uartParamsMissing() {
        RIG(rig, Framing::Uart);
        VQS& v = *rig.vqs;
        std::memset(&v.params, 0xAB, sizeof(v.params));
        rig.sim->addFault(Fault::onCommand(FaultKind::NoReply, cmd::UartGetParams));
        CapturedLog log;
        QCOMPARE(v.uartGetParams(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - uartGetParams rxData == NULL"));
        QVERIFY(allZero(&v.params, sizeof(v.params)));
    }

    void setStateCarriesUnit_data() { paramsSetAndReadBack_data(); }

    void setStateCarriesUnit() {
        QFETCH(bool, usb);
        RIG(rig, usb ? Framing::Usb : Framing::Uart);
        VQS& v = *rig.vqs;
        v.concUnit = 3;
        CapturedLog log;
        QCOMPARE(v.setState(VQS_STATE_MEASURING), VQS_SUCCESS);
        const std::vector<uint8_t> payload = rig.sim->requests().back().payload;
        if (usb) {
            QCOMPARE(payload, (std::vector<uint8_t>{50, 0, 0, 0}));
        } else {
            QCOMPARE(payload, (std::vector<uint8_t>{0x32}));
        }
        QCOMPARE(int(rig.sim->lastStateByte()), 0x32);
        QVERIFY(log.has(QtInfoMsg, "new_sensor - set state to 50"));

        // Refusals fail without the success line.
        log.clear();
        rig.sim->addFault(usb ? Fault::onCommand(FaultKind::ReplyStatus, cmd::UsbSetState, 1, 1, 2)
                              : Fault::onCommand(FaultKind::ReplyStatus, cmd::UartSetState, 1, 1, 0x03));
        QCOMPARE(v.setState(VQS_STATE_IDLE), VQS_FAILURE);
        QCOMPARE(log.count("set state to"), 0);
        if (usb) {
            rig.sim->overridePayload(cmd::UsbSetState, {3});
            QCOMPARE(v.setState(VQS_STATE_IDLE), VQS_FAILURE);
            QVERIFY(log.has(QtWarningMsg, "new_sensor - setState incomplete reply received"));
        }
    }

    void clearHistoryAndReboot_data() { paramsSetAndReadBack_data(); }

    void clearHistoryAndReboot() {
        QFETCH(bool, usb);
        RIG(rig, usb ? Framing::Usb : Framing::Uart);
        VQS& v = *rig.vqs;
        CapturedLog log;
        QCOMPARE(v.clearHistory(), VQS_SUCCESS);
        QCOMPARE(rig.sim->historyClears(), 1u);
        QVERIFY(log.has(QtInfoMsg, "new_sensor - cleared history"));

        rig.sim->addFault(usb ? Fault::onCommand(FaultKind::ReplyStatus, cmd::UsbClearHistory, 1, 1, 2)
                              : Fault::onCommand(FaultKind::ReplyStatus, cmd::UartClearHistory, 1, 1, 0x03));
        QCOMPARE(v.clearHistory(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - clear history command failed"));
        if (usb) {  // a reply without payload carries no result code
            rig.sim->overridePayload(cmd::UsbClearHistory, {});
            QCOMPARE(v.clearHistory(), VQS_FAILURE);
        }

        const size_t before = rig.sim->requestCount();
        QCOMPARE(v.reboot(), VQS_SUCCESS);
        QVERIFY(log.has(QtInfoMsg, "new_sensor - reboot command issued"));
        QVERIFY(rig.sim->waitForRequests(before + 1, 2000));
        QCOMPARE(rig.sim->requests().back().command, usb ? cmd::UsbReboot : cmd::UartReboot);
    }

    void uartOnlyCommandsRefusedOnUsb() {
        RIG(rig, Framing::Usb);
        VQS& v = *rig.vqs;
        uint8_t buffer[16] = {};
        QCOMPARE(v.readFlash(uart_readflash_t{0x0803C000, 16}, buffer), VQS_FAILURE);
        QCOMPARE(v.calibrate(cal_rqst_t{2, 0.0f}), VQS_FAILURE);
        std::strcpy(v.postText, "stale");
        QCOMPARE(v.runPost(), VQS_FAILURE);
        QCOMPARE(val(v.postText[0]), '\0');
        v.analogOut = 1.5f;
        QCOMPARE(v.getAnalogOut(), VQS_FAILURE);
        QCOMPARE(val(v.analogOut), 1.5f);
        QTest::qWait(100);
        QCOMPARE(rig.sim->requestCount(), size_t(0));
        QCOMPARE(val(v.txBytes), uint64_t(0));

        v.transport = 2;  // neither framing: nothing is sent
        QCOMPARE(v.getVersion(), VQS_FAILURE);
        QCOMPARE(v.getSensorName(), VQS_FAILURE);
        QCOMPARE(v.getParams(), VQS_FAILURE);
        QCOMPARE(v.setParams(), VQS_FAILURE);
        QCOMPARE(v.setState(VQS_STATE_IDLE), VQS_FAILURE);
        QCOMPARE(v.clearHistory(), VQS_FAILURE);
        QCOMPARE(v.getAnswer(), VQS_FAILURE);
        QCOMPARE(v.reboot(), VQS_FAILURE);
        QCOMPARE(val(v.txBytes), uint64_t(0));
    }

    // The framing follows the transport value: on an open UART link, a value no
    // framing has refuses even the UART-only commands (and the analog output an
    // early firmware answers without asking), and the UART value talks again.
    void framingFollowsTransportValue() {
        RIG(rig, Framing::Uart);
        VQS& v = *rig.vqs;
        v.transport = 5;
        uint8_t buffer[16] = {};
        QCOMPARE(v.readFlash(uart_readflash_t{0x0803C000, 16}, buffer), VQS_FAILURE);
        QCOMPARE(v.calibrate(cal_rqst_t{2, 0.0f}), VQS_FAILURE);
        QCOMPARE(v.getAnalogOut(), VQS_FAILURE);
        v.postPassed = true;
        QCOMPARE(v.runPost(), VQS_FAILURE);
        QVERIFY(v.postPassed);  // untouched: no self-test was read
        QCOMPARE(v.identify(), VQS_FAILURE);
        QCOMPARE(val(v.txBytes), uint64_t(0));

        v.transport = 1;
        QCOMPARE(v.identify(), VQS_SUCCESS);
        QCOMPARE(v.runPost(), VQS_SUCCESS);
        QVERIFY(v.postPassed);
    }

    void analogOutByFirmware() {
        {
            RIG(rig, Framing::Uart, firmware(4, 0, 9, 9));
            VQS& v = *rig.vqs;
            QVERIFY(rig.identify());
            v.analogOut = 1.5f;
            QCOMPARE(v.getAnalogOut(), VQS_SUCCESS);
            QCOMPARE(val(v.analogOut), 1.5f);
            QCOMPARE(rig.sim->requestCount(cmd::UartAnalogOut), size_t(0));
        }
        RIG(rig, Framing::Uart);
        VQS& v = *rig.vqs;
        QVERIFY(rig.identify());
        rig.sim->holdSamples(true);
        rig.sim->setSampleNumber(30);
        QCOMPARE(v.getAnalogOut(), VQS_SUCCESS);
        QCOMPARE(val(v.analogOut), Simulator::waveform(30, 0).analogOut);
        rig.sim->overridePayload(cmd::UartAnalogOut, {1, 2});
        QCOMPARE(v.getAnalogOut(), VQS_FAILURE);  // half a float is no reading
        QCOMPARE(val(v.analogOut), Simulator::waveform(30, 0).analogOut);
    }

    void uartFlashPostAndCalibration() {
        RIG(rig, Framing::Uart);
        VQS& v = *rig.vqs;
        CapturedLog log;
        QCOMPARE(v.runPost(), VQS_SUCCESS);
        QVERIFY(v.postPassed);
        QVERIFY(txt(v.postText).startsWith("POST passed"));
        QVERIFY(log.has(QtInfoMsg, "new_sensor - read flash"));
        const vqssim::Request request = rig.sim->requests().back();
        QCOMPARE(request.payload, (std::vector<uint8_t>{0x00, 0xC0, 0x03, 0x08, 0x00, 0x08, 0x00, 0x00}));

        rig.sim->setPostPassed(false);
        QCOMPARE(v.runPost(), VQS_SUCCESS);  // read fine, verdict failed
        QVERIFY(!v.postPassed);

        // Flash full of text: the member still ends inside its capacity.
        rig.sim->writeFlash(0x0803C000, std::vector<uint8_t>(2048, 'P'));
        QCOMPARE(v.runPost(), VQS_SUCCESS);
        QCOMPARE(std::strlen(v.postText), size_t(2047));

        rig.sim->addFault(Fault::onCommand(FaultKind::NoReply, cmd::UartReadFlash));
        QCOMPARE(v.runPost(), VQS_FAILURE);
        QVERIFY(!v.postPassed);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - uartReadFlash rxData == NULL"));

        QCOMPARE(v.calibrate(cal_rqst_t{2, 0.0f}), VQS_SUCCESS);
        uint32_t words[3];
        std::memcpy(words, v.calibrationReply, sizeof(words));
        QCOMPARE(words[0], 2u);
        QCOMPARE(words[2], 3u);
        rig.sim->addFault(Fault::onCommand(FaultKind::NoReply, cmd::UartCalibrate));
        QCOMPARE(v.calibrate(cal_rqst_t{2, 0.0f}), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor - calibration command failed"));
    }

    void uartEngineeringData_data() {
        QTest::addColumn<int>("build");
        QTest::newRow("4099") << 9;
        QTest::newRow("4100") << 0;
    }

    void uartEngineeringData() {
        QFETCH(int, build);
        const bool v3 = build == 9;
        RIG(rig, Framing::Uart, v3 ? firmware(4, 0, 9, 9) : firmware(4, 1, 0, 0));
        VQS& v = *rig.vqs;
        QVERIFY(rig.identify());
        rig.sim->holdSamples(true);
        rig.sim->setSampleNumber(25);
        const size_t size = v3 ? sizeof(flam_data_v3_t) : sizeof(flam_data_t);
        std::vector<uint8_t> record(200, 0xEE);
        QCOMPARE(v.uartGetEngData(record.data()), VQS_SUCCESS);
        int32_t sample;
        std::memcpy(&sample, record.data() + 4, 4);
        QCOMPARE(sample, 25);
        QCOMPARE(record[size], uint8_t(0xEE));  // nothing past the record

        CapturedLog log;
        std::vector<uint8_t> reply(1024, 0x11);
        const uint32_t tooMuch = uint32_t(size + 1);
        std::memcpy(reply.data(), &tooMuch, 4);
        rig.sim->overridePayload(cmd::UartEngData, reply);
        std::fill(record.begin(), record.end(), 0xEE);
        QCOMPARE(v.uartGetEngData(record.data()), VQS_FAILURE);
        QCOMPARE(record[0], uint8_t(0xEE));
        QVERIFY(log.has(QtWarningMsg, "getEngData failed"));
        QCOMPARE(v.uartGetEngData(record.data(), record.size()), VQS_SUCCESS);  // a caller with room
        QCOMPARE(record[size], uint8_t(0x11));

        const uint32_t overLimit = 1021;
        std::memcpy(reply.data(), &overLimit, 4);
        rig.sim->overridePayload(cmd::UartEngData, reply);
        std::vector<uint8_t> large(2048, 0);
        QCOMPARE(v.uartGetEngData(large.data(), large.size()), VQS_FAILURE);
        QVERIFY(allZero(large.data(), large.size()));
    }

    void uartVerboseAnswer_data() { uartEngineeringData_data(); }

    void uartVerboseAnswer() {
        QFETCH(int, build);
        const bool v3 = build == 9;
        RIG(rig, Framing::Uart, v3 ? firmware(4, 0, 9, 9) : firmware(4, 1, 0, 0));
        VQS& v = *rig.vqs;
        QVERIFY(rig.identify());
        rig.sim->holdSamples(true);
        rig.sim->setSampleNumber(30);
        std::memset(&v.answer, 0xAB, sizeof(v.answer));
        QCOMPARE(v.uartGetVerboseAnswer(), VQS_SUCCESS);
        QCOMPARE(val(v.sensorCycle), 30);
        const vqssim::Measurement w = Simulator::waveform(30, 0);
        QCOMPARE(val(v.answer.concentration), w.concentration);
        QCOMPARE(val(v.answer.temperature), w.temperature);
        QCOMPARE(val(v.answer.dsc1MaxPower), w.dsc1MaxPower);
        QCOMPARE(val(v.answer.temperatureRaw), v3 ? 0.0f : w.temperatureRaw);  // only the long layout carries it
        QCOMPARE(val(v.answer.verboseBlock[200]), uint8_t((200 + 30) & 0xFF));
        QCOMPARE(val(v.answer.reserved8[0]), uint8_t(0));

        rig.sim->addFault(Fault::onCommand(FaultKind::NoReply, cmd::UartVerboseAnswer));
        CapturedLog log;
        QCOMPARE(v.uartGetVerboseAnswer(), VQS_FAILURE);
        QVERIFY(log.has(QtWarningMsg, "new_sensor uartGetVerboseAnswer failed"));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
