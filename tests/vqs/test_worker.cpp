// The measurement worker against the simulated sensor: start and stop, the
// UART sample poll and its stop request, the pause after a cycle, and link
// recovery.
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>

#include "captured_log.h"
#include "simulator.h"
#include "sim_link.h"
#include "vqs.h"

namespace {

// What the sensor object emitted, in order, from whatever thread.
class Emitted {
public:
    explicit Emitted(VQS* sensor) {
        connections << QObject::connect(sensor, &VQS::VQSStopped, sensor, [this] { add("stopped"); }, Qt::DirectConnection)
                    << QObject::connect(sensor, &VQS::VQSWorkComplete, sensor, [this] { add("complete"); },
                                        Qt::DirectConnection)
                    << QObject::connect(
                           sensor, &VQS::VQSEventNotification, sensor, [this](QString, QString) { add("notification"); },
                           Qt::DirectConnection)
                    << QObject::connect(
                           sensor, &VQS::VQSUpdateTimeLog, sensor, [this](QString event) { add("timelog:" + event); },
                           Qt::DirectConnection);
    }
    // A test that fails early leaves a run for the bench to stop: nothing may reach us then.
    ~Emitted() {
        for (const QMetaObject::Connection& c : connections)
            QObject::disconnect(c);
    }
    QStringList all() {
        QMutexLocker lock(&mutex);
        return names;
    }
    int count(const QString& name) { return all().count(name); }

private:
    void add(const QString& name) {
        QMutexLocker lock(&mutex);
        names << name;
    }
    QMutex mutex;
    QStringList names;
    QList<QMetaObject::Connection> connections;
};

// A sensor with a quick sample clock (UART unless told), and a sensor object
// pointed at it.
struct Bench {
    explicit Bench(std::array<uint8_t, 4> firmware = {{4, 1, 0, 0}}, uint32_t type = 3,
                   const std::string& link = {}, vqssim::Framing framing = vqssim::Framing::Uart,
                   uint32_t samplePeriodMs = 100, bool answerAtOnce = false) {
        vqssim::Identity id;
        id.name = "VQS-WORK";
        id.firmware = firmware;
        id.sensorType = type;
        vqssim::Options options;
        options.samplePeriodMs = samplePeriodMs;
        options.answerAtOnce = answerAtOnce;
        sim = std::make_unique<vqssim::Simulator>(framing, id, options);
        ok = link.empty() ? openThroughLink(*sim, links, QStringLiteral("sensor")) : sim->openPty(link);
        sim->start();
        sensor.transport = framing == vqssim::Framing::Uart ? 1 : 0;
        sensor.retryCount = 3;
        sensor.portPath = sim->path();
        // Identification fills the version that the worker's pauses depend on.
        ok = ok && sensor.connect() == VQS_SUCCESS && sensor.getVersion() == VQS_SUCCESS &&
             sensor.getSensorName() == VQS_SUCCESS;
        sensor.disconnect();
    }
    ~Bench() {
        if (thread.isRunning()) {
            sensor.stopRequested = true;
            QMetaObject::invokeMethod(&sensor, [this] {
                sensor.stopVQS();
                thread.quit();
            }, Qt::QueuedConnection);
            thread.wait();
        }
    }
    // Moves the sensor object onto its own thread, as the tab does.
    void onWorkerThread() {
        sensor.moveToThread(&thread);
        thread.start();
    }
    void queue(const char* slot) { QMetaObject::invokeMethod(&sensor, slot, Qt::QueuedConnection); }
    // Queues the next cycle after each one, as the tab does.
    void driveCycles() {
        QObject::connect(&sensor, &VQS::VQSWorkComplete, &sensor, [this] { queue("doWork"); }, Qt::DirectConnection);
    }

    QTemporaryDir links;
    std::unique_ptr<vqssim::Simulator> sim;
    VQS sensor;
    QThread thread;
    bool ok = false;
};

std::vector<vqssim::Request> requestsOf(const vqssim::Simulator& sim, uint16_t command) {
    std::vector<vqssim::Request> out;
    for (const vqssim::Request& r : sim.requests())
        if (r.command == command)
            out.push_back(r);
    return out;
}

}  // namespace

