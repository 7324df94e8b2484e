// "Publish to Broker..." in the main window: the settings entered in its dialog
// are kept beside the program and applied at once, the dialog shows the
// publisher's report, and a page's run (its gas marks too) reaches the broker
// while it is enabled; the All sensors panel shows the lab's other benches.
#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>

#include <functional>

#include "allsensorspanel.h"
#include "alarmsettings.h"
#include "benchpublishing.h"
#include "labsensors.h"
#include "lumocustomplot.h"
#include "mqtt_broker.h"
#include "publishdialog.h"
#include "publisher.h"
#include "startup.h"
#include "subscriber.h"
#include "tab_fixture.h"

namespace {

constexpr int kLong = 30000;

// Opens the dialog through the File menu's action, lets `fill` work on it, then presses `button`.
void throughDialog(MainWindow& window, const std::function<void(PublishDialog*)>& fill,
                   QDialogButtonBox::StandardButton button) {
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<PublishDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        fill(dialog);
        dialog->findChild<QDialogButtonBox*>()->button(button)->click();
    });
    window.findChild<QAction*>("action_publish")->trigger();
}

BrokerSettings benchAt(quint16 port, const QString& clientId, const QString& bench = QString()) {
    BrokerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.clientId = clientId;
    s.bench = bench;
    return s;
}

CycleMessage labCycle(const QString& sensor, qint64 n, int run = 1) {
    CycleMessage m;
    m.utcMs = 1710000000000 + run * 100000 + n * 1000;
    m.sensor = sensor;
    m.time = double(n);
    m.cycle = m.runCycle = m.sample = n;
    m.temperature = 23.4f;
    m.pressure = 101.3f;
    m.humidity = 45.6f;
    m.gas = QStringLiteral("Methane");
    m.concentration = 12.5f + float(n);
    m.unit = QStringLiteral("PPM");
    m.statusText = QStringLiteral("Sensor OK");
    return m;
}

}  // namespace

