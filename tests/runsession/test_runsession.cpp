// A run driven by RunSession against the simulator: each cycle arrives as a
// Sample, in order, stamped when its reply came; recorded ones become rows
// timed by their own reply; the stop ends the run cleanly. Also the rule
// deciding which cycles are recorded, and the run's self-releasing holds.
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "runrecorder.h"
#include "runregistry.h"
#include "runsession.h"
#include "sim_link.h"
#include "simulator.h"
#include "vqs.h"

class TestRunSession : public QObject {
    Q_OBJECT

private slots:
    void recordRule() {
        using Skip = Sample::Skip;
        answer_t a{};
        a.temperature = 21.5f;
        a.pressure = 101.3f;
        QCOMPARE(Sample::recordRule(false, 0, a), Skip::FailedCycle);
        QCOMPARE(Sample::recordRule(false, 9, a), Skip::FailedCycle);
        QCOMPARE(Sample::recordRule(true, 0, a), Skip::None);
        a.pressure = 0.0f;  // still starting: nothing before the first row
        QCOMPARE(Sample::recordRule(true, 0, a), Skip::SensorStarting);
        QCOMPARE(Sample::recordRule(true, 1, a), Skip::None);  // once recording, zeros are data
        a.pressure = 101.3f;
        a.temperature = 0.0f;
        QCOMPARE(Sample::recordRule(true, 0, a), Skip::SensorStarting);
        a.temperature = -0.0f;
        QCOMPARE(Sample::recordRule(true, 0, a), Skip::SensorStarting);
    }

    void samplesArriveInOrderAndBecomeTheirRows() {
        vqssim::Identity id;
        id.name = "VQS-SESSION";
        id.firmware = {{4, 1, 0, 0}};
        id.sensorType = 3;
        vqssim::Options options;
        options.samplePeriodMs = 100;
        vqssim::Simulator sim(vqssim::Framing::Uart, id, options);
        QTemporaryDir links;
        QVERIFY(openThroughLink(sim, links, QStringLiteral("sensor")));
        sim.start();

        QTemporaryDir dir;
        RunRecorder recorder;
        QElapsedTimer clock;
        auto session = std::make_unique<RunSession>(&recorder, &clock);
        VQS* sensor = session->sensor();
        sensor->transport = 1;
        sensor->retryCount = 3;
        sensor->portPath = sim.path();
        QVERIFY(sensor->connect() == VQS_SUCCESS && sensor->identify() == VQS_SUCCESS);
        sensor->disconnect();
        recorder.setRunDirectory(dir.filePath(QStringLiteral("run")));
        QCOMPARE(int(recorder.openRunFiles(*sensor, false)), int(RunRecorder::Opened));
        session->setUnit(RunSession::runUnitCode(false, false, true), false);

        QList<Sample> samples;
        QList<double> times;
        connect(session.get(), &RunSession::sampleArrived, this, [&](const Sample& sample) {
            samples << sample;
            times << session->lastTime();
        });
        QSignalSpy ended(session.get(), &RunSession::runEnded);
        clock.start();
        session->begin();
        QCOMPARE(session->state(), RunSession::State::Running);
        QTRY_VERIFY_WITH_TIMEOUT(session->rows() >= 3, 30000);
        session->requestStop();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 15000);
        QCOMPARE(ended.first(), (QVariantList{false, false}));
        QCOMPARE(session->state(), RunSession::State::Idle);
        QVERIFY(!recorder.isOpen());
        QCOMPARE(sim.unit(), uint8_t(2));  // the run's unit reached the sensor

        // Rows: one per recorded sample, its own reply time and Cycle column.
        QFile csv(recorder.csvDataPath);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().replace("\r\n", "\n").split('\n');
        int row = 1;
        qint64 lastReply = 0;
        int32_t lastCycle = -1;
        for (int i = 0; i < samples.size(); ++i) {
            const Sample& s = samples[i];
            if (!s.recorded())
                continue;
            QCOMPARE(s.cycleCount, uint32_t(row));
            QVERIFY(s.cycle > lastCycle && s.cycle == s.sensorCycle);  // UART: the sensor's own number
            QVERIFY(s.steadyMs >= lastReply && s.utcMs > 0);
            QCOMPARE(s.transport, 1);
            lastCycle = s.cycle;
            lastReply = s.steadyMs;
            const QList<QByteArray> fields = lines.value(row).split(',');
            QCOMPARE(fields.value(0), QByteArray::number((s.steadyMs - clock.msecsSinceReference()) / 1000.0, 'f', 6));
            QCOMPARE(fields.value(0).toDouble(), times[i]);
            QCOMPARE(fields.value(1).trimmed().toInt(), s.cycle);
            ++row;
        }
        QCOMPARE(uint32_t(row - 1), session->rows());
        QCOMPARE(lines.size(), row + 1);  // header, rows, and the empty tail after the last newline
        QFile log(recorder.timeLogPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray events = log.readAll();
        const int started = events.indexOf(": Started\r\n");
        QVERIFY(started >= 0 && started < events.indexOf(": Stopped\r\n"));
        session.reset();  // ends the worker while the simulator still answers
    }

    void reservationsReleaseThemselves() {
        QObject page, other;
        const QString port = QStringLiteral("ttyTEST7");
        {
            RunRegistry::Reservation held = RunRegistry::reservePort(port, &page);
            QVERIFY(held && held.name() == port);
            QVERIFY(RunRegistry::portHeldByOther(port, &other));
            QVERIFY(!RunRegistry::reservePort(port, &other));  // refused, nothing taken
            // The same owner takes its port over; the older hold's end leaves it held.
            RunRegistry::Reservation again = RunRegistry::reservePort(port, &page);
            QVERIFY(again);
            held = RunRegistry::Reservation();
            QVERIFY(RunRegistry::portHeldByOther(port, &other));
            // A move carries the hold; replacing it frees the port.
            RunRegistry::Reservation moved = std::move(again);
            QVERIFY(!again && moved);
            moved = RunRegistry::reservePort(QStringLiteral("ttyTEST8"), &page);
            QVERIFY(!RunRegistry::portHeldByOther(port, &other));
            QVERIFY(RunRegistry::portHeldByOther(QStringLiteral("ttyTEST8"), &other));
        }
        QVERIFY(!RunRegistry::portHeldByOther(QStringLiteral("ttyTEST8"), &other));
        // Two spellings of one directory are one hold.
        QTemporaryDir dir;
        RunRegistry::Reservation run = RunRegistry::reserveDirectory(dir.path() + QStringLiteral("/a/../run"), &page);
        QVERIFY(run);
        QVERIFY(!RunRegistry::reserveDirectory(dir.path() + QStringLiteral("/run"), &other));
        QVERIFY(!RunRegistry::reserveDirectory(QString(), &page));
    }
};

QTEST_GUILESS_MAIN(TestRunSession)
#include "test_runsession.moc"
