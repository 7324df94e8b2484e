// The lab view's side: every bench's messages from one broker, decoded, as Qt
// signals on the subscriber's thread. It subscribes to vqs/+/+/# (QoS 1), which
// holds both the benches' states and every sensor topic, again on every connect.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <memory>

#include "brokersettings.h"

struct BrokerMessage {
    QString bench;
    QString sensor;      // empty for the bench's own state
    QString kind;        // "cycle", "identity", "state", "event"; for the bench's own topic "state"
    QString text;        // the payload as text: the word of a state
    QJsonObject values;  // the JSON document of cycle, identity and event (with "bench" and "sensor")
    bool retained = false;
    bool benchLevel = false;  // vqs/<bench>/state rather than a sensor's topic
};
Q_DECLARE_METATYPE(BrokerMessage)

class Subscriber : public QObject {
    Q_OBJECT
public:
    // A persistent session keeps the subscription and the QoS 1 messages for
    // it on the broker while the subscriber is away (the broker must keep its
    // sessions across its own restarts, "persistence true" in mosquitto); it needs
    // a fixed client id in the settings. Otherwise the client id defaults to
    // "<host name>-view-<process id>", so that it never takes a bench's place.
    explicit Subscriber(const BrokerSettings& settings, bool persistentSession = false, QObject* parent = nullptr);
    ~Subscriber() override;

    void start();
    void stop();  // for good: a stopped subscriber does not start again

signals:
    void received(const BrokerMessage& message);
    // Once per episode: connected (once the subscription stands), or the problem in plain words.
    void statusChanged(bool connected, const QString& text);

private:
    class Receiver;
    void deliver(const QByteArray& topic, const QByteArray& payload, bool retained);

    BrokerSettings settings_;
    std::unique_ptr<Receiver> receiver_;
};