class TestPublishToBroker : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir;

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
        // Its own settings file: the one beside the test programs is read by tests running beside this one.
        QVERIFY(settingsDir.isValid());
        AlarmSettings::setProgramSettingsPath(settingsDir.filePath("vqs-sensor-interface.ini"));
    }
    void init() {
        if (!MqttBroker::available())
            QSKIP("needs /usr/sbin/mosquitto (apt-get install mosquitto)");
        QFile::remove(BenchPublishing::settingsPath());
    }
    void cleanup() { QFile::remove(BenchPublishing::settingsPath()); }

    void pageRunPublishedOnceEnabled() {
        MqttBroker broker;
        QVERIFY(broker.start());
        SimulatedPorts ports;
        vqssim::Options options;
        options.samplePeriodMs = 200;
        const QString name = QStringLiteral("PUBPAGE-%1").arg(QCoreApplication::applicationPid() % 100000);
        QVERIFY(ports.add("ttyUSB0", sensorIdentity(name.toLatin1().constData(), 3), vqssim::Framing::Uart, options));

        BrokerSettings viewSettings;
        viewSettings.host = QStringLiteral("127.0.0.1");
        viewSettings.port = broker.port();
        Subscriber view(viewSettings);
        QList<BrokerMessage> got;
        bool up = false;
        connect(&view, &Subscriber::received, this, [&](const BrokerMessage& m) {
            if (m.sensor == name)
                got.append(m);
        });
        connect(&view, &Subscriber::statusChanged, this, [&](bool connected, const QString&) { up = connected; });
        view.start();
        QTRY_VERIFY_WITH_TIMEOUT(up, kLong);

        MainWindow window;
        BoxAnswerer boxes;
        throughDialog(window, [&](PublishDialog* d) {
            d->findChild<QCheckBox*>("checkBox_publish")->setChecked(true);
            d->findChild<QLineEdit*>("lineEdit_host")->setText("127.0.0.1");
            d->findChild<QSpinBox*>("spinBox_port")->setValue(broker.port());
            d->findChild<QLineEdit*>("lineEdit_clientId")->setText("bench-page");
        }, QDialogButtonBox::Ok);
        QSettings stored(BenchPublishing::settingsPath(), QSettings::IniFormat);
        QCOMPARE(stored.value("publish/host").toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(stored.value("publish/enabled").toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(window.benchPublishing()->lastStatus(),
                                  QStringLiteral("connected to 127.0.0.1:%1").arg(broker.port()), kLong);
        QString shown;
        throughDialog(window, [&](PublishDialog* d) {
            shown = d->findChild<QLabel*>("label_publishStatus")->text();
        }, QDialogButtonBox::Cancel);
        QCOMPARE(shown, window.benchPublishing()->lastStatus());

        auto* tab = window.findChild<TarnLiteSystemTab*>();
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        combo->setCurrentIndex(combo->findText(name + " - ", Qt::MatchStartsWith));
        part<QPushButton>(tab, "pushButton_start")->click();
        auto count = [&](const char* kind) {
            int n = 0;
            for (const BrokerMessage& m : got)
                n += m.kind == QLatin1String(kind) ? 1 : 0;
            return n;
        };
        QTRY_VERIFY_WITH_TIMEOUT(count("cycle") >= 2, kLong);
        // Gas marks and notes are events, timed on the run's clock.
        part<QPushButton>(tab, "pushButton_gasOn")->click();
        QVERIFY(tab->runSession()->mark(QStringLiteral("valve opened")));
        QTRY_COMPARE_WITH_TIMEOUT(count("event"), 3, kLong);  // run-started, the mark, the note
        QStringList marks;
        for (const BrokerMessage& m : got)
            if (m.kind == QLatin1String("event") && m.values.value("type") != QLatin1String("run-started"))
                marks << m.values.value("type").toString() + ": " + m.values.value("text").toString();
        QCOMPARE(marks, QStringList({"gas-mark: Gas on", "note: valve opened"}));
        QVERIFY(got.last().values.value("time").toDouble() > 0);
        // Switched off and on again during the run: its cycles go on under the sensor's name.
        for (const bool on : {false, true})
            throughDialog(window, [&](PublishDialog* d) {
                d->findChild<QCheckBox*>("checkBox_publish")->setChecked(on);
            }, QDialogButtonBox::Ok);
        const int cyclesBefore = count("cycle");
        QTRY_VERIFY_WITH_TIMEOUT(count("cycle") >= cyclesBefore + 2, kLong);
        part<QPushButton>(tab, "pushButton_start")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!tab->runActive(), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(!got.isEmpty() && got.last().kind == "event", kLong);

        QCOMPARE(got.first().kind, QStringLiteral("identity"));
        QCOMPARE(got.first().values.value("sensor").toString(), name);
        QStringList states;
        for (const BrokerMessage& m : got)
            if (m.kind == QLatin1String("state"))
                states << m.text;
        QCOMPARE(states, QStringList({"running", "offline", "running", "idle"}));
        QCOMPARE(got.last().values.value("type").toString(), QStringLiteral("run-stopped"));
        QCOMPARE(qint64(got.at(3).values.value("runCycle").toDouble()), qint64(1));  // after identity, state, event
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
    }

    // "Show the lab from the broker": the All sensors panel shows the other benches' sensors after
    // this bench's pages, a header row per bench, with their states and curves (a new run's starting
    // afresh); this bench's own messages are not shown twice; switched off, the lab's rows go.
    void labShownBesideThePages() {
        MqttBroker broker;
        QVERIFY(broker.start());
        const QString north = QStringLiteral("Lab/2 north");  // names are data
        const QString s1 = QStringLiteral("S/1");
        Publisher far(benchAt(broker.port(), "bench-far", north));
        IdentityMessage identity;
        identity.sensor = s1;
        identity.port = QStringLiteral("COM5");
        far.publishIdentity(identity);
        far.publishState(s1, SensorState::Running);
        far.publishState(QStringLiteral("S2"), SensorState::Idle);
        far.start();
        Publisher gone(benchAt(broker.port(), "bench-gone"));
        gone.publishState(QStringLiteral("G1"), SensorState::Running);
        gone.start();
        QTRY_COMPARE_WITH_TIMEOUT(gone.counts().acknowledged, quint64(1), kLong);
        gone.stop();
        Publisher own(benchAt(broker.port(), "bench-page-own", "bench-page"));  // this bench's name
        own.publishState(QStringLiteral("OWN"), SensorState::Running);
        own.start();
        QTRY_COMPARE_WITH_TIMEOUT(own.counts().acknowledged, quint64(1), kLong);

        MainWindow window;
        window.show();
        BoxAnswerer boxes;
        throughDialog(window, [&](PublishDialog* d) {
            d->findChild<QCheckBox*>("checkBox_showLab")->setChecked(true);
            d->findChild<QLineEdit*>("lineEdit_host")->setText("127.0.0.1");
            d->findChild<QSpinBox*>("spinBox_port")->setValue(broker.port());
            d->findChild<QLineEdit*>("lineEdit_clientId")->setText("bench-page");
        }, QDialogButtonBox::Ok);
        QCOMPARE(QSettings(BenchPublishing::settingsPath(), QSettings::IniFormat).value("publish/showLab").toBool(), true);
        QVERIFY(MainWindow().labSensors()->active());  // kept for the next start
        QTRY_COMPARE_WITH_TIMEOUT(window.labSensors()->lastStatus(),
                                  QStringLiteral("connected to 127.0.0.1:%1").arg(broker.port()), kLong);
        for (int n = 1; n <= 5; ++n)  // cycles are not kept by the broker: sent once the view is there
            far.publishCycle(labCycle(s1, n));
        window.findChild<QAction*>("action_allSensors")->trigger();
        auto* panel = window.findChild<AllSensorsPanel*>("allSensorsPanel");
        QTableWidget* table = panel->table();
        const auto column = [table](int c) {
            QStringList texts;
            for (int row = 0; row < table->rowCount(); ++row)
                texts << (table->item(row, c) ? table->item(row, c)->text() : QString());
            return texts;
        };
        const auto curve = [panel](const QString& name) -> QCPGraph* {
            for (int i = 0; i < panel->plot()->graphCount(); ++i)
                if (panel->plot()->graph(i)->name() == name)
                    return panel->plot()->graph(i);
            return nullptr;
        };
        const QStringList names{"bench-page (this computer)", "New Tab", "bench-gone (offline)", "G1", north, s1, "S2"};
        QTRY_COMPARE_WITH_TIMEOUT(column(AllSensorsPanel::ColName), names, kLong);
        QTRY_COMPARE_WITH_TIMEOUT(column(AllSensorsPanel::ColRows).at(5), QStringLiteral("5"), kLong);
        QCOMPARE(column(AllSensorsPanel::ColState), QStringList({"", "idle", "", "offline", "", "running", "idle"}));
        QCOMPARE(table->item(5, AllSensorsPanel::ColPort)->text(), QStringLiteral("COM5"));
        QCOMPARE(table->item(5, AllSensorsPanel::ColConcentration)->text(), QStringLiteral("17 PPM"));
        QCOMPARE(table->item(5, AllSensorsPanel::ColRunTime)->text(), QStringLiteral("00h:00m:05s"));
        QCOMPARE(panel->pageAt(1), window.findChild<TarnLiteSystemTab*>());
        QVERIFY(!panel->pageAt(5));
        QCOMPARE(panel->plot()->graphCount(), 1);
        QCPGraph* farCurve = curve("Lab/2 north: S/1 (PPM)");
        QVERIFY(farCurve);
        QCOMPARE(farCurve->dataCount(), 5);

        // The panel catches up with what came since; a cycle that comes again is shown once; a new
        // run's curve starts afresh, also when the bench's queue kept only "running" of a quick
        // stop and start.
        for (int n = 6; n <= 8; ++n)
            far.publishCycle(labCycle(s1, n));
        far.publishCycle(labCycle(s1, 7));
        QTRY_COMPARE_WITH_TIMEOUT(column(AllSensorsPanel::ColRows).at(5), QStringLiteral("8"), kLong);
        QCOMPARE(farCurve->dataCount(), 8);
        for (const int run : {2, 3}) {
            far.publishState(s1, SensorState::Idle);
            if (run == 2)  // "idle" reaches the broker before "running" replaces it
                QTRY_COMPARE_WITH_TIMEOUT(far.counts().queued, quint64(0), kLong);
            far.publishState(s1, SensorState::Running);
            for (int n = 1; n <= run; ++n)
                far.publishCycle(labCycle(s1, n, run));
            QTRY_COMPARE_WITH_TIMEOUT(column(AllSensorsPanel::ColRows).at(5), QString::number(run), kLong);
            QTRY_COMPARE_WITH_TIMEOUT(farCurve->dataCount(), run, kLong);
            QCOMPARE(farCurve->data()->at(0)->key, 1.0);
        }

        QString labStatus;
        throughDialog(window, [&](PublishDialog* d) {
            labStatus = d->findChild<QLabel*>("label_labStatus")->text();
            d->findChild<QCheckBox*>("checkBox_showLab")->setChecked(false);
        }, QDialogButtonBox::Ok);
        QCOMPARE(labStatus, QStringLiteral("connected to 127.0.0.1:%1").arg(broker.port()));
        QTRY_COMPARE_WITH_TIMEOUT(column(AllSensorsPanel::ColName), QStringList({"New Tab"}), kLong);
        QCOMPARE(panel->plot()->graphCount(), 0);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
    }
};

QTEST_MAIN(TestPublishToBroker)
#include "test_publish_to_broker.moc"
