// bench_publishing: fifty simulated sensors publish one cycle a second each
// through a private local mosquitto to a subscriber in the same process. Prints
// the time from publish() to delivery at the subscriber (median, p99, worst)
// while the broker runs, then stops the broker for a few seconds, starts it
// again and prints how many cycles were lost (must be 0), how many came twice,
// and how long the backlog took.
//   bench_publishing [steady seconds (60)] [outage seconds (5)] [sensors (50)]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "mqtt_broker.h"
#include "publisher.h"
#include "subscriber.h"

namespace {

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int steadyS = argc > 1 ? std::atoi(argv[1]) : 60;
    const int outageS = argc > 2 ? std::atoi(argv[2]) : 5;
    const int sensors = argc > 3 ? std::atoi(argv[3]) : 50;
    if (!MqttBroker::available()) {
        std::fprintf(stderr, "bench_publishing: needs /usr/sbin/mosquitto\n");
        return 1;
    }
    MqttBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "bench_publishing: the broker did not start\n");
        return 1;
    }
    BrokerSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.port();

    QElapsedTimer clock;
    clock.start();
    QHash<QString, qint64> sentAt;  // "sensor/runCycle" -> ns on the clock
    QSet<QString> received;
    std::vector<double> steadyMs;
    qint64 duplicates = 0;
    bool measuring = true;
    qint64 backAtNs = 0, caughtUpNs = 0, publishedAtBack = 0;

    settings.clientId = QStringLiteral("bench-view");
    Subscriber view(settings, true);
    bool viewUp = false;
    QObject::connect(&view, &Subscriber::statusChanged, [&](bool up, const QString&) { viewUp = up; });
    QObject::connect(&view, &Subscriber::received, [&](const BrokerMessage& m) {
        if (m.kind != QLatin1String("cycle"))
            return;
        const QString key = m.sensor + '/' + QString::number(qint64(m.values.value(QLatin1String("runCycle")).toDouble()));
        if (received.contains(key)) {
            ++duplicates;
            return;
        }
        received.insert(key);
        if (backAtNs && !caughtUpNs && received.size() >= publishedAtBack)
            caughtUpNs = clock.nsecsElapsed();
        if (measuring)
            steadyMs.push_back(double(clock.nsecsElapsed() - sentAt.value(key)) / 1e6);
    });
    view.start();
    while (!viewUp)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    settings.clientId = QStringLiteral("bench-publisher");
    Publisher publisher(settings);
    publisher.start();
    std::vector<std::unique_ptr<QTimer>> timers;
    std::vector<qint64> counts(size_t(sensors), 0);
    qint64 published = 0;
    for (int i = 0; i < sensors; ++i) {
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(1000);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, [&, i] {
            CycleMessage m;
            m.sensor = QStringLiteral("S%1").arg(i + 1, 2, 10, QLatin1Char('0'));
            m.runCycle = ++counts[size_t(i)];
            m.cycle = m.runCycle;
            m.time = double(m.runCycle);
            m.temperature = 23.4f;
            m.pressure = 101.3f;
            m.humidity = 45.6f;
            m.gasId = 3;
            m.gas = QStringLiteral("Methane");
            m.concentration = 12.5f;
            m.unit = QStringLiteral("PPM");
            m.statusText = QStringLiteral("Sensor OK");
            m.utcMs = QDateTime::currentMSecsSinceEpoch();
            sentAt.insert(m.sensor + '/' + QString::number(m.runCycle), clock.nsecsElapsed());
            publisher.publishCycle(m);
            ++published;
        });
        QTimer* raw = timer.get();
        QTimer::singleShot(i * 1000 / sensors, raw, [raw] { raw->start(); });
        timers.push_back(std::move(timer));
    }

    qint64 drainedNs = 0, publishedAtOutage = 0;
    quint64 mostQueued = 0;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { mostQueued = std::max(mostQueued, publisher.counts().queued); });
    QTimer::singleShot(steadyS * 1000, [&] {
        measuring = false;
        publishedAtOutage = published;
        std::printf("broker stopped after %d s\n", steadyS);
        sample.start(100);
        broker.stop();
        QTimer::singleShot(outageS * 1000, [&] {
            broker.start();
            backAtNs = clock.nsecsElapsed();
            publishedAtBack = published;
            // Ten more seconds of cycles, then the publishers stop and everything must arrive.
            QTimer::singleShot(10000, [&] {
                for (auto& t : timers)
                    t->stop();
                QTimer* done = new QTimer(&app);
                QObject::connect(done, &QTimer::timeout, [&] {
                    if (drainedNs == 0 && publisher.counts().queued == 0 && received.size() >= published)
                        drainedNs = clock.nsecsElapsed();
                    if (drainedNs || clock.nsecsElapsed() - backAtNs > qint64(120) * 1000000000)
                        QCoreApplication::quit();
                });
                done->start(50);
            });
        });
    });
    app.exec();
    publisher.stop();

    std::printf("publishing: %d sensors, one cycle a second each, %d s with the broker up, then %d s without\n",
                sensors, steadyS, outageS);
    std::printf("latency publish() to subscriber: median %.2f ms, p99 %.2f ms, worst %.2f ms (%zu cycles)\n",
                percentile(steadyMs, 0.5), percentile(steadyMs, 0.99),
                steadyMs.empty() ? 0.0 : *std::max_element(steadyMs.begin(), steadyMs.end()), steadyMs.size());
    std::printf("broker restart: %lld cycles published while it was away, at most %llu queued, all delivered "
                "%.2f s after it was back\n",
                static_cast<long long>(publishedAtBack - publishedAtOutage), static_cast<unsigned long long>(mostQueued),
                caughtUpNs ? double(caughtUpNs - backAtNs) / 1e9 : -1.0);
    std::printf("messages lost across the broker restart: %lld (published %lld, received %lld, %lld twice)\n",
                static_cast<long long>(published - received.size()), static_cast<long long>(published),
                static_cast<long long>(received.size()), static_cast<long long>(duplicates));
    return published == received.size() ? 0 : 1;
}
