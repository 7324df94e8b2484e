// The UART framing against the simulated sensor on a pseudo-terminal: reply checks,
// the texts left for the user, retransmission, late replies, corrupt lengths and hang-ups.
// Where the simulator cannot produce a reply (the largest record, stray replies), the test
// plays the device.
#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "captured_log.h"
#include "pty_pair.h"
#include "simulator.h"
#include "sim_link.h"
#include "vqs.h"

using vqssim::Fault;
using vqssim::FaultKind;
using vqssim::Simulator;

namespace {

constexpr uint16_t kVersion = vqssim::cmd::UartVersion;
constexpr uint32_t kVersionSize = sizeof(uartVersionRecord_t);

QString nowStamp() {
    return QDateTime::currentDateTime().toString(QStringLiteral("MM/dd hh:mm:ss"));
}

// A reply frame as the sensor builds it; declaredLength overrides the length field.
QByteArray uartReply(uint8_t cmd, uint8_t status, const QByteArray& payload, int declaredLength = -1) {
    const uint16_t length = static_cast<uint16_t>(declaredLength >= 0 ? declaredLength : payload.size());
    QByteArray frame(6, '\0');
    frame[0] = static_cast<char>(cmd);
    frame[1] = static_cast<char>(status);
    frame[2] = static_cast<char>(length & 0xFF);
    frame[3] = static_cast<char>(length >> 8);
    frame += payload;
    const uint16_t check = crc16False(reinterpret_cast<const uint8_t*>(frame.constData()), frame.size());
    frame[4] = static_cast<char>(check & 0xFF);
    frame[5] = static_cast<char>(check >> 8);
    return frame;
}

}  // namespace

