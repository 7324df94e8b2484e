// The USB framing against the simulated sensor on a pseudo-terminal: sequence numbers,
// retransmission, the sensor's error flags, the reply wait, late replies, corrupt headers
// and hang-ups. Zero-length replies, acknowledgements and stray packets are played by the
// test on its own pseudo-terminal.
#include <QElapsedTimer>
#include <QtTest>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include "captured_log.h"
#include "pty_pair.h"
#include "simulator.h"
#include "vqs.h"

using vqssim::Fault;
using vqssim::FaultKind;
using vqssim::Simulator;

namespace {

constexpr uint16_t kVersion = vqssim::cmd::UsbVersion;

uint16_t u16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// A packet as the sensor builds it.
QByteArray usbPacket(uint16_t flags, uint16_t sequence, uint16_t cmd, const QByteArray& payload) {
    QByteArray packet(16, '\0');
    const uint16_t fields[] = {0x207E, flags, sequence, cmd, static_cast<uint16_t>(payload.size())};
    for (size_t i = 0; i < 5; ++i) {
        packet[int(2 * i)] = static_cast<char>(fields[i] & 0xFF);
        packet[int(2 * i + 1)] = static_cast<char>(fields[i] >> 8);
    }
    packet += payload;
    const uint16_t check = crc16False(reinterpret_cast<const uint8_t*>(packet.constData()), packet.size());
    packet[10] = static_cast<char>(check & 0xFF);
    packet[11] = static_cast<char>(check >> 8);
    return packet;
}

}  // namespace

class TestUsbFraming : public QObject {
    Q_OBJECT

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<VQS> vqs;

    void attach() {
        QVERIFY(sim->openPty());
        sim->start();
        vqs->portPath = sim->path();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
    }

    VQSBuffer exchange(uint16_t cmd, uint16_t* length, uint32_t waitSeconds) {
        if (vqs->usbSend(cmd, nullptr, 0) != 0)
            return nullptr;
        return vqs->usbRecv(cmd, length, waitSeconds);
    }

private slots:
    void init() {
        sim = std::make_unique<Simulator>(vqssim::Framing::Usb);
        vqs = std::make_unique<VQS>();
        vqs->transport = 0;
        vqs->retryCount = 0;
    }

    void cleanup() {
        vqs.reset();
        sim.reset();
    }

    // New requests count up from 1; a retransmission repeats the number with flag 0x0002 and
    // a check value the sensor accepts.
    void sequenceNumbersAndRetransmission() {
        attach();
        vqs->retryCount = 2;
        uint16_t length = 0;
        QVERIFY(exchange(kVersion, &length, 1));
        QVERIFY(length > 0);
        QVERIFY(exchange(kVersion, &length, 1));

        sim->addFault(Fault::onCommand(FaultKind::NoReply, kVersion, 1, 1));
        CapturedLog log;
        QVERIFY(exchange(kVersion, &length, 0));
        QVERIFY(log.has(QtWarningMsg, "- timeout:  retransmitting request"));
        QVERIFY(vqs->pendingRequest == nullptr);

        const std::vector<vqssim::Request> requests = sim->requests();
        QCOMPARE(requests.size(), size_t(4));
        const uint16_t expectedSequence[] = {1, 2, 3, 3};
        const uint16_t expectedFlags[] = {0, 0, 0, 0x0002};
        for (size_t i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests[i].sequence, expectedSequence[i]);
            QCOMPARE(requests[i].flags, expectedFlags[i]);
            QVERIFY(requests[i].checkOk);
            QCOMPARE(u16(requests[i].bytes, 0), uint16_t(0x207E));
        }
        // Only the flags and the check value differ from the first sending.
        std::vector<uint8_t> first = requests[2].bytes, again = requests[3].bytes;
        QVERIFY(u16(first, 10) != u16(again, 10));
        for (size_t at : {size_t(2), size_t(3), size_t(10), size_t(11)})
            first[at] = again[at] = 0;
        QCOMPARE(again, first);
        QCOMPARE(vqs->retransmissions, 1u);
        QCOMPARE(vqs->usbSequence, uint16_t(4));