class TestWorker : public QObject {
    Q_OBJECT

private slots:
    void startRunsTheFirstCycleAndStopReturnsToIdle() {
        Bench bench;
        QVERIFY(bench.ok);
        Emitted emitted(&bench.sensor);
        CapturedLog log;

        bench.sensor.concUnit = 2;
        bench.sensor.startVQS();
        QVERIFY(bench.sensor.isRunning());
        QCOMPARE(bench.sensor.commFailed, 0);
        QCOMPARE(emitted.all(), QStringList{"complete"});
        QCOMPARE(bench.sim->state(), uint8_t(2));
        QCOMPARE(bench.sim->unit(), uint8_t(2));  // the unit rides in the set-state payload
        QCOMPARE(QString::fromLatin1(bench.sensor.statusText), QString("None"));
        QVERIFY(bench.sensor.answer.temperature >= 25.0f);
        QVERIFY(bench.sensor.freshAnswer);
        QVERIFY(log.has(QtInfoMsg, "VQS-WORK - starting"));

        // A second start sends nothing.
        const size_t before = bench.sim->requestCount();
        bench.sensor.startVQS();
        QVERIFY(log.has(QtWarningMsg, "VQS-WORK - already running"));
        QCOMPARE(bench.sim->requestCount(), before);

        bench.sensor.stopVQS();
        QVERIFY(!bench.sensor.isRunning());
        QVERIFY(!bench.sensor.portOpen);
        QCOMPARE(bench.sim->state(), uint8_t(3));
        QCOMPARE(emitted.all(), (QStringList{"complete", "stopped"}));
        QVERIFY(log.has(QtInfoMsg, "VQS-WORK - stopping"));

        // Stopping again only clears the failure flag.
        bench.sensor.commFailed = 1;
        bench.sensor.stopVQS();
        QVERIFY(log.has(QtWarningMsg, "VQS-WORK - already stopped"));
        QCOMPARE(bench.sensor.commFailed, 0);
        QCOMPARE(emitted.count("stopped"), 1);

        // A cycle queued after the stop does nothing.
        QMetaObject::invokeMethod(&bench.sensor, "doWork", Qt::DirectConnection);
        QCOMPARE(emitted.count("complete"), 1);
    }

    void aStartThatCannotOpenThePortReportsStopped() {
        VQS sensor;
        sensor.transport = 1;
        sensor.portPath = "/nonexistent/vqs-port";
        Emitted emitted(&sensor);
        sensor.startVQS();
        QVERIFY(!sensor.isRunning());
        QCOMPARE(sensor.commFailed, 1);
        QCOMPARE(emitted.all(), QStringList{"stopped"});
    }

    void repeatedSampleIsPolledAndAStopRequestEndsThePoll() {
        Bench bench;
        QVERIFY(bench.ok);
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        bench.queue("startVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 1, 15000);

        // No new sample: the first cycle after the hold takes the held one,
        // the next keeps asking, every half second.
        bench.sim->holdSamples(true);
        bench.queue("doWork");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 2, 15000);
        const size_t polls0 = bench.sim->requestCount(vqssim::cmd::UartEngData);
        bench.queue("doWork");
        QTRY_VERIFY_WITH_TIMEOUT(bench.sim->requestCount(vqssim::cmd::UartEngData) - polls0 >= 3, 10000);
        const auto polls = requestsOf(*bench.sim, vqssim::cmd::UartEngData);
        const auto gap = polls.back().received - polls[polls.size() - 2].received;
        QVERIFY(gap >= std::chrono::milliseconds(480));
        QCOMPARE(emitted.count("complete"), 2);

        // A new sample is taken at once (the cycle then ends after its pause).
        bench.sim->advanceSample();
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 3, 10000);
        QCOMPARE(bench.sensor.lastSensorCycle, bench.sensor.sensorCycle);

