// Publishing through a real broker (Debian's mosquitto on a private port): what
// arrives, in which order, what the broker keeps for late subscribers, what
// happens when a bench dies, and how problems are told (a minute without the
// broker is test_broker_outage).
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

#include "brokersettings.h"
#include "captured_log.h"
#include "messages.h"
#include "mqtt_broker.h"
#include "publisher.h"
#include "publishing_support.h"
#include "publishqueue.h"
#include "subscriber.h"
#include "topics.h"

class TestPublishing : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!MqttBroker::available())
            QSKIP("needs /usr/sbin/mosquitto (apt-get install mosquitto)");
    }

    // The queue's order and bound, topic names from any sensor name, broker addresses, numbers in the documents.
    void queueNamesAndDocuments() {
        PublishQueue queue(QueueLimits{5, size_t(1) << 20});
        queue.push({"s/state", "running", 1, true});
        QCOMPARE(queue.push({"c", "1", 1, false}), size_t(0));
        QueuedMessage handed;
        const uint64_t first = queue.handNext(&handed);  // the retained state, in flight
        for (int i = 2; i <= 6; ++i)
            queue.push({"c", std::to_string(i), 1, false});
        // Over the bound the oldest queued cycles go; the message in flight stays.
        QCOMPARE(queue.size(), size_t(5));
        QCOMPARE(queue.dropped(), uint64_t(2));
        queue.push({"s/state", "idle", 1, true});
        queue.push({"s/state", "lost", 1, true});  // replaces the queued "idle"; never dropped for a cycle
        QStringList order;
        while (queue.hasQueued()) {
            QueuedMessage m;
            queue.handNext(&m);
            order << QString::fromStdString(m.payload);
        }
        QCOMPARE(order, (QStringList{"4", "5", "6", "lost"}));
        // An acknowledgement may come before the sender has noted the packet id.
        queue.acknowledge(7);
        queue.handed(first, 7);
        QCOMPARE(queue.acknowledged(), uint64_t(1));
        QCOMPARE(handed.payload, std::string("running"));

        const QString odd = QStringLiteral("a/b+#%c\x01");
        QCOMPARE(topics::level(odd), QByteArray("a%2Fb%2B%23%25c%01"));
        for (const QString& name : {odd, QString(), QStringLiteral("Sensör € 1"), QStringLiteral("%")})
            QCOMPARE(topics::name(topics::level(name)), name);
        topics::Parsed parsed;
        QVERIFY(topics::parse(topics::sensor(QStringLiteral("B/1"), QString(), "cycle"), &parsed));
        QCOMPARE(parsed.bench, QStringLiteral("B/1"));
        QVERIFY(parsed.sensor.isEmpty() && !parsed.benchLevel && parsed.kind == QLatin1String("cycle"));
        QVERIFY(topics::parse(topics::benchState(QStringLiteral("state")), &parsed) && parsed.benchLevel);
        QVERIFY(!topics::parse("vqs/a/b/c/d", &parsed) && !topics::parse("other/a/state", &parsed));

        BrokerSettings s;
        QString error;
        QVERIFY(s.setUrl(QStringLiteral("mqtt://lab-broker"), &error) && s.port == 1883 && !s.tls);
        QVERIFY(s.setUrl(QStringLiteral("mqtts://lab-broker"), &error) && s.port == 8883 && s.tls);
        QVERIFY(s.setUrl(QStringLiteral("mqtt://[::1]:1884"), &error) && s.host == QLatin1String("::1") && s.port == 1884);
        QCOMPARE(s.url(), QStringLiteral("mqtt://[::1]:1884"));
        for (const char* bad : {"http://h", "mqtt://", "mqtt://h/x", "mqtt://u:p@h", "h:1883", "mqtt://h:0"})
            QVERIFY2(!s.setUrl(QLatin1String(bad), &error), bad);

        CycleMessage m = cycle(QStringLiteral("S"), 1);
        m.humidity = std::nanf("");
        const QJsonObject json = QJsonDocument::fromJson(messages::cycleJson(m)).object();
        QVERIFY(messages::cycleJson(m).contains("\"temperature\":23.4,"));
        QVERIFY(json.value(QLatin1String("humidity")).isNull());
        QCOMPARE(integer(json, "utcMs"), 1710000001000);
    }

    // Cycles arrive complete and in order (also through vqs-ctl watch); identity and
    // states stay on the broker for a subscriber that comes later.
    void cyclesInOrderAndRetainedForLateSubscribers() {
        MqttBroker broker;
        QVERIFY(broker.start());
        Subscriber early(settingsFor(broker.port(), QStringLiteral("early")));
        Inbox inbox(early);
        early.start();
        QTRY_VERIFY_WITH_TIMEOUT(inbox.connected, kLong);

        QProcess watch;
        watch.start(QStringLiteral(VQS_CTL_PATH), {"watch", "--mqtt", broker.url(), "--json", "--count", "100"});
        QByteArray watchNotes;
        QTRY_VERIFY_WITH_TIMEOUT((watchNotes += watch.readAllStandardError()).contains("connected"), kLong);

        const QString bench = QStringLiteral("Bench A/1");
        const QString sensor = QStringLiteral("S+1#/x");
        BrokerSettings settings = settingsFor(broker.port(), QStringLiteral("bench-a"));
        settings.bench = bench;
        Publisher publisher(settings);
        IdentityMessage identity;
        identity.sensor = sensor;
        identity.type = QStringLiteral("VQS Flam. Gas");
        identity.sku = QStringLiteral("VQS-100");
        publisher.publishIdentity(identity);
        publisher.publishState(sensor, SensorState::Running);
        for (int n = 1; n <= 100; ++n)
            publisher.publishCycle(cycle(sensor, n));
        publisher.start();

        QTRY_COMPARE_WITH_TIMEOUT(inbox.runCycles(sensor).size(), 100, kLong);
        QList<qint64> expected;
        for (int n = 1; n <= 100; ++n)
            expected << n;
        QCOMPARE(inbox.runCycles(sensor), expected);
        BrokerMessage c7;
        for (const BrokerMessage& m : qAsConst(inbox.all))
            if (m.kind == QLatin1String("cycle") && integer(m.values, "runCycle") == 7)
                c7 = m;
        QCOMPARE(c7.bench, bench);
        QCOMPARE(c7.sensor, sensor);
        QCOMPARE(c7.values.value(QLatin1String("temperature")).toDouble(), 23.4);
        QCOMPARE(integer(c7.values, "sample"), 1007);
        QCOMPARE(c7.values.value(QLatin1String("gas")).toString(), QStringLiteral("Methane"));
        QCOMPARE(c7.values.value(QLatin1String("unit")).toString(), QStringLiteral("PPM"));
        QCOMPARE(c7.values.value(QLatin1String("statusText")).toString(), QStringLiteral("Sensor OK"));
        QCOMPARE(c7.values.value(QLatin1String("time")).toDouble(), 7.000123);

        QVERIFY(watch.state() == QProcess::NotRunning || watch.waitForFinished(kLong));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
        const QList<QByteArray> lines = watch.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 100);
        for (int i = 0; i < lines.size(); ++i) {
            const QJsonObject line = QJsonDocument::fromJson(lines.at(i)).object();
            QCOMPARE(integer(line, "runCycle"), i + 1);
            QCOMPARE(line.value(QLatin1String("bench")).toString(), bench);
            QCOMPARE(line.value(QLatin1String("sensor")).toString(), sensor);
        }

        Subscriber late(settingsFor(broker.port(), QStringLiteral("late")));
        Inbox lateInbox(late);
        late.start();
        QTRY_VERIFY_WITH_TIMEOUT(lateInbox.last(bench, sensor, "identity").retained, kLong);
        QTRY_VERIFY_WITH_TIMEOUT(lateInbox.last(bench, sensor, "state").retained, kLong);
        QTRY_VERIFY_WITH_TIMEOUT(lateInbox.last(bench, QString(), "state").retained, kLong);
        const BrokerMessage id = lateInbox.last(bench, sensor, "identity");
        QCOMPARE(id.values.value(QLatin1String("sku")).toString(), QStringLiteral("VQS-100"));
        QVERIFY(id.values.value(QLatin1String("mcuId")).isNull());
        QCOMPARE(lateInbox.last(bench, sensor, "state").text, QStringLiteral("running"));
        QCOMPARE(lateInbox.last(bench, QString(), "state").text, QStringLiteral("online"));
        QCOMPARE(lateInbox.runCycles(sensor).size(), 0);  // cycles are not kept
    }

    // A bench that dies is "offline" through its last will, its sensors keep their
    // last state; a bench that stops sets its sensors and itself offline.
    void benchWillAndCleanStop() {
        MqttBroker broker;
        QVERIFY(broker.start());
        Subscriber view(settingsFor(broker.port(), QStringLiteral("view")));
        Inbox inbox(view);
        view.start();
        QTRY_VERIFY_WITH_TIMEOUT(inbox.connected, kLong);

        QProcess bench;
        bench.start(QStringLiteral(VQS_PUBLISHING_HELPER), {broker.url(), "bench-b", "S2"});
        QTRY_VERIFY_WITH_TIMEOUT(inbox.last("bench-b", "S2", "state").text == QLatin1String("running"), kLong);
        QTRY_COMPARE_WITH_TIMEOUT(inbox.last("bench-b", QString(), "state").text, QStringLiteral("online"), kLong);
        bench.kill();  // SIGKILL: no goodbye
        QVERIFY(bench.waitForFinished(kLong));
        QTRY_COMPARE_WITH_TIMEOUT(inbox.last("bench-b", QString(), "state").text, QStringLiteral("offline"), kLong);
        QCOMPARE(inbox.last("bench-b", "S2", "state").text, QStringLiteral("running"));

        Publisher publisher(settingsFor(broker.port(), QStringLiteral("bench-c")));
        publisher.publishState(QStringLiteral("S3"), SensorState::Running);
        publisher.start();
        QTRY_COMPARE_WITH_TIMEOUT(inbox.last("bench-c", "S3", "state").text, QStringLiteral("running"), kLong);
        publisher.stop();
        QTRY_COMPARE_WITH_TIMEOUT(inbox.last("bench-c", "S3", "state").text, QStringLiteral("offline"), kLong);
        QTRY_COMPARE_WITH_TIMEOUT(inbox.last("bench-c", QString(), "state").text, QStringLiteral("offline"), kLong);
    }

    // A wrong password and a host nobody answers on are each told once however often
    // the publisher tries again; the queue keeps the messages, and a full queue tells
    // how many it dropped once.
    void problemsToldOnce() {
        MqttBroker broker(QStringLiteral("lab"), QStringLiteral("secret"));
        QVERIFY(broker.start());
        BrokerSettings wrong = settingsFor(broker.port(), QStringLiteral("bench-w"));
        wrong.user = QStringLiteral("lab");
        wrong.password = QStringLiteral("wrong");
        BrokerSettings nobody = settingsFor(MqttBroker::freePort(), QStringLiteral("bench-n"));
        for (const BrokerSettings& settings : {wrong, nobody}) {
            Publisher publisher(settings);
            QSignalSpy status(&publisher, &Publisher::statusChanged);
            for (int n = 1; n <= 20; ++n)
                publisher.publishCycle(cycle(QStringLiteral("S"), n));
            publisher.start();
            // Every attempt's report is posted before the next attempt begins.
            QTRY_VERIFY_WITH_TIMEOUT(publisher.counts().attempts >= 4, kLong);
            QCoreApplication::processEvents();
            QCOMPARE(status.count(), 1);
            QCOMPARE(status.at(0).at(0).toBool(), false);
            const QString text = status.at(0).at(1).toString();
            QVERIFY2(settings.password.isEmpty() ? text.contains(QLatin1String("cannot connect"))
                                                 : text.contains(QLatin1String("not authorised")) ||
                                                       text.contains(QLatin1String("password")),
                     qPrintable(text));
            QCOMPARE(publisher.counts().queued, quint64(20));
        }

        BrokerSettings right = wrong;
        right.password = QStringLiteral("secret");
        Publisher allowed(right);
        QSignalSpy allowedStatus(&allowed, &Publisher::statusChanged);
        allowed.start();
        QTRY_COMPARE_WITH_TIMEOUT(allowedStatus.count(), 1, kLong);
        QCOMPARE(allowedStatus.at(0).at(0).toBool(), true);

        // Stopping a bench that never reached its broker does not wait for the drain: what is left
        // is dropped, counted and logged.
        {
            CapturedLog log;
            Publisher unreachable(nobody);
            for (int n = 1; n <= 20; ++n)
                unreachable.publishCycle(cycle(QStringLiteral("S"), n));
            unreachable.publishState(QStringLiteral("S"), SensorState::Running);
            unreachable.start();
            QTRY_VERIFY_WITH_TIMEOUT(unreachable.counts().attempts >= 2, kLong);
            QElapsedTimer stopping;
            stopping.start();
            unreachable.stop(10 * 60 * 1000);
            QVERIFY2(stopping.elapsed() < 60 * 1000, "stop() waited for a broker that was never there");
            // 20 cycles, the sensor's "running" and "offline" (one retained topic) and the bench's "offline".
            QCOMPARE(unreachable.counts().dropped, quint64(22));
            QCOMPARE(unreachable.counts().queued, quint64(0));
            QVERIFY(log.has(QtWarningMsg, QStringLiteral("22 messages were dropped at the end")));
        }

        Publisher full(nobody, QueueLimits{10, size_t(1) << 20});
        QSignalSpy dropped(&full, &Publisher::messagesDropped);
        for (int n = 1; n <= 25; ++n)
            full.publishCycle(cycle(QStringLiteral("S"), n));
        full.stop(0);
        QTRY_COMPARE_WITH_TIMEOUT(dropped.count(), 1, kLong);
        // 15 cycles, and one more for the bench's retained "offline" at stop, which is never dropped.
        QCOMPARE(dropped.at(0).at(0).toULongLong(), quint64(16));
    }
};

QTEST_MAIN(TestPublishing)
#include "test_publishing.moc"
