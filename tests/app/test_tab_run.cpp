// Runs in the real window against simulated sensors: a live run, stopping it,
// a hang-up in mid-run, and closing a page or the window while it measures.
#include <QFileInfo>
#include <QLineEdit>
#include <QMutex>
#include <QPointer>
#include <QPushButton>
#include <QThread>

#include <atomic>

#include "captured_log.h"
#include "lumocustomplot.h"
#include "runregistry.h"
#include "startup.h"
#include "tab_fixture.h"
#include "testnotedialog.h"
#include "vqs.h"

namespace {

// Signals of the sensor object as they are emitted, on whatever thread.
class SignalOrder {
public:
    explicit SignalOrder(VQS* sensor) {
        auto note = [this](const QString& what) {
            QMutexLocker lock(&mutex);
            names << what;
        };
        QObject::connect(sensor, &VQS::VQSStopped, sensor, [note] { note("stopped"); }, Qt::DirectConnection);
        QObject::connect(sensor, &VQS::VQSWorkComplete, sensor, [note] { note("complete"); }, Qt::DirectConnection);
        QObject::connect(
            sensor, &VQS::VQSEventNotification, sensor,
            [this, note](QString subject, QString message) {
                {
                    QMutexLocker lock(&mutex);
                    notification = subject + " | " + message;
                }
                note("notification");
            },
            Qt::DirectConnection);
        QObject::connect(
            sensor, &VQS::VQSUpdateTimeLog, sensor,
            [this](QString event) {
                QMutexLocker lock(&mutex);
                timeLog << event;
            },
            Qt::DirectConnection);
    }
    QStringList all() {
        QMutexLocker lock(&mutex);
        return names;
    }
    QString lastNotification() {
        QMutexLocker lock(&mutex);
        return notification;
    }
    QStringList timeLogEvents() {
        QMutexLocker lock(&mutex);
        return timeLog;
    }

private:
    QMutex mutex;
    QStringList names, timeLog;
    QString notification;
};

// Scans, then presses Start on the current page; true once a cycle is recorded.
bool startRun(TarnLiteSystemTab* tab) {
    part<QPushButton>(tab, "pushButton_scanPorts")->click();
    auto* start = part<QPushButton>(tab, "pushButton_start");
    if (!start->isEnabled())
        return false;
    start->click();
    return QTest::qWaitFor([&] { return tab->sensorObject() && tab->recordedCycles() >= 1; }, 15000);
}

// Fast sample clock and short start-up so cycles come about once a second.
vqssim::Options quickOptions() {
    vqssim::Options options;
    options.samplePeriodMs = 200;
    return options;
}

}  // namespace

class TestTabRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        // The run directories go where the program keeps them, beside the executable.
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
    }

    void runShowsLiveValuesAndStopsOnRequest() {
        SimulatedPorts ports;
        // Firmware 3.x on a methane sensor: 900 ms after each cycle.
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity("VQS-RUN-01", 5, {{3, 2, 0, 0}}), vqssim::Framing::Uart,
                                           quickOptions());
        QVERIFY(sim);
        MainWindow window;
        window.resize(1100, 880);  // the whole button column in sight, for the README
        window.show();
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        QVERIFY(startRun(tab));
        VQS* sensor = tab->sensorObject();

        auto* start = part<QPushButton>(tab, "pushButton_start");
        QCOMPARE(start->text(), QString("Stop"));
        QVERIFY(start->isChecked());
        QVERIFY(!part<QPushButton>(tab, "pushButton_saveData")->isEnabled());
        QVERIFY(!part<QPushButton>(tab, "pushButton_scanPorts")->isEnabled());
        QVERIFY(!part<QComboBox>(tab, "comboBox_ports")->isEnabled());
        QCOMPARE(labelText(tab, "label_flamConcUnit"), QString("PPM"));
        QCOMPARE(sim->unit(), uint8_t(3));
        QCOMPARE(sim->state(), uint8_t(2));

        QVERIFY(QTest::qWaitFor([&] { return tab->recordedCycles() >= 3; }, 20000));
        QVERIFY(QRegularExpression("^\\d\\dh:\\d\\dm:\\d\\ds$").match(labelText(tab, "label_time")).hasMatch());
        QVERIFY(labelText(tab, "label_cycles").toInt() > 1);
        QCOMPARE(labelText(tab, "label_status"), QString("Sensor OK"));
        QCOMPARE(part<QLabel>(tab, "label_status")->styleSheet(),
                 QString("QLabel{color:#26A65B;font-family:Quicksand;}"));
        QVERIFY(labelText(tab, "label_temp").toDouble() >= 25.0);
        QVERIFY(labelText(tab, "label_pressure").startsWith("101."));
        QCOMPARE(part<LumoCustomPlot>(tab, "plot_enviro")->graph(0)->dataCount(), int(tab->recordedCycles()));

        // Gas arrives (the waveform's rising half), and a warm-up code turns
        // the status line orange.
        sim->setSampleNumber(30);
        sim->setSensorStatus(0x28);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Sensor Warm-Up"), 10000);
        QCOMPARE(part<QLabel>(tab, "label_status")->styleSheet(),
                 QString("QLabel{color:#F89406;font-family:Quicksand;}"));
        QVERIFY(QTest::qWaitFor([&] { return labelText(tab, "label_flamID") != "None"; }, 10000));
        saveScreenshot(&window, "tab-running.png");
        sim->setSensorStatus(0);

        // The sensor stops producing new samples: the worker polls, and Stop
        // still ends the run within a poll.
        const size_t polls = sim->requestCount(vqssim::cmd::UartEngData);
        sim->holdSamples(true);
        QTRY_VERIFY_WITH_TIMEOUT(sim->requestCount(vqssim::cmd::UartEngData) >= polls + 2, 10000);
        start->click();
        QVERIFY(!start->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 10000);
        QCOMPARE(part<QLabel>(tab, "label_status")->styleSheet(),
                 QString("QLabel{color:#000000;font-family:Quicksand;}"));
        QVERIFY(start->isEnabled());
        QVERIFY(!start->isChecked());
        QCOMPARE(start->text(), QString("Start"));
        QVERIFY(part<QPushButton>(tab, "pushButton_saveData")->isEnabled());
        QVERIFY(part<QPushButton>(tab, "pushButton_scanPorts")->isEnabled());
        QVERIFY(part<QComboBox>(tab, "comboBox_ports")->isEnabled());
        QVERIFY(!sensor->isRunning());
        QCOMPARE(sim->state(), uint8_t(3));
        QVERIFY(boxes.seen.isEmpty());  // a stop asked for shows no box
    }

    // Gas on and Gas off mark the recording run in its time log, at the rows
    // recorded so far, and on the concentration plot; idle, they are disabled.
    void gasMarksGoToTheTimeLogAndThePlot() {
        SimulatedPorts ports;
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-MARK"), vqssim::Framing::Uart, quickOptions()));
        MainWindow window;
        window.show();
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        auto* gasOn = part<QPushButton>(tab, "pushButton_gasOn");
        auto* gasOff = part<QPushButton>(tab, "pushButton_gasOff");
        QVERIFY(!gasOn->isEnabled() && !gasOff->isEnabled());
        QVERIFY(startRun(tab));
        QVERIFY(gasOn->isEnabled() && gasOff->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return tab->recordedCycles() >= 2; }, 20000));

        const QString log = newestRunFile("VQS-MARK", "timelog.txt");
        auto lastLine = [&] {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts).last()
                                                 : QString();
        };
        const uint32_t rows = tab->recordedCycles();
        gasOn->click();
        QTRY_VERIFY_WITH_TIMEOUT(lastLine().contains(": Gas on ("), 5000);
        const QRegularExpressionMatch on =
            QRegularExpression("^\\d{4}_\\d\\d_\\d\\d - \\d\\d_\\d\\d_\\d\\d: Cycle (\\d+): Gas on \\((\\d+\\.\\d{3}) s\\)$")
                .match(lastLine());
        QVERIFY2(on.hasMatch(), qPrintable(lastLine()));
        QVERIFY(on.captured(1).toUInt() >= rows && on.captured(1).toUInt() <= tab->recordedCycles());
        QVERIFY(on.captured(2).toDouble() > 0);
        auto* plot = part<LumoCustomPlot>(tab, "plot_conc");
        QStringList labels;
        for (int i = 0; i < plot->itemCount(); ++i)
            if (auto* text = qobject_cast<QCPItemText*>(plot->item(i)))
                labels << text->text();
        QCOMPARE(labels, QStringList{"Gas on"});

        // The keyboard's way, as a user without the mouse marks the gas's end.
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY_WITH_TIMEOUT(lastLine().contains(": Gas off ("), 5000);
        QCOMPARE(plot->itemCount(), 4);

        part<QPushButton>(tab, "pushButton_start")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!tab->runActive() && lastLine().endsWith(": Stopped"), 10000);
        QVERIFY(!gasOn->isEnabled() && !gasOff->isEnabled());
    }

    void hangUpEndsInTheFailureBoxThenIdle() {
        SimulatedPorts ports;
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity("VQS-HANG"), vqssim::Framing::Uart, quickOptions());
        QVERIFY(sim);
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        bool buttonsStillDisabledAtBox = false;
        boxes.onBox = [&](const BoxAnswerer::Seen&) {
            buttonsStillDisabledAtBox = !part<QPushButton>(tab, "pushButton_saveData")->isEnabled() &&
                                        labelText(tab, "label_status") != "Idle";
        };
        SignalOrder order(tab->sensorObject());
        QVERIFY(startRun(tab));

        sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        // Ten reconnection attempts one second apart, then the failure.
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 40000);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 10000);

        const BoxAnswerer::Seen box = boxes.seen.first();
        QCOMPARE(box.text, QString("VQS-HANG"));
        QCOMPARE(box.informativeText,
                 QString("There was an error getting an answer from the VQS.\r\nPlease restart the VQS."));
        QCOMPARE(box.styleSheet, QString("QLabel{min-width: 250px;}"));
        QVERIFY(buttonsStillDisabledAtBox);

        const QStringList names = order.all();
        QVERIFY(names.size() >= 3);
        QCOMPARE(names.mid(names.size() - 3), (QStringList{"stopped", "notification", "complete"}));
        QVERIFY(order.lastNotification().startsWith("Tarn Comm Failed: sensor 'VQS-HANG' | Communication failed after "));
        QVERIFY(order.timeLogEvents().last().endsWith(": Re-connection failed - giving up after 10 retries!"));

        auto* start = part<QPushButton>(tab, "pushButton_start");
        QVERIFY(start->isEnabled());
        QVERIFY(!start->isChecked());
        QCOMPARE(start->text(), QString("Start"));
        QVERIFY(!tab->sensorObject()->isRunning());
    }

    // Unplugged and back, freshly powered, under another port name: the run
    // measures again there, and the page's entry and the ports held name the
    // new port, so another page's scan leaves it alone. The sensor's name holds
    // " - " as the entries' texts do: port and name are never read back from a text.
    void aRunResumedOnAnotherPortHoldsThatPort() {
        SimulatedPorts ports;
        vqssim::Simulator* sim =
            ports.add("ttyACM0", sensorIdentity("CH4 - Lab2"), vqssim::Framing::Usb, quickOptions());
        QVERIFY(sim);
        // Where it comes back: a port that appears after the loss.
        PortCandidate moved = ports.ports.first();
        moved.name = QStringLiteral("ttyACM1");
        moved.path = ports.links.filePath(QStringLiteral("ttyACM1"));
        MainWindow window;
        QTabWidget* tabs = tabWidgetOf(window);
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        SignalOrder order(tab->sensorObject());
        QVERIFY(startRun(tab));
        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        QCOMPARE(combo->currentText(), QString("CH4 - Lab2 - ttyACM0"));
        QCOMPARE(combo->currentData(TarnLiteSystemTab::PortNameRole).toString(), QString("ttyACM0"));
        QCOMPARE(combo->currentData(TarnLiteSystemTab::SensorNameRole).toString(), QString("CH4 - Lab2"));
        QVERIFY(RunRegistry::portHeldByOther(QStringLiteral("ttyACM0"), nullptr));
        QCOMPARE(tab->snapshot().port, QString("ttyACM0"));  // the All sensors panel's Port column

        CapturedLog log;
        sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UsbAnswer));
        QTRY_COMPARE_WITH_TIMEOUT(log.count("- error opening serial port"), 1, 15000);
        QVERIFY(sim->replug(moved.path.toStdString(), vqssim::Simulator::Replug::PowerCycled));
        ports.list(moved);
        QTRY_VERIFY_WITH_TIMEOUT(order.timeLogEvents().join('|').contains("Re-established on ttyACM1"), 20000);
        const uint32_t resumedAt = tab->recordedCycles();
        QTRY_VERIFY_WITH_TIMEOUT(tab->recordedCycles() >= resumedAt + 2, 20000);
        QCOMPARE(sim->state(), uint8_t(2));

        QCOMPARE(combo->currentText(), QString("CH4 - Lab2 - ttyACM1"));
        QCOMPARE(combo->currentData(TarnLiteSystemTab::PortNameRole).toString(), QString("ttyACM1"));
        QCOMPARE(tabs->tabText(tabs->indexOf(tab)), QString("CH4 - Lab2 - ttyACM1"));
        QVERIFY(RunRegistry::portHeldByOther(QStringLiteral("ttyACM1"), nullptr));
        QVERIFY(!RunRegistry::portHeldByOther(QStringLiteral("ttyACM0"), nullptr));
        QCOMPARE(tab->snapshot().port, QString("ttyACM1"));

        window.addSystem(QStringLiteral("second"));
        TarnLiteSystemTab* other = currentTab(window);
        QVERIFY(other != tab);
        const size_t asked = sim->requestCount(vqssim::cmd::UsbVersion);
        part<QPushButton>(other, "pushButton_scanPorts")->click();
        QCOMPARE(sim->requestCount(vqssim::cmd::UsbVersion), asked);
        QVERIFY(boxes.seen.size() == 1 && boxes.seen.first().text == "No VQS devices found");

        part<QPushButton>(tab, "pushButton_start")->click();
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 5000);
        QVERIFY(!RunRegistry::portHeldByOther(QStringLiteral("ttyACM1"), nullptr));

        // Saved under the sensor's whole name.
        tab->on_pushButton_testNotes_clicked();
        TestNoteDialog* notes = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->windowTitle() == "CH4 - Lab2 - Test Notes")
                notes = qobject_cast<TestNoteDialog*>(widget);
        QVERIFY(notes);
        QTest::keyClicks(notes->findChild<QLineEdit*>("lineEdit_testName"), "T1");
        QTest::mouseClick(notes->findChild<QPushButton*>("pushButton_ok"), Qt::LeftButton);
        QTemporaryDir target;
        QCOMPARE(tab->saveData(target.path()), 0);
        const QStringList saved = QDir(target.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(saved.size(), 1);
        QVERIFY2(saved.first().endsWith(" CH4 - Lab2_T1"), qPrintable(saved.first()));
        QVERIFY(QDir(QCoreApplication::applicationDirPath() + "/enc/" + saved.first()).removeRecursively());
    }

    // Stop pressed while a dropped sensor is looked for again ends the run as
    // any stop does: no failure box, the page stopped, the time log closed,
    // and a sensor that is back at its port (told to measure again, no new
    // sample yet) left idle.
    void aStopDuringRecoveryEndsTheRunAsAnyStop_data() {
        QTest::addColumn<bool>("sensorBack");
        QTest::newRow("sensor gone") << false;
        QTest::newRow("sensor back, no new sample yet") << true;
    }
    void aStopDuringRecoveryEndsTheRunAsAnyStop() {
        QFETCH(bool, sensorBack);
        SimulatedPorts ports;
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity("VQS-STOP-REC"), vqssim::Framing::Uart, quickOptions());
        QVERIFY(sim);
        std::atomic<int> failedAtStop{-1};  // what the page reads once the run has stopped
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        QVERIFY(startRun(tab));
        VQS* sensor = tab->sensorObject();
        QObject::connect(sensor, &VQS::VQSStopped, sensor, [&] { failedAtStop = sensor->commFailed; },
                         Qt::DirectConnection);

        CapturedLog log;
        sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        QTRY_COMPARE_WITH_TIMEOUT(log.count("- error opening serial port"), 1, 15000);
        if (sensorBack) {
            sim->holdSamples(true);
            const size_t setStates = sim->requestCount(vqssim::cmd::UartSetState);
            QVERIFY(sim->replug());
            QTRY_VERIFY_WITH_TIMEOUT(sim->requestCount(vqssim::cmd::UartSetState) >= setStates + 2, 15000);
            const size_t polls = sim->requestCount(vqssim::cmd::UartEngData);
            QTRY_VERIFY_WITH_TIMEOUT(sim->requestCount(vqssim::cmd::UartEngData) >= polls + 2, 10000);
            QCOMPARE(sim->state(), uint8_t(2));
        }
        auto* start = part<QPushButton>(tab, "pushButton_start");
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 15000);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
        QCOMPARE(failedAtStop.load(), 0);
        QVERIFY(start->isEnabled());
        QVERIFY(!start->isChecked());
        QCOMPARE(start->text(), QString("Start"));
        QVERIFY(part<QPushButton>(tab, "pushButton_saveData")->isEnabled());
        QVERIFY(!tab->runActive());
        QVERIFY(!sensor->isRunning());
        QVERIFY(!sensor->portOpen);
        QFile timeLog(newestRunFile("VQS-STOP-REC", "timelog.txt"));
        QVERIFY(timeLog.open(QIODevice::ReadOnly));
        QVERIFY(timeLog.readAll().endsWith(": Stopped\r\n"));
        if (sensorBack)
            QCOMPARE(sim->state(), uint8_t(3));
    }

    void aStartThatCannotReachTheSensorEndsIdleAndStartsAgain() {
        SimulatedPorts ports;
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity("VQS-GONE"), vqssim::Framing::Uart, quickOptions());
        QVERIFY(sim);
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        auto* start = part<QPushButton>(tab, "pushButton_start");
        QVERIFY(start->isEnabled());

        sim->close();  // unplugged after identification
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 10000);
        QCOMPARE(boxes.texts(), QStringList{"VQS-GONE"});
        // The run ended by itself: the button is ready to start again, not to stop.
        QVERIFY(start->isEnabled());
        QVERIFY(!start->isChecked());
        QCOMPARE(start->text(), QString("Start"));
        QVERIFY(part<QPushButton>(tab, "pushButton_scanPorts")->isEnabled());
        QVERIFY(!tab->runActive());
    }

    void closingATabMidRunStopsItsSensor() {
        SimulatedPorts ports;
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity("VQS-CLOSE"), vqssim::Framing::Uart, quickOptions());
        QVERIFY(sim);
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        QVERIFY(startRun(tab));

        QPointer<TarnLiteSystemTab> page(tab);
        QPointer<VQS> sensor(tab->sensorObject());
        QPointer<QThread> worker(tab->sensorObject()->thread());
        const size_t setStatesBefore = sim->requestCount(vqssim::cmd::UartSetState);
        // Leave the worker waiting for a new sample while the page goes.
        const size_t polls = sim->requestCount(vqssim::cmd::UartEngData);
        sim->holdSamples(true);
        QTRY_VERIFY_WITH_TIMEOUT(sim->requestCount(vqssim::cmd::UartEngData) >= polls + 2, 10000);

        window.removeSystem(0);
        QTRY_VERIFY_WITH_TIMEOUT(page.isNull(), 15000);
        QVERIFY(sensor.isNull());
        QVERIFY(worker.isNull());
        QCOMPARE(boxes.texts(), QStringList{"Close Tab Requested"});
        QCOMPARE(sim->state(), uint8_t(3));
        QVERIFY(sim->requestCount(vqssim::cmd::UartSetState) > setStatesBefore);

        // Nothing reaches the sensor or the run files afterwards.
        const QString csv = newestRunFile("VQS-CLOSE", "vqsData.csv");
        const qint64 size = QFileInfo(csv).size();
        const size_t requests = sim->requestCount();
        sim->holdSamples(false);
        QTest::qWait(2500);
        QCOMPARE(sim->requestCount(), requests);
        if (!csv.isEmpty())
            QCOMPARE(QFileInfo(csv).size(), size);
    }

    void closingTheWindowMidRunStopsEverySensor() {
        SimulatedPorts ports;
        vqssim::Simulator* first = ports.add("ttyUSB0", sensorIdentity("VQS-WIN-1"), vqssim::Framing::Uart, quickOptions());
        QVERIFY(first);
        auto window = std::make_unique<MainWindow>();
        BoxAnswerer boxes;
        QVERIFY(startRun(currentTab(*window)));
        window->addSystem();
        vqssim::Simulator* second = ports.add("ttyUSB1", sensorIdentity("VQS-WIN-2"), vqssim::Framing::Uart, quickOptions());
        QVERIFY(second);
        // The second page's scan lists both sensors; the first is busy with
        // the first page's run and cannot be opened, so only the second is found.
        TarnLiteSystemTab* tab2 = currentTab(*window);
        part<QPushButton>(tab2, "pushButton_scanPorts")->click();
        QCOMPARE(part<QComboBox>(tab2, "comboBox_ports")->currentText(), QString("VQS-WIN-2 - ttyUSB1"));
        part<QPushButton>(tab2, "pushButton_start")->click();
        QVERIFY(QTest::qWaitFor([&] { return tab2->recordedCycles() >= 1; }, 15000));

        QPointer<QThread> worker1(qobject_cast<TarnLiteSystemTab*>(tabWidgetOf(*window)->widget(0))->sensorObject()->thread());
        QPointer<QThread> worker2(tab2->sensorObject()->thread());
        window.reset();
        QVERIFY(worker1.isNull());
        QVERIFY(worker2.isNull());
        QCOMPARE(first->state(), uint8_t(3));
        QCOMPARE(second->state(), uint8_t(3));
    }

private:
    // Other tests of this directory record beside these runs at the same time:
    // the run is found by its sensor's name.
    static QString newestRunFile(const QString& sensor, const QString& name) {
        QDir temp(QCoreApplication::applicationDirPath() + "/TempData");
        const QStringList dirs = temp.entryList({"* " + sensor}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
        return dirs.isEmpty() ? QString() : temp.filePath(dirs.first() + "/" + name);
    }
};

QTEST_MAIN(TestTabRun)
#include "test_tab_run.moc"
