#include "benchpublishing.h"

#include "alarmsettings.h"
#include "publisher.h"
#include "runpublisher.h"
#include "sensoridentity.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace {

const QString kNotPublishing = QStringLiteral("Not publishing");

}  // namespace

BenchPublishing::BenchPublishing(QObject* parent) : QObject(parent), status(kNotPublishing) {}

BenchPublishing::~BenchPublishing() {
    stop();
}

QString BenchPublishing::settingsPath() {
    // One settings file for the program: the alarm set-points live there too.
    return AlarmSettings::programSettingsPath();
}

void BenchPublishing::apply(const BrokerSettings& settings) {
    stop(1000);
    if (!settings.enabled || settings.host.isEmpty())
        return;
    publisher = std::make_unique<Publisher>(settings);
    connect(publisher.get(), &Publisher::statusChanged, this,
            [this](bool, const QString& text) { setStatus(text); });
    connect(publisher.get(), &Publisher::messagesDropped, this, [this](quint64 count) {
        setStatus(QStringLiteral("%1 messages to the broker were dropped (its queue was full)").arg(count));
    });
    setStatus(QStringLiteral("connecting to %1").arg(settings.url()));
    publisher->start();
    for (TarnLiteSystemTab* page : pages.keys())
        follow(page);
}

void BenchPublishing::track(TarnLiteSystemTab* page) {
    if (!page || pages.contains(page))
        return;
    pages.insert(page, nullptr);
    connect(page, &QObject::destroyed, this, [this, page]() {
        // Only the pointer's value is used: the page is half destroyed by now.
        auto it = pages.find(page);
        if (it == pages.end())
            return;
        delete it.value();
        pages.erase(it);
    });
    if (publisher)
        follow(page);
}

void BenchPublishing::follow(TarnLiteSystemTab* page) {
    RunSession* session = page->runSession();
    if (!session || pages.value(page))
        return;
    auto* runPublisher = new RunPublisher(*publisher, *session, IdentityMessage{}, this);
    // Asked when a run starts, before the sensor's worker takes over the device.
    runPublisher->setIdentitySource([page] {
        IdentityMessage identity;
        const VQS* sensor = page->sensorObject();
        if (!sensor)
            return identity;
        identity.sensor = QString::fromLatin1(sensor->sensorName);
        identity.type = sensorTypeDescription(*sensor);
        identity.sku = QString::fromLatin1(sensor->sensorSku);
        identity.firmware = QString::fromLatin1(sensor->firmwareVersionText);
        identity.mcuId = QString::fromLatin1(sensor->mcuId);
        identity.port = QString::fromStdString(sensor->portPath);
        return identity;
    });
    pages[page] = runPublisher;
    if (session->state() != RunSession::State::Idle) {
        // A run under way (publishing was just switched on): named as the page shows it; the
        // rest of the identity comes with the next run's start, while the sensor is idle.
        IdentityMessage identity;
        identity.sensor = page->snapshot().name;
        identity.port = page->snapshot().port;
        runPublisher->setIdentity(identity);
        runPublisher->joinRun();
    }
}

void BenchPublishing::stop(int drainMs) {
    for (auto it = pages.begin(); it != pages.end(); ++it) {
        delete it.value();
        it.value() = nullptr;
    }
    if (publisher) {
        publisher->stop(drainMs);
        publisher.reset();
    }
    setStatus(kNotPublishing);
}

void BenchPublishing::setStatus(const QString& text) {
    if (text == status)
        return;
    status = text;
    emit statusChanged(text);
}
