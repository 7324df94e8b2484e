// The broker stopped for a full minute while a sensor goes on at its pace, then
// started again: nothing is lost. Slow by its nature (a minute), so it is a test
// of its own that ctest starts first and runs beside the others.
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "mqtt_broker.h"
#include "publisher.h"
#include "publishing_support.h"

class TestBrokerOutage : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!MqttBroker::available())
            QSKIP("needs /usr/sbin/mosquitto (apt-get install mosquitto)");
    }

    // Cycles published before, during and after a minute without the broker all arrive,
    // in order, at a view with a persistent session; the outage is told once.
    void minuteWithoutTheBrokerLosesNothing() {
        constexpr qint64 kOutageMs = 60 * 1000;
        MqttBroker broker;
        QVERIFY(broker.start());
        Subscriber view(settingsFor(broker.port(), QStringLiteral("lab-view")), true);
        Inbox inbox(view);
        view.start();
        QTRY_VERIFY_WITH_TIMEOUT(inbox.connected, kLong);

        Publisher publisher(settingsFor(broker.port(), QStringLiteral("bench-r")));
        QSignalSpy status(&publisher, &Publisher::statusChanged);
        publisher.start();
        const QString sensor = QStringLiteral("S1");
        qint64 published = 0;
        const auto publishNext = [&] { publisher.publishCycle(cycle(sensor, ++published)); };
        for (int n = 1; n <= 50; ++n)
            publishNext();
        QTRY_COMPARE_WITH_TIMEOUT(inbox.distinctCycles(sensor), 50, kLong);

        // A burst still on its way when the broker goes, then one cycle a second.
        for (int n = 1; n <= 50; ++n)
            publishNext();
        QTimer pace;
        pace.setInterval(1000);
        connect(&pace, &QTimer::timeout, this, publishNext);
        pace.start();
        broker.stop();
        QElapsedTimer away;
        away.start();
        QTRY_VERIFY_WITH_TIMEOUT(!publisher.counts().connected, kLong);
        // The minute itself is what is tested, not a wait for something.
        while (away.elapsed() < kOutageMs)
            QTest::qWait(int(kOutageMs - away.elapsed()));
        QVERIFY2(publisher.counts().queued >= 50, qPrintable(QString::number(publisher.counts().queued)));
        QVERIFY(broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(publisher.counts().connected, kLong);
        pace.stop();

        QTRY_COMPARE_WITH_TIMEOUT(inbox.distinctCycles(sensor), int(published), kLong);
        QList<QString> seen;
        for (qint64 c : inbox.runCycles(sensor))
            seen << QString::number(c);
        QVERIFY2(inOrderWithoutGaps(inbox.runCycles(sensor), published), qPrintable("cycles out of order or missing: " + seen.join(' ')));
        QTRY_COMPARE_WITH_TIMEOUT(publisher.counts().queued, quint64(0), kLong);
        QCOMPARE(publisher.counts().dropped, quint64(0));
        int problems = 0;
        for (const QList<QVariant>& s : status)
            problems += s.at(0).toBool() ? 0 : 1;
        QCOMPARE(problems, 1);
    }
};

QTEST_MAIN(TestBrokerOutage)
#include "test_broker_outage.moc"
