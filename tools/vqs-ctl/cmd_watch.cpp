// watch --mqtt URL: every cycle every bench publishes to a broker, one line
// each, until a count, a duration or a signal ends it.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "subscriber.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onWatchSignal(int signal) {
    stopSignal = signal;
}

QString number(const QJsonValue& value, int decimals) {
    return value.isDouble() ? QString::number(value.toDouble(), 'f', decimals) : QStringLiteral("-");
}

}  // namespace

int runWatch(const Args& args, const Output& out) {
    BrokerSettings settings;
    QString error;
    if (!args.values.contains(QStringLiteral("mqtt")))
        return out.fail(ExitUsage, QString(), QStringLiteral("usage"), QStringLiteral("watch needs --mqtt URL"));
    if (!settings.setUrl(args.value("mqtt"), &error))
        return out.fail(ExitUsage, QString(), QStringLiteral("usage"), error);
    settings.readEnvironment();
    qint64 countLimit = 0;
    if (args.values.contains(QStringLiteral("count"))) {
        bool ok = false;
        countLimit = args.value("count").toLongLong(&ok);
        if (!ok || countLimit <= 0)
            return out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                            QStringLiteral("--count needs a whole number above 0"));
    }
    qint64 durationMs = 0;
    if (args.values.contains(QStringLiteral("duration"))) {
        durationMs = parseDuration(args.value("duration"), &error);
        if (durationMs <= 0)
            return out.fail(ExitUsage, QString(), QStringLiteral("usage"), error);
    }

    const QString where = settings.url();
    qint64 cycles = 0;
    Subscriber subscriber(settings);
    QObject::connect(&subscriber, &Subscriber::statusChanged, [&](bool connected, const QString& text) {
        out.note(connected ? QStringLiteral("watching %1: %2").arg(where, text) : QStringLiteral("vqs-ctl: ") + text);
    });
    QObject::connect(&subscriber, &Subscriber::received, [&](const BrokerMessage& message) {
        if (message.benchLevel) {
            out.note(QStringLiteral("bench %1: %2").arg(message.bench, message.text));
            return;
        }
        if (message.kind != QLatin1String("cycle") || (countLimit > 0 && cycles >= countLimit))
            return;
        ++cycles;
        if (out.json()) {
            std::fputs(QJsonDocument(message.values).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
            std::fflush(stdout);
        } else {
            const QJsonObject& v = message.values;
            out.line(QStringLiteral("%1 %2 %3s %4 %5 %6 %7")
                         .arg(message.bench, message.sensor, number(v.value(QLatin1String("time")), 1),
                              v.value(QLatin1String("gas")).toString(),
                              number(v.value(QLatin1String("concentration")), 2),
                              v.value(QLatin1String("unit")).toString(),
                              v.value(QLatin1String("statusText")).toString()));
        }
        if (countLimit > 0 && cycles >= countLimit)
            QCoreApplication::exit(0);
    });

    std::signal(SIGINT, onWatchSignal);
    std::signal(SIGTERM, onWatchSignal);
    const QDeadlineTimer deadline(durationMs > 0 ? durationMs : -1);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (stopSignal != 0 || deadline.hasExpired())
            QCoreApplication::exit(0);
    });
    watch.start(100);
    subscriber.start();
    QCoreApplication::exec();
    subscriber.stop();
    // A script that asked for a number of cycles learns whether they came.
    return countLimit > 0 && cycles < countLimit ? ExitSensorFailed : ExitOk;
}
