// The serial link over a pseudo-terminal pair: settings, read time-outs, hang-up, log lines.
#include <QtTest>

#include <chrono>
#include <thread>

#include <poll.h>
#include <termios.h>

#include "pty_pair.h"
#include "serialport.h"
#include "vqs.h"

namespace {

QStringList capturedLog;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    capturedLog << message;
}

using Clock = std::chrono::steady_clock;

qint64 msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Plays the device: sends each chunk after its delay (from the previous chunk).
class DelayedSender {
public:
    DelayedSender(PtyPair& pty, QList<QPair<int, QByteArray>> chunks)
        : thread_([&pty, chunks] {
              for (const auto& chunk : chunks) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(chunk.first));
                  pty.send(chunk.second);
              }
          }) {}
    ~DelayedSender() { thread_.join(); }

private:
    std::thread thread_;
};

}  // namespace

class TestLink : public QObject {
    Q_OBJECT

private:
    // Opens a VQS on the pty with the given transport; fails the test if it cannot.
    static bool open(VQS& vqs, const PtyPair& pty, int transport) {
        vqs.portPath = pty.slavePath();
        vqs.transport = transport;
        return vqs.connect() == VQS_SUCCESS && vqs.portOpen && vqs.portHandle;
    }

private slots:
    void init() {
        capturedLog.clear();
        qInstallMessageHandler(captureMessage);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void settingsByTransport_data() {
        QTest::addColumn<int>("transport");
        QTest::addColumn<int>("speed");
        QTest::addColumn<uint>("interval");
        QTest::addColumn<uint>("readConstant");
        QTest::newRow("usb") << 0 << int(B115200) << 100u << 100u;
        QTest::newRow("uart") << 1 << int(B38400) << 0u << 1000u;
    }
    void settingsByTransport() {
        QFETCH(int, transport);
        QFETCH(int, speed);
        QFETCH(uint, interval);
        QFETCH(uint, readConstant);
        PtyPair pty;
        QVERIFY(pty.isValid());
        // Start from a cooked line so that raw mode is seen to be applied.
        termios tio{};
        QCOMPARE(tcgetattr(pty.slaveFd(), &tio), 0);
        tio.c_lflag |= ICANON | ECHO | ISIG;
        tio.c_cflag |= CSTOPB;
        tio.c_cc[VMIN] = 1;
        QCOMPARE(tcsetattr(pty.slaveFd(), TCSANOW, &tio), 0);

        VQS vqs;
        QVERIFY(open(vqs, pty, transport));
        QCOMPARE(tcgetattr(pty.slaveFd(), &tio), 0);
        QCOMPARE(int(cfgetispeed(&tio)), speed);
        QCOMPARE(int(cfgetospeed(&tio)), speed);
        QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(tio.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
        QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(int(tio.c_cc[VMIN]), 0);
        QCOMPARE(int(tio.c_cc[VTIME]), 0);

        const SerialPortSettings s = vqs.portHandle->settings();
        QCOMPARE(s.readIntervalTimeout, interval);
        QCOMPARE(s.readTotalTimeoutMultiplier, 40u);
        QCOMPARE(s.readTotalTimeoutConstant, readConstant);
        QCOMPARE(s.writeTotalTimeoutMultiplier, 20u);
        QCOMPARE(s.writeTotalTimeoutConstant, 100u);
        QVERIFY(capturedLog.isEmpty());
    }

    void connectTwiceKeepsHandleAndPortIsExclusive() {
        PtyPair pty;
        VQS vqs;
        QVERIFY(open(vqs, pty, 0));
        SerialPortIo* first = vqs.portHandle.get();
        const intptr_t fd = first->nativeHandle();
        QCOMPARE(vqs.connect(), VQS_SUCCESS);
        QCOMPARE(vqs.portHandle.get(), first);
        QCOMPARE(vqs.portHandle->nativeHandle(), fd);

        VQS other;
        other.portPath = pty.slavePath();
        QCOMPARE(other.connect(), VQS_FAILURE);
        QVERIFY(!other.portOpen);
        QCOMPARE(capturedLog, QStringList{
            QString("new_sensor - error opening serial port %1").arg(QString::fromStdString(pty.slavePath()))});

        // Once the first user lets go, the port is free again.
        QCOMPARE(vqs.disconnect(), VQS_SUCCESS);
        QVERIFY(!vqs.portOpen);
        QVERIFY(!vqs.portHandle);
        QCOMPARE(other.connect(), VQS_SUCCESS);
    }

    void refusalsAndOpenFailures() {
        VQS vqs;
        vqs.portNumber = 0;
        QCOMPARE(vqs.connect(), VQS_FAILURE);
        QVERIFY(!vqs.portHandle);
        QCOMPARE(capturedLog, QStringList{"new_sensor - bad COM port number. Cannot open port"});

        // A device path replaces the number, so 0 is no refusal then.
        PtyPair pty;
        vqs.portPath = pty.slavePath();
        QCOMPARE(vqs.connect(), VQS_SUCCESS);
        QCOMPARE(vqs.disconnect(), VQS_SUCCESS);

        capturedLog.clear();
        VQS com;
        com.portNumber = 5;
        QCOMPARE(com.connect(), VQS_FAILURE);
        com.portPath = "/nonexistent/ttyX";
        QCOMPARE(com.connect(), VQS_FAILURE);
        com.portPath = "/dev/null";  // opens, but is no serial line
        QCOMPARE(com.connect(), VQS_FAILURE);
        com.portPath = pty.slavePath();
        com.transport = 7;
        QCOMPARE(com.connect(), VQS_FAILURE);
        QVERIFY(!com.portOpen);
        QVERIFY(!com.portHandle);
        QCOMPARE(capturedLog, (QStringList{
            "new_sensor - error opening serial port 5",
            "new_sensor - error opening serial port /nonexistent/ttyX",
            "new_sensor - error getting device state",
            "new_sensor - unknown transport 7",
        }));
    }

    void closedPortOperations() {
        VQS vqs;
        QCOMPARE(vqs.disconnect(), VQS_SUCCESS);
        uint8_t buffer[4] = {1, 2, 3, 4};
        const auto start = Clock::now();
        QCOMPARE(vqs.serialRead(buffer, sizeof(buffer)), 0);
        QVERIFY(msSince(start) < 100);
        QCOMPARE(vqs.serialWrite(buffer, sizeof(buffer)), 0);
        QCOMPARE(capturedLog, QStringList{"new_sensor - error writing to serial port 0x0"});
    }

    void writeReachesDeviceAndStaleInputIsDropped() {
        PtyPair pty;
        VQS vqs;
        QVERIFY(open(vqs, pty, 1));
        uint8_t frame[] = {0x5A, 0x00, 0x0D, 0x0A, 0xFF};
        QCOMPARE(vqs.serialWrite(frame, sizeof(frame)), int(sizeof(frame)));
        QCOMPARE(pty.receive(1000), QByteArray(reinterpret_cast<const char*>(frame), sizeof(frame)));

        // Input that has arrived unread is dropped on request; what comes later is read.
        QVERIFY(pty.send("stale"));
        pollfd ready{static_cast<int>(vqs.portHandle->nativeHandle()), POLLIN, 0};
        QCOMPARE(::poll(&ready, 1, 5000), 1);
        vqs.serialDiscardInput();
        QVERIFY(pty.send("fresh"));
        uint8_t reply[5] = {};
        QCOMPARE(vqs.serialRead(reply, sizeof(reply)), int(sizeof(reply)));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(reply), sizeof(reply)), QByteArray("fresh"));
    }

