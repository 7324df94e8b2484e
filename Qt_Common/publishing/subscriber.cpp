#include "subscriber.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMetaObject>
#include <QPointer>
#include <QSysInfo>

#include <mosquitto.h>

#include "mqttlink.h"
#include "topics.h"

class Subscriber::Receiver : public MqttLink {
public:
    Receiver(Subscriber* owner, const LinkSettings& settings) : MqttLink(settings), owner_(owner) {}
    ~Receiver() override { stop(true); }

private:
    template <typename F>
    void post(F f) {
        QPointer<Subscriber> owner(owner_);
        QMetaObject::invokeMethod(
            owner_, [owner, f] { if (owner) f(owner.data()); }, Qt::QueuedConnection);
    }

    void linkUp() override { mosquitto_subscribe(handle(), nullptr, topics::kEverything, 1); }
    bool announcesOnConnect() const override { return false; }
    void subscribed() override { announceUp(); }

    void received(const mosquitto_message& m) override {
        QByteArray topic(m.topic);
        QByteArray payload(static_cast<const char*>(m.payload), m.payloadlen);
        const bool retained = m.retain;
        post([topic, payload, retained](Subscriber* owner) { owner->deliver(topic, payload, retained); });
    }

    void status(bool connected, const std::string& text) override {
        post([connected, text = QString::fromStdString(text)](Subscriber* owner) {
            emit owner->statusChanged(connected, text);
        });
    }

    Subscriber* const owner_;
};

Subscriber::Subscriber(const BrokerSettings& settings, bool persistentSession, QObject* parent)
    : QObject(parent), settings_(settings) {
    qRegisterMetaType<BrokerMessage>();
    LinkSettings link;
    link.host = settings.host.toStdString();
    link.port = settings.port;
    link.clientId = (settings.clientId.isEmpty()
                         ? QStringLiteral("%1-view-%2").arg(QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid())
                         : settings.clientId)
                        .toStdString();
    link.cleanSession = !persistentSession;
    link.user = settings.user.toStdString();
    link.password = settings.password.toStdString();
    link.tls = settings.tls;
    link.caFile = settings.caFile.toStdString();
    receiver_ = std::make_unique<Receiver>(this, link);
}

Subscriber::~Subscriber() {
    stop();
}

void Subscriber::start() {
    std::string error;
    if (receiver_ && !receiver_->start(&error)) {
        const QString text = QStringLiteral("broker %1: %2").arg(settings_.url(), QString::fromStdString(error));
        QMetaObject::invokeMethod(this, [this, text] { emit statusChanged(false, text); }, Qt::QueuedConnection);
    }
}

void Subscriber::stop() {
    receiver_.reset();
}

void Subscriber::deliver(const QByteArray& topic, const QByteArray& payload, bool retained) {
    topics::Parsed parsed;
    if (!topics::parse(topic, &parsed))
        return;
    BrokerMessage message;
    message.bench = parsed.bench;
    message.sensor = parsed.sensor;
    message.kind = parsed.kind;
    message.text = QString::fromUtf8(payload);
    message.retained = retained;
    message.benchLevel = parsed.benchLevel;
    if (parsed.kind != QLatin1String("state")) {
        message.values = QJsonDocument::fromJson(payload).object();
        // The documents carry the names as they are.
        if (message.values.value(QLatin1String("sensor")).isString())
            message.sensor = message.values.value(QLatin1String("sensor")).toString();
        if (message.values.value(QLatin1String("bench")).isString())
            message.bench = message.values.value(QLatin1String("bench")).toString();
        message.values.insert(QStringLiteral("bench"), message.bench);
        message.values.insert(QStringLiteral("sensor"), message.sensor);
    }
    emit received(message);
}