        // A reply echoing another command answers no request of ours: the resend's reply is taken.
        sim->addFault(Fault::onCommand(FaultKind::WrongCommand, kVersion, 1, 1));
        sim->clearLog();
        QVERIFY(exchange(kVersion, &length, 1));
        QCOMPARE(sim->requestCount(), size_t(2));
        QVERIFY(log.has(QtWarningMsg, "- reply to another request dropped"));

        // The number wraps at 16 bits.
        sim->clearLog();
        vqs->usbSequence = 0xFFFF;
        QVERIFY(exchange(kVersion, &length, 1));
        QVERIFY(exchange(kVersion, &length, 1));
        QCOMPARE(sim->requests()[0].sequence, uint16_t(0xFFFF));
        QCOMPARE(sim->requests()[1].sequence, uint16_t(0));
    }

    // Packets that cannot be built never reach the wire and use no sequence number.
    void unbuildablePacketsRefused() {
        attach();
        CapturedLog log;
        QCOMPARE(vqs->usbSend(kVersion, nullptr, 3), 1);
        std::vector<uint8_t> huge(65525, 0x55);
        QCOMPARE(vqs->usbSend(kVersion, huge.data(), static_cast<uint16_t>(huge.size())), 1);
        QCOMPARE(vqs->txPackets, 0u);
        QCOMPARE(vqs->usbSequence, uint16_t(1));
        QVERIFY(!sim->waitForRequests(1, 300));
    }

    void replyProblems_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("checksumErrors");
        QTest::addColumn<int>("versionErrors");
        QTest::addColumn<int>("truncationErrors");
        QTest::addColumn<int>("lastFlags");
        const int flags = int(FaultKind::UsbFlags);
        QTest::newRow("0x0004") << flags << qint64(0x0004) << "- checksum mismatch (sent)" << 1 << 0 << 0 << 0x0004;
        QTest::newRow("0x0008") << flags << qint64(0x0008) << "- incompatible protocol version" << 0 << 1 << 0
                                << 0x0008;
        QTest::newRow("0x0010") << flags << qint64(0x0010) << "- truncated command (sent)" << 0 << 0 << 1 << 0x0010;
        QTest::newRow("0x0004+0x0008") << flags << qint64(0x000C) << "- checksum mismatch (sent)" << 1 << 0 << 0
                                       << 0x000C;
        QTest::newRow("0x0008+0x0010") << flags << qint64(0x0018) << "- incompatible protocol version" << 0 << 1
                                       << 0 << 0x0018;
        QTest::newRow("all, with ack") << flags << qint64(0x001D) << "- checksum mismatch (sent)" << 1 << 0 << 0
                                       << 0x001D;
        QTest::newRow("bad check value") << int(FaultKind::BadCrc) << qint64(-1) << "- checksum mismatch (RCVD)" << 1
                                         << 0 << 0 << 0x0010;
        QTest::newRow("short payload") << int(FaultKind::TruncatedPayload) << qint64(-1)
                                       << "- checksum mismatch (RCVD)" << 1 << 0 << 0 << 0x0010;
        QTest::newRow("short header") << int(FaultKind::TruncatedHeader) << qint64(5) << "- checksum mismatch (RCVD)"
                                      << 1 << 0 << 0 << 0x0010;
    }

    // Every bad reply is refused and counted; error flags report only the first set, in the
    // order 0x0004, 0x0008, 0x0010, and stay in lastUsbFlags until a reply passes its check.
    // (Rows refused before the flags are looked at keep the 0x0010 left by a truncation reply.)
    void replyProblems() {
        QFETCH(int, kind);
        QFETCH(qint64, value);
        QFETCH(QString, message);
        QFETCH(int, checksumErrors);
        QFETCH(int, versionErrors);
        QFETCH(int, truncationErrors);
        QFETCH(int, lastFlags);
        attach();
        vqs->lastUsbFlags = 0x0010;
        sim->addFault(Fault::onCommand(static_cast<FaultKind>(kind), kVersion, 1, 1, value));
        CapturedLog log;
        uint16_t length = 0xBEEF;
        QVERIFY(!exchange(kVersion, &length, 0));
        QCOMPARE(length, uint16_t(0));
        QCOMPARE(log.count(message), 1);
        const char* const flagMessages[] = {"- checksum mismatch (sent)", "- incompatible protocol version",
                                            "- truncated command (sent)", "- checksum mismatch (RCVD)"};
        for (const char* other : flagMessages)
            if (message != other)
                QCOMPARE(log.count(other), 0);
        QCOMPARE(int(vqs->checksumErrors), checksumErrors);
        QCOMPARE(int(vqs->versionErrors), versionErrors);
        QCOMPARE(int(vqs->truncationErrors), truncationErrors);
        QCOMPARE(int(vqs->lastUsbFlags), lastFlags);

        QVERIFY(exchange(kVersion, &length, 1));
        QCOMPARE(vqs->lastUsbFlags, uint16_t(0));
    }

    // A silent sensor: the wait polls past its limit, then makes retryCount retransmissions.
    // A reply that arrives late but within the limit is taken without one.
    void replyWaitLimit() {
        sim->addFault(Fault::onCommand(FaultKind::NoReply, kVersion, 1, 0));
        attach();
        vqs->retryCount = 2;
        CapturedLog log;
        uint16_t length = 0;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!exchange(kVersion, &length, 1));
        QVERIFY(timer.elapsed() > 1000);
        QTRY_COMPARE(sim->requestCount(), size_t(3));  // the last one unanswered, so maybe not yet logged
        QCOMPARE(vqs->retransmissions, 2u);
        const int timeout = log.indexOf("- timeout:  retransmitting request");
        const int gaveUp = log.indexOf("- No valid response (");
        QVERIFY2(timeout >= 0 && gaveUp > timeout, qPrintable(log.dump()));
        QCOMPARE(log.all()[gaveUp].text, QStringLiteral("new_sensor - No valid response (2 re-tranmissions attempted)"));

        sim->clearFaults();
        sim->clearLog();
        sim->addFault(Fault::onCommand(FaultKind::Delay, kVersion, 1, 1, 1200));
        log.clear();
        QVERIFY(exchange(kVersion, &length, 3));
        QCOMPARE(sim->requestCount(), size_t(1));
        QCOMPARE(log.count("- timeout:  retransmitting request"), 0);
    }

    // A reply that arrives after its request was resent answers that request only: the
    // resend's reply is not taken for the next command's, nor is any packet whose sequence
    // number or command differs from the awaited request's.
    void lateRepliesAnswerOnlyTheirRequest() {
        sim->addFault(Fault::onCommand(FaultKind::LateReply, kVersion, 1, 1));
        attach();
        vqs->retryCount = 1;
        QCOMPARE(vqs->usbGetVersion(), VQS_SUCCESS);
        // The late reply can complete the exchange before the simulator has taken in the resend;
        // once it has, the resend's own reply is on its way.
        QTRY_COMPARE(sim->requestCount(kVersion), size_t(2));
        QCOMPARE(vqs->usbGetSensorName(), VQS_SUCCESS);
        QCOMPARE(QByteArray(vqs->sensorName), QByteArray("VQS-SIM-0001"));
        QCOMPARE(sim->requestCount(vqssim::cmd::UsbSensorName), size_t(1));

        PtyPair device;
        QVERIFY(device.isValid());
        QCOMPARE(vqs->disconnect(), VQS_SUCCESS);
        vqs->portPath = device.slavePath();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
        QCOMPARE(vqs->usbSend(kVersion, nullptr, 0), 0);
        const QByteArray request = device.receive(1000);
        QCOMPARE(request.size(), 16);
        const uint16_t sequence = u16(std::vector<uint8_t>(request.begin(), request.end()), 4);
        QVERIFY(device.send(usbPacket(0, uint16_t(sequence - 1), kVersion, "earlier") +
                            usbPacket(0, sequence, vqssim::cmd::UsbSensorName, "other") +
                            usbPacket(0, sequence, kVersion, "awaited")));
        CapturedLog log;
        uint16_t length = 0;
        const VQSBuffer reply = vqs->usbRecv(kVersion, &length, 1);
        QVERIFY(reply);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(reply.get()), length), QByteArray("awaited"));
        QCOMPARE(log.count("- reply to another request dropped"), 2);
        QCOMPARE(vqs->retransmissions, 1u);  // the simulator's late reply only
    }

    // A header announcing more payload than any reply holds is refused before its payload is
    // waited for (40 ms per announced byte: 18 minutes for 27,000); retransmission recovers.
    void corruptHeaderRefusedAtOnce() {
        sim->addFault(Fault::onCommand(FaultKind::OversizeLength, kVersion, 1, 1, 27000));
        sim->addFault(Fault::onCommand(FaultKind::TruncatedPayload, kVersion, 1, 1, 0));
        attach();
        vqs->retryCount = 1;
        CapturedLog log;
        auto version = std::async(std::launch::async, [this] { return vqs->usbGetVersion(); });
        const bool done = version.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        if (!done)
            sim->close();  // the hang-up ends the stuck read
        QVERIFY(done);
        QCOMPARE(version.get(), VQS_SUCCESS);
        QCOMPARE(sim->requestCount(kVersion), size_t(2));
        QVERIFY2(log.has(QtWarningMsg, "- corrupt reply header refused (start 0x207e, payload length 27000)"),
                 qPrintable(log.dump()));
    }

    // A garbled reply whose header announces fewer bytes than arrived: the resend's reply
    // is read from a clean line, not behind the leftovers.
    void resendReadsACleanLineAfterAGarbledReply() {
        sim->addFault(Fault::onCommand(FaultKind::GarbledHeader, kVersion, 1, 1));
        attach();
        vqs->retryCount = 1;
        QCOMPARE(vqs->usbGetVersion(), VQS_SUCCESS);
        QCOMPARE(sim->requestCount(kVersion), size_t(2));
        QCOMPARE(vqs->retransmissions, 1u);
        QVERIFY2(QByteArray(vqs->versionText).contains("4.1.0.0"), vqs->versionText);
    }

    // The device disappears mid-exchange: the wait ends at its limit with nothing, and a
    // connection to the re-plugged device works again.
    void hangUpMidExchange() {
        sim->addFault(Fault::onCommand(FaultKind::HangUp, kVersion, 1, 1));
        attach();
        vqs->retryCount = 1;
        CapturedLog log;
        uint16_t length = 0;
        QVERIFY(!exchange(kVersion, &length, 1));
        QVERIFY(!sim->isOpen());
        QVERIFY(log.has(QtWarningMsg, "- No valid response ("));

        QVERIFY(sim->replug());
        QCOMPARE(vqs->disconnect(), VQS_SUCCESS);
        vqs->portPath = sim->path();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
        QVERIFY(exchange(kVersion, &length, 1));
    }

    // A reply without payload hands back its 16-byte header; acknowledgements are found by
    // their flag even when the packet carries a payload.
    void headerOnlyRepliesAndAcknowledgements() {
        PtyPair device;
        QVERIFY(device.isValid());
        vqs->portPath = device.slavePath();
        QCOMPARE(vqs->connect(), VQS_SUCCESS);
        vqs->retryCount = 1;

        QCOMPARE(vqs->usbSend(0x000B, nullptr, 0), 0);
        QCOMPARE(device.receive(1000).size(), 16);
        const QByteArray empty = usbPacket(0, 1, 0x000B, QByteArray());
        QVERIFY(device.send(empty));
        uint16_t length = 0xBEEF;
        VQSBuffer reply = vqs->usbRecv(0x000B, &length, 1);
        QVERIFY(reply);
        QCOMPARE(length, uint16_t(0));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(reply.get()), 16), empty);

        QCOMPARE(vqs->usbSend(0x01A4, nullptr, 0), 0);
        QCOMPARE(device.receive(1000).size(), 16);
        QVERIFY(device.send(usbPacket(0x0001, 2, 0x01A4, QByteArray("\x03\0\0\0", 4))));
        QCOMPARE(vqs->receiveAck(), 1u);
        QVERIFY(vqs->pendingRequest == nullptr);

        // A packet without the flag is no acknowledgement: one retransmission, then give up.
        CapturedLog log;
        QCOMPARE(vqs->usbSend(0x01A4, nullptr, 0), 0);
        QCOMPARE(device.receive(1000).size(), 16);
        QVERIFY(device.send(usbPacket(0, 3, 0x01A4, QByteArray())));
        QCOMPARE(vqs->receiveAck(), 0u);
        const QByteArray resent = device.receive(1000);
        QCOMPARE(resent.size(), 16);
        QCOMPARE(int(resent[2]), 0x02);
        QVERIFY(log.has(QtWarningMsg, "- No ACK ("));
        QVERIFY(log.has(QtWarningMsg, "re-transissions attempted)"));
    }
};

QTEST_GUILESS_MAIN(TestUsbFraming)
#include "test_usb_framing.moc"
