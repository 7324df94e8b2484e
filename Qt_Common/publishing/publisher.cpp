#include "publisher.h"

#include <QDebug>
#include <QMetaObject>
#include <QPointer>

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "mqttlink.h"
#include "topics.h"

namespace {

LinkSettings linkSettings(const BrokerSettings& s, const QString& bench) {
    LinkSettings link;
    link.host = s.host.toStdString();
    link.port = s.port;
    link.clientId = s.effectiveClientId().toStdString();
    link.user = s.user.toStdString();
    link.password = s.password.toStdString();
    link.tls = s.tls;
    link.caFile = s.caFile.toStdString();
    link.willTopic = topics::benchState(bench).toStdString();
    link.willPayload = "offline";
    return link;
}

}  // namespace

// The link, the queue and the sender thread. Shared state is guarded by mutex_;
// what the Qt side hears is posted to the publisher's thread as values.
class Publisher::Sender : public MqttLink {
public:
    Sender(Publisher* owner, const LinkSettings& settings, QueueLimits limits)
        : MqttLink(settings), owner_(owner), queue_(limits), benchTopic_(settings.willTopic) {}

    ~Sender() override { halt(false); }

    bool begin(std::string* error) {
        if (thread_.joinable())
            return true;
        if (!start(error))
            return false;
        thread_ = std::thread(&Sender::pump, this);
        return true;
    }

    void push(QueuedMessage message) {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t dropped = queue_.push(std::move(message));
        if (dropped > 0) {
            if (!dropping_) {
                dropping_ = true;
                post([size = queue_.size()](Publisher*) {
                    qWarning().noquote() << QStringLiteral("publishing: the queue is full (%1 messages); the oldest "
                                                           "are dropped until the broker takes them again").arg(size);
                });
            }
            episodeDrops_ += dropped;
        }
        wake_.notify_all();
    }

    void rememberSensor(const QString& sensor) {
        std::lock_guard<std::mutex> lock(mutex_);
        sensors_.insert(sensor);
    }

    std::set<QString> sensors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sensors_;
    }

    // Waits while connected and something is queued; returns how many are left.
    size_t drain(int ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return queue_.size() == 0 || !connected_; });
        return queue_.size();
    }

    void halt(bool clean) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            halting_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
        stop(clean);
        endDropEpisode(true);
    }

    Publisher::Counts counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        Publisher::Counts c;
        c.queued = queue_.size();
        c.acknowledged = queue_.acknowledged();
        c.dropped = queue_.dropped();
        c.connected = connected_;
        c.attempts = attempts();
        return c;
    }

private:
    // Runs f(publisher) on the publisher's thread, unless it is gone by then.
    template <typename F>
    void post(F f) {
        QPointer<Publisher> owner(owner_);
        QMetaObject::invokeMethod(
            owner_, [owner, f] { if (owner) f(owner.data()); }, Qt::QueuedConnection);
    }

    // Sender thread: hands queued messages over while connected and the window has room.
    void pump() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] {
                return halting_ || (connected_ && !resending_ && queue_.hasQueued() && queue_.inFlight() < size_t(kWindow));
            });
            if (halting_)
                return;
            QueuedMessage message;
            const uint64_t key = queue_.handNext(&message);
            lock.unlock();
            int mid = 0;
            const int rc = mosquitto_publish(handle(), &mid, message.topic.c_str(), int(message.payload.size()),
                                             message.payload.data(), message.qos, message.retain);
            lock.lock();
            if (rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && message.qos > 0)) {
                // Without a connection the client library keeps a QoS 1 message and sends it on reconnect.
                queue_.handed(key, mid);
            } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) {
                queue_.unhand(key);
                connected_ = false;  // until the link is up again
            } else {
                queue_.reject(key);
                post([topic = QString::fromStdString(message.topic), rc](Publisher*) {
                    qWarning().noquote() << QStringLiteral("publishing: %1 refused: %2")
                                                .arg(topic, QString::fromUtf8(mosquitto_strerror(rc)));
                });
            }
            afterProgress();
        }
    }

    // mutex_ held.
    void afterProgress() {
        if (dropping_ && queue_.withinShare(0.9))
            endDropEpisodeLocked();
        wake_.notify_all();
    }

    void endDropEpisode(bool atStop) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (dropping_ && atStop)
            endDropEpisodeLocked();
    }

    void endDropEpisodeLocked() {
        dropping_ = false;
        const quint64 count = episodeDrops_;
        episodeDrops_ = 0;
        post([count](Publisher* owner) {
            qWarning().noquote() << QStringLiteral("publishing: %1 messages were dropped while the queue was full").arg(count);
            emit owner->messagesDropped(count);
        });
    }

    void linkUp() override {
        // Inside the connect callback: the bench is online before anything queued goes out.
        int mid = 0;
        static const char kOnline[] = "online";
        const bool sent = mosquitto_publish(handle(), &mid, benchTopic_.c_str(), int(sizeof(kOnline) - 1), kOnline,
                                            1, true) == MOSQ_ERR_SUCCESS;
        std::lock_guard<std::mutex> lock(mutex_);
        if (sent)
            ownMids_.insert(mid);
        connected_ = true;
        // The client library resends what was in flight only after this callback; a new
        // message handed now would overtake them, so new ones wait for their acknowledgements.
        resending_ = queue_.inFlight() > 0;
        wake_.notify_all();
    }

    void linkDown() override {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = false;
        queue_.connectionLost();
        afterProgress();
    }

    void published(int mid) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ownMids_.erase(mid) > 0)
            return;
        queue_.acknowledge(mid);
        if (resending_ && queue_.inFlight() == 0)
            resending_ = false;
        afterProgress();
    }

    void status(bool connected, const std::string& text) override {
        post([connected, text = QString::fromStdString(text)](Publisher* owner) {
            if (connected)
                qInfo().noquote() << "publishing:" << text;
            else
                qWarning().noquote() << "publishing:" << text;
            emit owner->statusChanged(connected, text);
        });
    }

    Publisher* const owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    PublishQueue queue_;
    const std::string benchTopic_;
    std::set<int> ownMids_;
    std::set<QString> sensors_;
    bool connected_ = false;
    bool resending_ = false;
    bool halting_ = false;
    bool dropping_ = false;
    quint64 episodeDrops_ = 0;
};