    // A read returns the moment its n bytes are in, however long the time-outs.
    void fullReadReturnsAtOnce() {
        PtyPair pty;
        VQS vqs;
        QVERIFY(open(vqs, pty, 1));
        uint8_t buffer[16] = {};
        auto start = Clock::now();
        {
            DelayedSender sender(pty, {{50, "abcdef"}});
            QCOMPARE(vqs.serialRead(buffer, 6), 6);
        }
        // Upper bounds here are the time-out the read must not wait for; a busy machine only
        // adds to the lower ones.
        QVERIFY2(msSince(start) < 1235, "a complete UART read waited for its time-out");
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 6), QByteArray("abcdef"));

        QVERIFY(vqs.disconnect() == VQS_SUCCESS && open(vqs, pty, 0));
        start = Clock::now();
        {
            // Gaps shorter than the 100 ms interval keep the read going.
            DelayedSender sender(pty, {{0, "0123"}, {60, "4567"}, {60, "89ab"}, {60, "cdef"}});
            QCOMPARE(vqs.serialRead(buffer, 16), 16);
        }
        const qint64 elapsed = msSince(start);
        QVERIFY2(elapsed >= 170 && elapsed < 735, qPrintable(QString::number(elapsed)));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 16), QByteArray("0123456789abcdef"));
    }

    void partialReadsEndAtTheirTimeOut_data() {
        QTest::addColumn<int>("transport");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        // USB: 100 ms after the last byte, before the 740 ms total.
        QTest::newRow("usb interval") << 0 << 0 << 95 << 735;
        // USB: the interval counts from the first byte, not from the start of the read.
        QTest::newRow("usb late bytes") << 0 << 300 << 395 << 735;
        // UART: no interval, so the total 1000 + 40 x 6 ms.
        QTest::newRow("uart total") << 1 << 0 << 1235 << 2400;
    }
    void partialReadsEndAtTheirTimeOut() {
        QFETCH(int, transport);
        QFETCH(int, delay);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        PtyPair pty;
        VQS vqs;
        QVERIFY(open(vqs, pty, transport));
        uint8_t buffer[16] = {};
        const uint32_t want = transport == 1 ? 6 : 16;
        const auto start = Clock::now();
        {
            DelayedSender sender(pty, {{delay, "xyz"}});
            QCOMPARE(vqs.serialRead(buffer, want), 3);  // a short count, and no pause after it
        }
        const qint64 elapsed = msSince(start);
        QVERIFY2(elapsed >= minMs && elapsed < maxMs, qPrintable(QString::number(elapsed)));
    }

    // Nothing at all: the port's total time-out, then (in serialRead) a 200 ms pause.
    void emptyReads() {
        PtyPair pty;
        VQS vqs;
        QVERIFY(open(vqs, pty, 0));
        uint8_t buffer[16];
        auto start = Clock::now();
        QCOMPARE(vqs.portHandle->read(buffer, 16), 0L);
        qint64 elapsed = msSince(start);
        QVERIFY2(elapsed >= 735 && elapsed < 1500, qPrintable(QString::number(elapsed)));

        start = Clock::now();
        QCOMPARE(vqs.serialRead(buffer, 16), 0);
        elapsed = msSince(start);
        QVERIFY2(elapsed >= 935 && elapsed < 1800, qPrintable(QString::number(elapsed)));

        QVERIFY(vqs.disconnect() == VQS_SUCCESS && open(vqs, pty, 1));
        start = Clock::now();
        QCOMPARE(vqs.portHandle->read(buffer, 6), 0L);
        elapsed = msSince(start);
        QVERIFY2(elapsed >= 1235 && elapsed < 2200, qPrintable(QString::number(elapsed)));
        QVERIFY(capturedLog.isEmpty());
    }

    void hangUpDetectedAtOnce() {
        PtyPair pty;
        VQS vqs;
        QVERIFY(open(vqs, pty, 1));
        uint8_t buffer[16];
        // The device goes away while a read waits for it.
        auto start = Clock::now();
        {
            std::thread unplug([&pty] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                pty.closeMaster();
            });
            QCOMPARE(vqs.serialRead(buffer, 16), 0);
            unplug.join();
        }
        qint64 elapsed = msSince(start);
        QVERIFY2(elapsed < 1235, qPrintable(QString::number(elapsed)));  // before the read's time-out

        // Later reads fail at once, without the empty-read pause.
        start = Clock::now();
        QCOMPARE(vqs.portHandle->read(buffer, 16), -1L);
        QCOMPARE(vqs.serialRead(buffer, 16), 0);
        elapsed = msSince(start);
        QVERIFY2(elapsed < 200, qPrintable(QString::number(elapsed)));  // no empty-read pause

        const intptr_t fd = vqs.portHandle->nativeHandle();
        QCOMPARE(vqs.serialWrite(buffer, 4), 0);
        QCOMPARE(capturedLog,
                 QStringList{QString("new_sensor - error writing to serial port 0x%1").arg(qlonglong(fd), 0, 16)});
        QCOMPARE(vqs.disconnect(), VQS_SUCCESS);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
