// Publishes a bench's sensors to a broker without ever holding up the caller:
// publish() only queues (any thread); a sender thread hands the queue to the
// client library in order, at most kWindow messages in flight, and a message
// leaves the queue only once the broker has acknowledged it (QoS 1) or it was
// written to the socket (QoS 0). While the broker is away the queue keeps
// everything within its bound (publishqueue.h), and sends it in order when the
// broker is back: with QoS 1, which the message helpers use for everything,
// nothing is lost across a broker restart (a message may arrive twice at the
// edge of an outage; "runCycle" tells).
//
// The connection carries the bench's last will: vqs/<bench>/state retained
// "offline"; "online" is published on every connect. A sensor's own state is
// to be read together with its bench's: after a crash the bench says "offline"
// while its sensors still show their last state. stop() sets every sensor that
// had a state "offline", then the bench.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

#include "brokersettings.h"
#include "messages.h"
#include "publishqueue.h"

class Publisher : public QObject {
    Q_OBJECT
public:
    static constexpr int kWindow = 20;  // the client library's own in-flight limit

    explicit Publisher(const BrokerSettings& settings, QueueLimits limits = {}, QObject* parent = nullptr);
    ~Publisher() override;  // stop()

    QString bench() const { return bench_; }

    // Connects in the background; problems come through statusChanged().
    void start();
    // Sets the known sensors and the bench offline, waits up to drainMs while the
    // broker takes what is queued (not at all while it is not connected), then
    // disconnects. Whatever is left is dropped, counted and logged and, so that
    // the bench does not stay "online", the connection is closed without a
    // goodbye, which makes the broker publish the will.
    void stop(int drainMs = 3000);

    // Any thread, but not while stop() or the destructor runs; never blocks.
    // After stop() nothing more is published.
    void publish(const QByteArray& topic, const QByteArray& payload, int qos = 1, bool retain = false);
    // The documents of messages.h under the bench's topics; bench names are filled in.
    void publishCycle(CycleMessage message);
    void publishIdentity(IdentityMessage message);
    void publishState(const QString& sensor, SensorState state);
    void publishEvent(EventMessage message);

    struct Counts {
        quint64 queued = 0;        // waiting or in flight
        quint64 acknowledged = 0;  // taken by the broker
        quint64 dropped = 0;       // beyond the bound, or refused by the client library
        bool connected = false;
        int attempts = 0;          // connection attempts so far
    };
    // After stop(): the final counts, what was left counted as dropped.
    Counts counts() const;

signals:
    // Once per episode: connected, or the problem in plain words.
    void statusChanged(bool connected, const QString& text);
    // The queue was full: messages were dropped; told once per episode, when it ends
    // (the queue back under 90 % of its bound) or at stop().
    void messagesDropped(quint64 count);

private:
    class Sender;
    BrokerSettings settings_;
    QString bench_;
    std::unique_ptr<Sender> sender_;
    Counts final_;
};
