// What the publishing tests share: a broker's settings, a cycle document, and
// a subscriber's inbox with the checks on what arrived.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>

#include "brokersettings.h"
#include "messages.h"
#include "subscriber.h"

constexpr int kLong = 30000;

inline BrokerSettings settingsFor(quint16 port, const QString& clientId) {
    BrokerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.clientId = clientId;
    return s;
}

inline CycleMessage cycle(const QString& sensor, qint64 n) {
    CycleMessage m;
    m.sensor = sensor;
    m.time = double(n) + 0.000123;
    m.cycle = n;
    m.runCycle = n;
    m.sample = 1000 + n;
    m.temperature = 23.4f;
    m.pressure = 101.3f;
    m.humidity = 45.6f;
    m.gasId = 3;
    m.gas = QStringLiteral("Methane");
    m.concentration = 12.5f;
    m.unit = QStringLiteral("PPM");
    m.statusText = QStringLiteral("Sensor OK");
    m.utcMs = 1710000000000 + n * 1000;
    return m;
}

inline qint64 integer(const QJsonObject& object, const char* key) {
    return qint64(object.value(QLatin1String(key)).toDouble(-1));
}

// Everything a subscriber receives, in order.
struct Inbox {
    explicit Inbox(Subscriber& subscriber) {
        QObject::connect(&subscriber, &Subscriber::received, [this](const BrokerMessage& m) { all.append(m); });
        QObject::connect(&subscriber, &Subscriber::statusChanged, [this](bool up, const QString&) { connected = up; });
    }
    QList<qint64> runCycles(const QString& sensor) const {
        QList<qint64> out;
        for (const BrokerMessage& m : all)
            if (m.sensor == sensor && m.kind == QLatin1String("cycle"))
                out.append(integer(m.values, "runCycle"));
        return out;
    }
    int distinctCycles(const QString& sensor) const {
        const QList<qint64> cycles = runCycles(sensor);
        return QSet<qint64>(cycles.begin(), cycles.end()).size();
    }
    // The last message of a kind about a sensor (or the bench's state with an empty sensor).
    BrokerMessage last(const QString& bench, const QString& sensor, const char* kind) const {
        for (int i = all.size() - 1; i >= 0; --i) {
            const BrokerMessage& m = all.at(i);
            if (m.bench == bench && m.sensor == sensor && m.kind == QLatin1String(kind) &&
                m.benchLevel == sensor.isEmpty())
                return m;
        }
        return BrokerMessage();
    }
    QList<BrokerMessage> all;
    bool connected = false;
};

// Once past the first, each message is either the next one or one seen before
// (QoS 1 may send a message again at the edge of an outage), never a gap.
inline bool inOrderWithoutGaps(const QList<qint64>& cycles, qint64 last) {
    qint64 expected = 1;
    for (qint64 c : cycles) {
        if (c == expected)
            ++expected;
        else if (c > expected)
            return false;
    }
    return expected == last + 1;
}