Publisher::Publisher(const BrokerSettings& settings, QueueLimits limits, QObject* parent)
    : QObject(parent),
      settings_(settings),
      bench_(settings.effectiveBench()),
      sender_(std::make_unique<Sender>(this, linkSettings(settings, bench_), limits)) {}

Publisher::~Publisher() {
    stop();
}

void Publisher::start() {
    std::string error;
    if (sender_ && !sender_->begin(&error)) {
        const QString text = QStringLiteral("broker %1: %2").arg(settings_.url(), QString::fromStdString(error));
        qWarning().noquote() << "publishing:" << text;
        QMetaObject::invokeMethod(this, [this, text] { emit statusChanged(false, text); }, Qt::QueuedConnection);
    }
}

void Publisher::stop(int drainMs) {
    if (!sender_)
        return;
    for (const QString& sensor : sender_->sensors())
        publish(topics::sensor(bench_, sensor, "state"), sensorStateWord(SensorState::Offline), 1, true);
    publish(topics::benchState(bench_), "offline", 1, true);
    // Waits only while connected: a broker that is away (or was never reached) gets no drain time.
    const size_t left = sender_->drain(drainMs);
    if (left > 0)
        qWarning().noquote() << QStringLiteral("publishing: %1 messages were dropped at the end: the broker did not "
                                               "take them").arg(left);
    sender_->halt(left == 0);
    final_ = sender_->counts();
    final_.dropped += final_.queued;
    final_.queued = 0;
    final_.connected = false;
    sender_.reset();
}

void Publisher::publish(const QByteArray& topic, const QByteArray& payload, int qos, bool retain) {
    if (!sender_)
        return;
    QueuedMessage message;
    message.topic = topic.toStdString();
    message.payload = payload.toStdString();
    message.qos = qos;
    message.retain = retain;
    sender_->push(std::move(message));
}

void Publisher::publishCycle(CycleMessage message) {
    message.bench = bench_;
    publish(topics::sensor(bench_, message.sensor, "cycle"), messages::cycleJson(message));
}

void Publisher::publishIdentity(IdentityMessage message) {
    message.bench = bench_;
    publish(topics::sensor(bench_, message.sensor, "identity"), messages::identityJson(message), 1, true);
}

void Publisher::publishState(const QString& sensor, SensorState state) {
    if (sender_)
        sender_->rememberSensor(sensor);
    publish(topics::sensor(bench_, sensor, "state"), sensorStateWord(state), 1, true);
}

void Publisher::publishEvent(EventMessage message) {
    message.bench = bench_;
    publish(topics::sensor(bench_, message.sensor, "event"), messages::eventJson(message));
}

Publisher::Counts Publisher::counts() const {
    return sender_ ? sender_->counts() : final_;
}
