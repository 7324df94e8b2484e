// vqs-ctl record --mqtt: a recorded run reaches a broker as it is recorded, and
// a broker nobody answers on neither holds up nor fails the recording.
#include <QJsonDocument>
#include <QtTest>

#include "brokersettings.h"
#include "mqtt_broker.h"
#include "program_result.h"
#include "sim_link.h"
#include "simulator.h"
#include "subscriber.h"

using namespace vqssim;

namespace {

constexpr int kCycles = 3;
constexpr int kLong = 30000;

std::unique_ptr<Simulator> sensor(const QTemporaryDir& links, const char* name) {
    Identity id;
    id.name = name;
    id.sensorType = 3;
    id.firmware = {{4, 1, 0, 0}};
    Options options;
    options.samplePeriodMs = 200;
    auto sim = std::make_unique<Simulator>(Framing::Uart, id, options);
    if (!openThroughLink(*sim, links, QString::fromLatin1(name)))
        return nullptr;
    sim->start();
    return sim;
}

BrokerSettings local(quint16 port) {
    BrokerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    return s;
}

QStringList recordArgs(const QString& dir, quint16 brokerPort, const Simulator& sim) {
    return {"record", "--uart", "--json", "--cycles", QString::number(kCycles), "--dir", dir,
            "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(brokerPort), QString::fromStdString(sim.path())};
}

}  // namespace

class TestCtlRecordPublish : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!MqttBroker::available())
            QSKIP("needs /usr/sbin/mosquitto (apt-get install mosquitto)");
    }

    // What a lab view receives of a run: its states in order, each recorded
    // row once and in order with the row's values, the run's events, and the
    // identity kept by the broker for a view that comes later.
    void recordedRunReachesTheBroker() {
        MqttBroker broker;
        QVERIFY(broker.start());
        QTemporaryDir links, out;
        auto sim = sensor(links, "PUB-1");
        QVERIFY(sim);
        Subscriber view(local(broker.port()));
        QList<BrokerMessage> got;
        bool up = false;
        connect(&view, &Subscriber::received, this, [&](const BrokerMessage& m) { got.append(m); });
        connect(&view, &Subscriber::statusChanged, this, [&](bool connected, const QString&) { up = connected; });
        view.start();
        QTRY_VERIFY_WITH_TIMEOUT(up, kLong);

        const ProgramResult said = runProgram(VQS_CTL_PATH, recordArgs(out.path(), broker.port(), *sim), 60000);
        QVERIFY2(said.code == 0, qPrintable(said.err));
        const QStringList rows = said.out.split('\n', Qt::SkipEmptyParts).mid(0, kCycles);
        auto ofKind = [&](const char* kind) {
            QList<BrokerMessage> out;
            for (const BrokerMessage& m : got)
                if (m.sensor == QLatin1String("PUB-1") && m.kind == QLatin1String(kind))
                    out.append(m);
            return out;
        };
        // The clean stop ends with the sensor offline.
        QTRY_VERIFY_WITH_TIMEOUT(!ofKind("state").isEmpty() && ofKind("state").last().text == "offline", kLong);
        QStringList states;
        for (const BrokerMessage& m : ofKind("state"))
            states << m.text;
        QCOMPARE(states, QStringList({"running", "idle", "offline"}));

        const QList<BrokerMessage> cycles = ofKind("cycle");
        QCOMPARE(cycles.size(), kCycles);
        for (int i = 0; i < kCycles; ++i) {
            const QJsonObject row = QJsonDocument::fromJson(rows.value(i).toUtf8()).object();
            const QJsonObject& v = cycles.at(i).values;
            QCOMPARE(qint64(v.value("runCycle").toDouble()), qint64(i + 1));
            QCOMPARE(v.value("cycle").toInt(), row.value("cycle").toInt());
            for (const char* key : {"concentration", "temperature", "pressure", "humidity"})
                QVERIFY2(qAbs(v.value(key).toDouble() - row.value(key).toDouble()) < 1e-3, key);
            QCOMPARE(v.value("gas").toString(), row.value("gas").toString());
            QCOMPARE(v.value("unit").toString(), row.value("unit").toString());
            QCOMPARE(v.value("statusText").toString(), row.value("status").toString());
            QVERIFY(v.value("utcMs").toDouble() > 1.6e12);
        }
        QStringList events;
        for (const BrokerMessage& m : ofKind("event"))
            events << m.values.value("type").toString();
        QCOMPARE(events, QStringList({"run-started", "run-stopped"}));

        // A view that connects after the run still learns what the sensor is.
        Subscriber late(local(broker.port()));
        QList<BrokerMessage> kept;
        connect(&late, &Subscriber::received, this, [&](const BrokerMessage& m) {
            if (m.kind == QLatin1String("identity"))
                kept.append(m);
        });
        late.start();
        QTRY_COMPARE_WITH_TIMEOUT(kept.size(), 1, kLong);
        QVERIFY(kept.first().retained);
        QCOMPARE(kept.first().values.value("sensor").toString(), QStringLiteral("PUB-1"));
        QCOMPARE(kept.first().values.value("firmware").isNull(), false);
        QCOMPARE(kept.first().values.value("port").toString(), QString::fromStdString(sim->path()));

        // Nobody answers at the broker's address: the run is recorded in full,
        // and the problem is told once.
        auto lonely = sensor(links, "PUB-2");
        QVERIFY(lonely);
        const ProgramResult alone =
            runProgram(VQS_CTL_PATH, recordArgs(out.path(), MqttBroker::freePort(), *lonely), 60000);
        QVERIFY2(alone.code == 0, qPrintable(alone.err));
        QCOMPARE(alone.out.split('\n', Qt::SkipEmptyParts).filter("\"cycle\"").size(), kCycles);
        QVERIFY2(alone.err.count(QStringLiteral("cannot connect")) == 1, qPrintable(alone.err));
    }
};

QTEST_MAIN(TestCtlRecordPublish)
#include "test_ctl_record_publish.moc"
