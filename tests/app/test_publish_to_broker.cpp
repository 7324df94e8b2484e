// "Publish to Broker..." in the main window: the settings entered in its dialog
// are kept beside the program and applied at once, the dialog shows the
// publisher's report, and a page's run reaches the broker while it is enabled.
#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

#include <functional>

#include "benchpublishing.h"
#include "mqtt_broker.h"
#include "publishdialog.h"
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

}  // namespace

class TestPublishToBroker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
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
        part<QPushButton>(tab, "pushButton_start")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!tab->runActive(), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(!got.isEmpty() && got.last().kind == "event", kLong);

        QCOMPARE(got.first().kind, QStringLiteral("identity"));
        QCOMPARE(got.first().values.value("sensor").toString(), name);
        QStringList states;
        for (const BrokerMessage& m : got)
            if (m.kind == QLatin1String("state"))
                states << m.text;
        QCOMPARE(states, QStringList({"running", "idle"}));
        QCOMPARE(got.last().values.value("type").toString(), QStringLiteral("run-stopped"));
        QCOMPARE(qint64(got.at(3).values.value("runCycle").toDouble()), qint64(1));  // after identity, state, event
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
    }
};

QTEST_MAIN(TestPublishToBroker)
#include "test_publish_to_broker.moc"