class TestUartFraming : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<VQS> vqs;

    // Simulator on a pseudo-terminal behind a stable link (so a re-plug keeps the path), VQS connected.
    void attach() {
        QVERIFY(openThroughLink(*sim, *dir, QStringLiteral("sensor")));
        sim->start();
        vqs->portPath = sim->path();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
    }

    // The version request carries the byte 0x55; others go without payload.
    int exchange(uint16_t cmd, uint8_t* buffer, uint32_t size) {
        uint8_t versionKey = 0x55;
        if (vqs->uartSend(cmd, cmd == kVersion ? &versionKey : nullptr, cmd == kVersion ? 1 : 0) != 0)
            return -1;
        return vqs->uartRecv(cmd, buffer, size);
    }

    // The text ends with the stamp of the moment the reply read began.
    static void verifyStamp(const QString& text, const QString& before, const QString& after) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\\n\\((\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d)\\)$")).match(text);
        QVERIFY2(m.hasMatch(), qPrintable(text));
        QVERIFY2(m.captured(1) >= before && m.captured(1) <= after, qPrintable(text));
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        sim = std::make_unique<Simulator>(vqssim::Framing::Uart);
        vqs = std::make_unique<VQS>();
        vqs->transport = 1;
        vqs->retryCount = 0;
        std::strcpy(vqs->statusText, "None");
    }

    void cleanup() {
        vqs.reset();
        sim.reset();
        dir.reset();
    }

    // Request frames: the sensor verifies each check value itself, with and without payload;
    // frames that cannot be built never reach the wire.
    void requestFrames() {
        attach();
        std::vector<uint8_t> buffer(4128);
        QCOMPARE(exchange(vqssim::cmd::UartSensorInfo, buffer.data(), 4128), 0);
        QCOMPARE(exchange(kVersion, buffer.data(), 4128), 0);
        const std::vector<vqssim::Request> requests = sim->requests();
        QCOMPARE(requests.size(), size_t(2));
        QCOMPARE(requests[0].bytes.size(), size_t(8));
        QVERIFY(requests[0].checkOk);
        QCOMPARE(requests[1].bytes.size(), size_t(9));
        QCOMPARE(requests[1].command, kVersion);
        QCOMPARE(requests[1].payload, std::vector<uint8_t>{0x55});
        QVERIFY(requests[1].checkOk);
        QCOMPARE(vqs->txPackets, 2u);
        QCOMPARE(vqs->txBytes, uint64_t(17));

        CapturedLog log;
        const uint32_t sent = vqs->txPackets;
        QCOMPARE(vqs->uartSend(kVersion, nullptr, 4), 1);
        QVERIFY(log.has(QtWarningMsg, "No payload given but payload length is non-zero"));
        // Header plus payload would wrap the 16-bit frame length.
        std::vector<uint8_t> huge(65530, 0x55);
        QCOMPARE(vqs->uartSend(kVersion, huge.data(), static_cast<uint16_t>(huge.size())), 1);
        QCOMPARE(vqs->txPackets, sent);
        QVERIFY(!sim->waitForRequests(3, 300));
        QCOMPARE(vqs->txBytes, uint64_t(17));
    }

    // Codes above 0x20 are the sensor's own status: the reply is accepted and the status named.
    // The start-up sequence shows each code in turn; a later status 0 leaves the text alone.
    void sensorStatusAcceptedAndNamed() {
        sim->enableStartup(1);
        attach();
        const uint8_t codes[] = {0x26, 0x27, 0x28};
        for (uint8_t code : codes) {
            uint8_t buffer[kVersionSize] = {};
            const QString before = nowStamp();
            QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
            const QString text = QString::fromLatin1(vqs->statusText);
            QVERIFY(statusCodeText(code) != nullptr);
            QVERIFY2(text.startsWith(QString::fromLatin1(statusCodeText(code)) + "\n("), qPrintable(text));
            verifyStamp(text, before, nowStamp());
            QCOMPARE(vqs->lastReplyHeader.status, code);
            QVERIFY(buffer[0] != 0 || buffer[1] != 0);  // payload copied
        }
        const QByteArray kept = vqs->statusText;
        uint8_t buffer[kVersionSize];
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
        QCOMPARE(vqs->lastReplyHeader.status, uint8_t(0));
        QCOMPARE(QByteArray(vqs->statusText), kept);

        int unnamed = -1;
        for (int code = 0x21; code <= 0xFF && unnamed < 0; ++code)
            if (statusCodeText(static_cast<uint8_t>(code)) == nullptr)
                unnamed = code;
        if (unnamed < 0)
            return;
        sim->setSensorStatus(static_cast<uint8_t>(unnamed));
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
        QVERIFY2(QString::fromLatin1(vqs->statusText).startsWith(QString::asprintf("Unknown Error 0x%x\n(", unnamed)),
                 vqs->statusText);
    }

    void replyStatusRefused_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("0x01") << 0x01 << "TxCRC Error";
        QTest::newRow("0x02") << 0x02 << "Bad Param";
        QTest::newRow("0x05") << 0x05 << "Unknown Cmd";
        QTest::newRow("0x07") << 0x07 << "Corrupted/Incomplete Request";
        QTest::newRow("0x08 reserved") << 0x08 << "Reserved Error";
        QTest::newRow("0x20 reserved") << 0x20 << "Reserved Error";
    }

    // Reply status 0x01..0x20 refuses the reply, names the code and dumps the header.
    void replyStatusRefused() {
        QFETCH(int, code);
        QFETCH(QString, name);
        QCOMPARE(QString::fromLatin1(replyStatusName(static_cast<uint8_t>(code))), name);
        sim->addFault(Fault::onCommand(FaultKind::ReplyStatus, kVersion, 1, 1, code));
        attach();
        CapturedLog log;
        uint8_t buffer[kVersionSize];
        const QString before = nowStamp();
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 1);
        const QString text = QString::fromLatin1(vqs->statusText);
        QVERIFY2(text.startsWith(QString::asprintf("%s [0x%02x]\n(", qPrintable(name), code)), qPrintable(text));
        verifyStamp(text, before, nowStamp());
        QCOMPARE(int(vqs->lastReplyHeader.status), code);

        const char* const dump[] = {"----\nREPLY:\n", "  CmdID: ", "  Status: ", "  Length: ", "  Checksum: "};
        int previous = -1;
        for (const char* entry : dump) {
            const int at = log.indexOf(entry);
            QVERIFY2(at > previous, qPrintable(log.dump()));
            QCOMPARE(log.all()[at].type, QtInfoMsg);
            previous = at;
        }
        QCOMPARE(log.all()[log.indexOf("  Status: ")].text, QStringLiteral("  Status: %1").arg(code));
        QCOMPARE(log.all()[log.indexOf("  CmdID: ")].text, QStringLiteral("  CmdID: %1").arg(kVersion));
    }

    void replyProblems_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");  // empty: statusText stays as it was
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("message");
        QTest::newRow("no reply") << int(FaultKind::NoReply) << qint64(-1) << "" << int(QtCriticalMsg)
                                  << "Failed to get reply (Cmd: ";
        QTest::newRow("3 header bytes") << int(FaultKind::TruncatedHeader) << qint64(3) << "No/Incomplete Reply"
                                        << int(QtWarningMsg) << "Incomplete header received: ";
        QTest::newRow("short payload") << int(FaultKind::TruncatedPayload) << qint64(-1) << "No/Incomplete Rx Payload"
                                       << int(QtCriticalMsg) << "Failed to get reply payload: ";
        QTest::newRow("bad check value") << int(FaultKind::BadCrc) << qint64(-1) << "Rx CRC Error"
                                         << int(QtWarningMsg) << "Checksum failed: expected ";
        QTest::newRow("wrong command") << int(FaultKind::WrongCommand) << qint64(-1) << "Cmd ID Mismatch"
                                       << int(QtWarningMsg) << "cmdID mismatch: expected ";
    }

    // Each reply problem fails the read with its own text and log line; the next
    // exchange is clean again.
    void replyProblems() {
        QFETCH(int, kind);
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QFETCH(int, level);
        QFETCH(QString, message);
        sim->addFault(Fault::onCommand(static_cast<FaultKind>(kind), kVersion, 1, 1, value));
        attach();
        CapturedLog log;
        uint8_t buffer[kVersionSize];
        const QString before = nowStamp();
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 1);
        const QString after = nowStamp();
        QVERIFY2(log.has(static_cast<QtMsgType>(level), message), qPrintable(log.dump()));
        // Lines read as their texts: pieces joined by single blanks, none before a closing mark.
        for (const CapturedLog::Line& line : log.all())
            QVERIFY2(!QRegularExpression(QStringLiteral("  | [),]")).match(line.text).hasMatch(), qPrintable(line.text));
        const QString status = QString::fromLatin1(vqs->statusText);
        if (text.isEmpty()) {
            QCOMPARE(status, QStringLiteral("None"));
        } else {
            QVERIFY2(status.startsWith(text + "\n("), qPrintable(status));
            verifyStamp(status, before, after);
        }
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
    }

    // The payload must fit the caller's buffer; when it does, the rest of the buffer is cleared.
    void payloadMustFitCallerBuffer() {
        attach();
        CapturedLog log;
        uint8_t small[10];
        std::memset(small, 0xAA, sizeof(small));
        QCOMPARE(exchange(kVersion, small, sizeof(small)), 1);
        QVERIFY(QByteArray(vqs->statusText).startsWith("Rx Payload Too Big\n("));
        QVERIFY(log.has(QtWarningMsg, "Buffer too small for payload ("));
        QCOMPARE(small[0], uint8_t(0xAA));
        QCOMPARE(vqs->lastReplyHeader.length, uint16_t(kVersionSize));  // read and checked before refusing

        // A command that passes no buffer accepts only replies without payload.
        QCOMPARE(exchange(kVersion, nullptr, 0), 1);

        std::vector<uint8_t> roomy(kVersionSize + 40, 0xAA);
        QCOMPARE(exchange(kVersion, roomy.data(), static_cast<uint32_t>(roomy.size())), 0);
        for (size_t i = kVersionSize; i < roomy.size(); ++i)
            QCOMPARE(roomy[i], uint8_t(0));
    }

    // A failed reply makes retryCount resends of the identical frame, then gives up.
    void retransmissionResendsIdenticalFrame() {
        sim->addFault(Fault::onCommand(FaultKind::BadCrc, kVersion, 1, 0));
        attach();
        vqs->retryCount = 3;
        CapturedLog log;
        uint8_t buffer[kVersionSize];
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 1);
        QVERIFY(sim->waitForRequests(4, 2000));
        QVERIFY(!sim->waitForRequests(5, 300));
        const std::vector<vqssim::Request> requests = sim->requests();
        for (const vqssim::Request& r : requests)
            QCOMPARE(r.bytes, requests[0].bytes);
        QCOMPARE(vqs->retransmissions, 3u);
        QCOMPARE(vqs->txPackets, 4u);
        QCOMPARE(log.count("new_sensor Re-transmitting (cmdID 66): "), 3);
        QVERIFY(log.has(QtWarningMsg, "new_sensor Re-transmitting (cmdID 66): 3"));
        QCOMPARE(log.count("Checksum failed: expected "), 4);
        const int last = log.indexOf("- No valid response (");
        QVERIFY2(last >= 0 && log.all()[last].text == "new_sensor - No valid response (3 re-tranmissions attempted)",
                 qPrintable(log.dump()));
        QVERIFY(vqs->pendingRequest != nullptr);  // kept until the next send

        // One lost reply: the resend is answered and the kept frame released.
        sim->clearFaults();
        sim->clearLog();
        sim->addFault(Fault::onCommand(FaultKind::NoReply, kVersion, 1, 1));
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
        QCOMPARE(sim->requestCount(), size_t(2));
        QCOMPARE(sim->requests()[1].bytes, sim->requests()[0].bytes);
        QVERIFY(vqs->pendingRequest == nullptr);
        QCOMPARE(vqs->pendingRequestLength, uint16_t(0));
    }

    // A garbled reply whose header announces fewer bytes than arrived (16 whose header
    // announces 5): the resend's good reply is read from a clean line, not behind the rest.
    void resendReadsACleanLineAfterAGarbledReply() {
        sim->addFault(Fault::onCommand(FaultKind::GarbledHeader, kVersion, 1, 1));
        attach();
        vqs->retryCount = 1;
        CapturedLog log;
        uint8_t buffer[kVersionSize];
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
        QCOMPARE(sim->requestCount(kVersion), size_t(2));
        QCOMPARE(vqs->retransmissions, 1u);
        QCOMPARE(log.count("Checksum failed: expected "), 1);
        QVERIFY2(!log.has(QtCriticalMsg, "reply payload larger than any reply"), qPrintable(log.dump()));
        QCOMPARE(buffer[0], uint8_t(4));  // firmware major of the good reply
    }

    // The device disappears mid-exchange: the read fails, retransmissions fail to write,
    // nothing hangs; after a re-plug a new connection works.
    void hangUpMidExchange() {
        sim->addFault(Fault::onCommand(FaultKind::HangUp, kVersion, 1, 1));
        attach();
        vqs->retryCount = 2;
        CapturedLog log;
        uint8_t buffer[kVersionSize];
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 1);
        QVERIFY(!sim->isOpen());
        QVERIFY(log.has(QtCriticalMsg, "Failed to get reply (Cmd: "));
        QVERIFY(log.has(QtWarningMsg, "- No valid response ("));

        QVERIFY(sim->replug());
        QCOMPARE(vqs->disconnect(), VQS_SUCCESS);
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
    }

    // A reply that arrives after its request was resent answers that request only: the
    // resend's reply is dropped before the next request, and a reply echoing another command
    // is skipped while the awaited one is read.
    void lateRepliesAnswerOnlyTheirRequest() {
        sim->addFault(Fault::onCommand(FaultKind::LateReply, kVersion, 1, 1));
        attach();
        vqs->retryCount = 1;
        uint8_t buffer[kVersionSize];
        QCOMPARE(exchange(kVersion, buffer, sizeof(buffer)), 0);
        // The late reply can end the exchange before the simulator has taken in the resend;
        // once it has, the resend's own reply is on its way.
        QTRY_COMPARE(sim->requestCount(kVersion), size_t(2));
        vqs->retryCount = 0;
        uint8_t info[256];
        QCOMPARE(exchange(vqssim::cmd::UartSensorInfo, info, sizeof(info)), 0);

        PtyPair device;
        QVERIFY(device.isValid());
        QCOMPARE(vqs->disconnect(), VQS_SUCCESS);
        vqs->portPath = device.slavePath();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
        QCOMPARE(vqs->uartSend(kVersion, nullptr, 0), 0);
        QCOMPARE(device.receive(1000).size(), 8);
        QVERIFY(device.send(uartReply(0x43, 0, "earlier") + uartReply(kVersion, 0, "awaited")));
        CapturedLog log;
        char reply[16] = {};
        QCOMPARE(vqs->uartRecv(kVersion, reinterpret_cast<uint8_t*>(reply), sizeof(reply)), 0);
        QCOMPARE(QByteArray(reply), QByteArray("awaited"));
        QVERIFY2(log.has(QtWarningMsg, "cmdID mismatch: expected 66, received 67"), qPrintable(log.dump()));
    }

    // The largest record is taken whole; a header announcing more is refused from its header
    // alone, before its payload is waited for (1000 ms + 40 ms per announced byte), and the
    // retransmission recovers.
    void replyLongerThanAnyRecord() {
        sim->addFault(Fault::onCommand(FaultKind::OversizeLength, kVersion, 1, 1, 8000));
        sim->addFault(Fault::onCommand(FaultKind::TruncatedPayload, kVersion, 1, 1, 0));
        attach();
        vqs->retryCount = 1;
        CapturedLog log;
        uint8_t buffer[kVersionSize];
        auto version = std::async(std::launch::async, [&] { return exchange(kVersion, buffer, sizeof(buffer)); });
        const bool done = version.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        if (!done)
            sim->close();  // the hang-up ends the stuck read
        QVERIFY(done);
        QCOMPARE(version.get(), 0);
        QCOMPARE(sim->requestCount(kVersion), size_t(2));
        QVERIFY2(QByteArray(vqs->statusText).startsWith("Rx Payload Too Big\n("), vqs->statusText);
        QVERIFY2(log.has(QtCriticalMsg, "- reply payload larger than any reply (4132 < 8000)"), qPrintable(log.dump()));

        PtyPair device;
        QVERIFY(device.isValid());
        QCOMPARE(vqs->disconnect(), VQS_SUCCESS);
        vqs->portPath = device.slavePath();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
        QByteArray payload(int(sizeof(answer_t)), '\0');
        for (int i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>(i * 7);
        std::vector<uint8_t> roomy(kUartRxAreaSize);
        QCOMPARE(vqs->uartSend(kVersion, nullptr, 0), 0);
        QCOMPARE(device.receive(1000).size(), 8);
        // Sent from a thread: the reply may be larger than the terminal's buffer.
        bool sent = false;
        std::thread sender([&] { sent = device.send(uartReply(kVersion, 0, payload)); });
        const int result = vqs->uartRecv(kVersion, roomy.data(), static_cast<uint32_t>(roomy.size()));
        sender.join();
        QVERIFY(sent);
        QCOMPARE(result, 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(roomy.data()), payload.size()), payload);
    }
};

QTEST_GUILESS_MAIN(TestUartFraming)
#include "test_uart_framing.moc"