        // Held again; the stop is queued behind the endless poll, and the
        // request flag lets it through within one poll.
        const size_t polls1 = bench.sim->requestCount(vqssim::cmd::UartEngData);
        bench.queue("doWork");
        QTRY_VERIFY_WITH_TIMEOUT(bench.sim->requestCount(vqssim::cmd::UartEngData) - polls1 >= 2, 10000);
        bench.sensor.stopRequested = true;
        bench.queue("stopVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("stopped"), 1, 10000);
        QTRY_VERIFY(!bench.sensor.isRunning());
        QCOMPARE(emitted.count("complete"), 3);  // the cut-short poll records nothing
        QCOMPARE(bench.sim->state(), uint8_t(3));
    }

    void pauseAfterEachUartCycle_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("pauseMs");
        QTest::newRow("3.x methane") << 3 << 5 << 900;
        QTest::newRow("3.x flammable") << 3 << 3 << 1900;
        QTest::newRow("4.x") << 4 << 5 << 1900;
    }
    void pauseAfterEachUartCycle() {
        QFETCH(int, major);
        QFETCH(int, type);
        QFETCH(int, pauseMs);
        Bench bench({{uint8_t(major), 2, 0, 0}}, uint32_t(type));
        QVERIFY(bench.ok);
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        bench.queue("startVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 1, 15000);
        bench.queue("doWork");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 2, 15000);
        // Sample polls of consecutive cycles lie one pause apart (the sample
        // clock is faster than the pause, so each first poll finds a new one).
        const auto polls = requestsOf(*bench.sim, vqssim::cmd::UartEngData);
        QVERIFY(polls.size() >= 2);
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(polls.back().received -
                                                                               polls[polls.size() - 2].received);
        // The upper bound only tells the short pause from the long one: a loaded machine adds to both.
        QVERIFY2(gap.count() >= pauseMs && gap.count() < pauseMs + 950, qPrintable(QString::number(gap.count())));
        bench.sensor.stopRequested = true;
        bench.queue("stopVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("stopped"), 1, 15000);
    }

    void reconnectionAfterTwoFailedAttemptsReportsTwoRetries() {
        const std::string link = QDir::temp().filePath("vqs-worker-link-%1").arg(QCoreApplication::applicationPid()).toStdString();
        Bench bench({{4, 1, 0, 0}}, 3, link);
        QVERIFY(bench.ok);
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        bench.queue("startVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 1, 15000);
        // The worker counts the run's recorded cycles; the time log names that count.
        const uint32_t recorded = bench.sensor.cycleCount;
        QCOMPARE(recorded, 1u);

        CapturedLog log;
        // The failed cycle and each failed attempt count as cycles without an answer.
        std::atomic<int> unanswered{0};
        QObject::connect(&bench.sensor, &VQS::VQSCycleUnanswered, &bench.sensor, [&] { ++unanswered; },
                         Qt::DirectConnection);
        bench.sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        bench.queue("doWork");
        // Attempts come one second apart; the sensor is back after the second has failed,
        // in time for the third.
        QTRY_COMPARE_WITH_TIMEOUT(log.count("- error opening serial port"), 2, 10000);
        QVERIFY(bench.sim->replug());
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 2, 10000);
        QCOMPARE(unanswered.load(), 3);
        QVERIFY(emitted.all().contains("timelog:Cycle 1: Connection Re-established (2 retries)."));
        QVERIFY(bench.sensor.isRunning());
        QCOMPARE(bench.sensor.commFailed, 0);
        bench.sensor.stopRequested = true;
        bench.queue("stopVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("stopped"), 1, 15000);
    }

    void lostSensorStopsTheRunAndReportsIt() {
        Bench bench;
        QVERIFY(bench.ok);
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        QString subject, message;
        QObject::connect(
            &bench.sensor, &VQS::VQSEventNotification, &bench.sensor,
            [&](QString s, QString m) {
                subject = s;
                message = m;
            },
            Qt::DirectConnection);
        bench.queue("startVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 1, 15000);
        bench.sensor.cycleCount = 1;

        bench.sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        bench.queue("doWork");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 2, 40000);
        const QStringList all = emitted.all();
        QCOMPARE(all.mid(all.size() - 4),
                 (QStringList{"timelog:Cycle 1: Re-connection failed - giving up after 10 retries!", "stopped",
                              "notification", "complete"}));
        QCOMPARE(subject, QString("Tarn Comm Failed: sensor 'VQS-WORK'"));
        QVERIFY(message.startsWith("Communication failed after 1 cycles ("));
        QVERIFY(message.endsWith(" bytes received)."));
        QCOMPARE(bench.sensor.commFailed, 1);
        QVERIFY(!bench.sensor.isRunning());
        QVERIFY(!bench.sensor.freshAnswer);  // the tab must not record this cycle
    }

    void aStopDuringRecoveryEndsTheRunWithoutAFailure() {
        Bench bench;
        QVERIFY(bench.ok);
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        bench.queue("startVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 1, 15000);
        bench.sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        bench.queue("doWork");
        QTRY_VERIFY_WITH_TIMEOUT(!bench.sim->isOpen(), 15000);
        bench.sensor.stopRequested = true;
        bench.queue("stopVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("stopped"), 1, 15000);
        QVERIFY(!bench.sensor.isRunning());
        QVERIFY(!bench.sensor.portOpen);
        QCOMPARE(emitted.count("notification"), 0);
        QCOMPARE(emitted.count("complete"), 1);
    }

    // Unplugged: another sensor turns up at the old place, the run's own comes
    // back on a port that appears later, and an instrument on a port that was
    // there all along is never sent a request. A sensor that only shares the
    // run's name (a copied parameter set) is as foreign as one named otherwise.
    void reconnectionFollowsTheRunSensorAndOnlyIt_data() {
        QTest::addColumn<bool>("sameName");
        QTest::newRow("another name") << false;
        QTest::newRow("same name, another chip") << true;
    }
    void reconnectionFollowsTheRunSensorAndOnlyIt() {
        QFETCH(bool, sameName);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string home = dir.filePath("ttyACM0").toStdString();
        const std::string moved = dir.filePath("ttyACM1").toStdString();
        vqssim::Simulator bystander(vqssim::Framing::Uart);
        QVERIFY(bystander.openPty(dir.filePath("ttyACM2").toStdString()));
        bystander.start();
        Bench bench({{4, 1, 0, 0}}, 3, home);
        QVERIFY(bench.ok);
        QVERIFY(bench.sensor.mcuId[0] != '\0');
        const std::string standing = bystander.path();
        bench.sensor.candidatePorts = [&] {
            std::vector<std::string> ports{home, standing};
            if (QFileInfo::exists(QString::fromStdString(moved)))
                ports.push_back(moved);
            return ports;
        };
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        bench.queue("startVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 1, 15000);
        bench.sensor.cycleCount = 1;

        CapturedLog log;
        bench.sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        bench.queue("doWork");
        QTRY_COMPARE_WITH_TIMEOUT(log.count("- error opening serial port"), 1, 15000);
        vqssim::Identity otherId;
        otherId.name = sameName ? "VQS-WORK" : "VQS-OTHER";
        otherId.mcuId = {{0x11111111u, 0x22222222u, 0x33333333u}};
        vqssim::Simulator other(vqssim::Framing::Uart, otherId);
        QVERIFY(other.openPty(home));
        other.start();
        other.setSampleNumber(5000);
        QVERIFY(other.waitForRequests(1, 15000));
        QVERIFY(bench.sim->replug(moved));

        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("complete"), 2, 20000);
        QVERIFY(bench.sensor.freshAnswer);
        QVERIFY(bench.sensor.sensorCycle < 5000);
        const QStringList events = emitted.all().filter("timelog:");
        QCOMPARE(events.size(), 1);
        QVERIFY2(events.first().startsWith("timelog:Cycle 1: Connection Re-established on ttyACM1 ("), qPrintable(events.first()));
        QCOMPARE(QString::fromLatin1(bench.sensor.sensorName), QString("VQS-WORK"));
        QCOMPARE(bench.sensor.portPath, moved);
        QVERIFY(other.requestCount(vqssim::cmd::UartSensorInfo) >= 1);  // asked who it is, and left alone
        QCOMPARE(other.requestCount(vqssim::cmd::UartSetState), size_t(0));
        QCOMPARE(other.requestCount(vqssim::cmd::UartEngData), size_t(0));
        QCOMPARE(bystander.requestCount(), size_t(0));
        bench.sensor.stopRequested = true;
        bench.queue("stopVQS");
        QTRY_COMPARE_WITH_TIMEOUT(emitted.count("stopped"), 1, 15000);
        QCOMPARE(bench.sim->state(), uint8_t(3));
    }

    // Unplugged with its power: the sensor comes back idle, its sample counter
    // restarted. The run tells it to measure again with the run's unit and
    // takes only samples it measured since; UART rows carry the new numbers and
    // the time log notes the restart. One that will not measure is lost.
    void powerCycledSensorMeasuresAgainOrIsLost_data() {
        QTest::addColumn<bool>("usb");
        QTest::addColumn<bool>("measures");
        QTest::newRow("UART") << false << true;
        QTest::newRow("USB") << true << true;
        QTest::newRow("USB, refuses to measure") << true << false;
    }
    void powerCycledSensorMeasuresAgainOrIsLost() {
        QFETCH(bool, usb);
        QFETCH(bool, measures);
        // Outlive the bench, whose teardown may end a cycle.
        QMutex mutex;
        QList<int> samples;         // sample of each new answer (USB: its low byte)
        int idleAnswers = 0;        // new answers taken while the sensor was not measuring
        bool replugged = false;
        int firstAfter = -1;        // index in samples of the first answer after the replug

        Bench bench({{4, 1, 0, 0}}, 3, {}, usb ? vqssim::Framing::Usb : vqssim::Framing::Uart, 200);
        QVERIFY(bench.ok);
        bench.sensor.concUnit = 2;
        bench.sensor.cycleCount = 7;
        bench.onWorkerThread();
        Emitted emitted(&bench.sensor);
        QObject::connect(
            &bench.sensor, &VQS::VQSWorkComplete, &bench.sensor,
            [&] {
                if (!bench.sensor.freshAnswer)
                    return;
                QMutexLocker lock(&mutex);
                if (bench.sim->idleSincePowerUp() || bench.sim->state() != 2)
                    ++idleAnswers;
                if (replugged && firstAfter < 0)
                    firstAfter = samples.size();
                samples << (usb ? bench.sensor.answer.verboseBlock[0] : bench.sensor.sensorCycle);
            },
            Qt::DirectConnection);
        auto taken = [&] {
            QMutexLocker lock(&mutex);
            return samples.size();
        };
        bench.driveCycles();
        bench.queue("startVQS");
        QTRY_VERIFY_WITH_TIMEOUT(taken() >= 2, 10000);

        const uint16_t answerCommand = usb ? vqssim::cmd::UsbAnswer : vqssim::cmd::UartEngData;
        bench.sim->setSampleNumber(200);
        QTRY_VERIFY_WITH_TIMEOUT(taken() >= 3, 10000);
        if (!measures)
            bench.sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::ReplyStatus, vqssim::cmd::UsbSetState, 1, 0, 2));
        bench.sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, answerCommand));
        QTRY_VERIFY_WITH_TIMEOUT(!bench.sim->isOpen(), 10000);
        {
            QMutexLocker lock(&mutex);
            replugged = true;
        }
        QVERIFY(bench.sim->replug(vqssim::Simulator::Replug::PowerCycled));

        if (!measures) {
            QTRY_COMPARE_WITH_TIMEOUT(emitted.count("notification"), 1, 40000);
            // Counted on from 7 by the worker: at least the three samples before the loss.
            QVERIFY(bench.sensor.cycleCount >= 10);
            QVERIFY(emitted.all().contains(QString("timelog:Cycle %1: Re-connection failed - giving up after 10 retries!")
                                               .arg(bench.sensor.cycleCount)));
            QVERIFY(!bench.sensor.isRunning());
            QCOMPARE(bench.sensor.commFailed, 1);
            QCOMPARE(firstAfter, -1);  // nothing taken from the idle sensor
            QVERIFY(bench.sim->idleSincePowerUp());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(firstAfter >= 0 && taken() >= firstAfter + 3, 30000);
        QVERIFY(bench.sensor.isRunning());
        QCOMPARE(bench.sim->state(), uint8_t(2));
        QCOMPARE(bench.sim->unit(), uint8_t(2));  // the run's unit again
        const QStringList events = emitted.all().filter("timelog:");
        const QRegularExpressionMatch reestablished =
            QRegularExpression("^timelog:Cycle (\\d+): Connection Re-established \\(").match(events.first());
        QVERIFY2(reestablished.hasMatch() && reestablished.captured(1).toUInt() >= 10, qPrintable(events.join('|')));
        QMutexLocker lock(&mutex);
        QCOMPARE(idleAnswers, 0);
        for (int i = firstAfter + 1; i < samples.size(); ++i)
            QVERIFY2(samples[i] != samples[i - 1], qPrintable(QString("sample %1 taken twice").arg(samples[i])));
        if (!usb) {
            // Rows carry the sensor's new numbers: counted from 1 again, rising.
            QVERIFY2(samples[firstAfter] >= 1 && samples[firstAfter] < 50, qPrintable(QString::number(samples[firstAfter])));
            for (int i = firstAfter + 1; i < samples.size(); ++i)
                QVERIFY(samples[i] > samples[i - 1]);
            // Named by the count at the loss, as the reconnection was.
            QCOMPARE(events.filter(QRegularExpression(QString("^timelog:Cycle %1: Sensor restarted \\(sample \\d after 2\\d\\d\\)\\.$")
                                                          .arg(reestablished.captured(1))))
                         .size(),
                     1);
        } else {
            QVERIFY(samples[firstAfter] != 0);  // sample 0: nothing measured since power-up
        }
    }

    void usbCyclesAreSpacedAndEachAnswerIsANewSample() {
        // A sensor that answers at once: the worker spaces the cycles itself,
        // and a stop asked for meanwhile ends the wait without another request.
        {
            Bench bench({{4, 1, 0, 0}}, 3, {}, vqssim::Framing::Usb, 100, true);
            QVERIFY(bench.ok);
            bench.onWorkerThread();
            bench.driveCycles();
            Emitted emitted(&bench.sensor);
            bench.queue("startVQS");
            QTRY_VERIFY_WITH_TIMEOUT(emitted.count("complete") >= 4, 30000);
            bench.sensor.stopRequested = true;
            const size_t asked = bench.sim->requestCount(vqssim::cmd::UsbAnswer);
            bench.queue("stopVQS");
            QTRY_COMPARE_WITH_TIMEOUT(emitted.count("stopped"), 1, 15000);
            QVERIFY(bench.sim->requestCount(vqssim::cmd::UsbAnswer) <= asked + 1);
            const auto answers = requestsOf(*bench.sim, vqssim::cmd::UsbAnswer);
            for (size_t i = 1; i < answers.size(); ++i) {
                const auto gap =
                    std::chrono::duration_cast<std::chrono::milliseconds>(answers[i].received - answers[i - 1].received);
                QVERIFY2(gap.count() >= 850, qPrintable(QString::number(gap.count())));
            }
        }
        // A sensor that holds the request until its next sample: every cycle
        // brings a new one (byte 0 of the verbose block is the sample number).
        QList<int> samples;  // outlives the bench, whose teardown may end a cycle
        QMutex mutex;
        Bench bench({{4, 1, 0, 0}}, 3, {}, vqssim::Framing::Usb, 1200);
        QVERIFY(bench.ok);
        bench.onWorkerThread();
        QObject::connect(
            &bench.sensor, &VQS::VQSWorkComplete, &bench.sensor,
            [&] {
                QMutexLocker lock(&mutex);
                samples << bench.sensor.answer.verboseBlock[0];
            },
            Qt::DirectConnection);
        bench.driveCycles();
        bench.queue("startVQS");
        auto seen = [&] {
            QMutexLocker lock(&mutex);
            return samples;
        };
        QTRY_VERIFY_WITH_TIMEOUT(seen().size() >= 4, 30000);
        const QList<int> got = seen();
        for (int i = 1; i < got.size(); ++i)
            QVERIFY2(got[i] != got[i - 1], qPrintable(QString("sample %1 answered twice").arg(got[i])));
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "test_worker.moc"
