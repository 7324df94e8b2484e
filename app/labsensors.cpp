#include "labsensors.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QJsonObject>
#include <QMetaObject>

#include <atomic>
#include <cmath>

#include "messages.h"
#include "presentation.h"
#include "runsession.h"
#include "subscriber.h"

namespace {

using ShownState = presentation::SensorState;

// A sensor state's word on the wire as the panel shows it; false for a word this program does not publish.
bool stateOfWord(const QString& word, ShownState* state) {
    static const struct {
        SensorState published;
        ShownState shown;
    } kStates[] = {{SensorState::Idle, ShownState::Idle},
                   {SensorState::Running, ShownState::Running},
                   {SensorState::Recovering, ShownState::Recovering},
                   {SensorState::Lost, ShownState::Lost},
                   {SensorState::Offline, ShownState::Offline}};
    for (const auto& row : kStates) {
        if (word == QLatin1String(sensorStateWord(row.published))) {
            *state = row.shown;
            return true;
        }
    }
    return false;
}

// A JSON reading; null (no reading) is NaN.
double reading(const QJsonObject& values, const char* key) {
    const QJsonValue v = values.value(QLatin1String(key));
    return v.isDouble() ? v.toDouble() : std::nan("");
}

}  // namespace

namespace {

int compareNames(const QString& a, const QString& b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c : a.compare(b);
}

}  // namespace

bool LabKey::operator<(const LabKey& other) const {
    const int c = compareNames(bench, other.bench);
    return c != 0 ? c < 0 : compareNames(sensor, other.sensor) < 0;
}

// The subscriber and what is known of each sensor; on the lab's own thread.
class LabSensors::Collector : public QObject {
public:
    Collector(LabSensors* owner, const BrokerSettings& settings)
        : owner_(owner), settings_(settings), ownBench_(settings.effectiveBench()) {}

    void begin() {
        BrokerSettings view = settings_;
        // An id of its own: the bench's would throw the bench's publisher off, and the
        // broker drops the older of two connections with one id.
        static std::atomic<int> serial{0};
        view.clientId = QStringLiteral("%1-lab-%2-%3")
                            .arg(settings_.effectiveClientId())
                            .arg(QCoreApplication::applicationPid())
                            .arg(++serial);
        auto* subscriber = new Subscriber(view, false, this);
        connect(subscriber, &Subscriber::received, this, &Collector::onMessage);
        LabSensors* owner = owner_;
        connect(subscriber, &Subscriber::statusChanged, owner_, [owner](bool connected, const QString& text) {
            if (connected)
                qInfo().noquote() << "lab view:" << text;
            else
                qWarning().noquote() << "lab view:" << text;
            owner->setStatus(text);
        });
        subscriber->start();
    }

private:
    struct Known {
        SensorSnapshot snap;  // state: the sensor's own
        qint64 lastRunCycle = 0;
        qint64 lastUtcMs = 0;  // the last cycle's
    };

    void onMessage(const BrokerMessage& m) {
        if (m.bench == ownBench_)
            return;
        if (m.benchLevel) {
            const bool offline = m.text == QLatin1String("offline");
            if (offline == offlineBenches_.contains(m.bench))
                return;
            if (offline)
                offlineBenches_.insert(m.bench, true);
            else
                offlineBenches_.remove(m.bench);
            std::lock_guard<std::mutex> lock(owner_->mutex_);
            owner_->pending_.benchOnline.insert(m.bench, !offline);
            for (auto it = known_.begin(); it != known_.end(); ++it)
                if (it.key().bench == m.bench)
                    shownLocked(it.key(), it.value());
            tell();
            return;
        }
        const LabKey key{m.bench, m.sensor};
        Known& k = known_[key];
        k.snap.name = m.sensor;
        bool newRun = false;
        QPointF point;
        bool hasPoint = false;
        if (m.kind == QLatin1String("identity")) {
            k.snap.port = m.values.value(QLatin1String("port")).toString();
        } else if (m.kind == QLatin1String("state")) {
            ShownState state;
            if (!stateOfWord(m.text.trimmed(), &state))
                return;
            // A run starts from anything but running; a repeated "running" is no new run.
            newRun = state == ShownState::Running && k.snap.state != ShownState::Running &&
                     k.snap.state != ShownState::Recovering;
            if (newRun)
                startRun(k);
            k.snap.state = state;
        } else if (m.kind == QLatin1String("cycle")) {
            const qint64 runCycle = qint64(m.values.value(QLatin1String("runCycle")).toDouble(0));
            const qint64 utcMs = qint64(m.values.value(QLatin1String("utcMs")).toDouble(0));
            if (runCycle <= k.lastRunCycle) {
                // At the edge of an outage a cycle may come again. A later one starts a run whose
                // states went unseen (a bench's queue keeps only the last of a quick stop and start).
                if (utcMs <= k.lastUtcMs)
                    return;
                newRun = true;
                startRun(k);
            }
            if (k.snap.run == 0) {  // cycles with no state seen: a run under way
                newRun = true;
                startRun(k);
                k.snap.state = ShownState::Running;
            }
            k.lastRunCycle = runCycle;
            k.lastUtcMs = utcMs;
            fillCycle(k.snap, m.values, runCycle);
            point = QPointF(double(k.snap.runMs) / 1000.0, k.snap.concentration);
            hasPoint = true;
        } else {
            return;  // events are not shown in the rows
        }
        std::lock_guard<std::mutex> lock(owner_->mutex_);
        LabSensor& shown = shownLocked(key, k);
        if (newRun)
            shown.points.clear();
        if (hasPoint)
            shown.points.append(point);
        tell();
    }

    static void startRun(Known& k) {
        ++k.snap.run;
        k.snap.hasSample = false;
        k.snap.rows = 0;
        k.snap.runMs = 0;
        k.lastRunCycle = 0;
    }

    static void fillCycle(SensorSnapshot& s, const QJsonObject& v, qint64 runCycle) {
        s.hasSample = true;
        s.gas = v.value(QLatin1String("gas")).toString();
        s.unit = v.value(QLatin1String("unit")).toString();
        s.concentration = reading(v, "concentration");
        const bool ppm = s.unit == QLatin1String(presentation::unitName(presentation::UnitPpm));
        s.concentrationText = std::isfinite(s.concentration) ? RunSession::concentrationText(s.concentration, ppm)
                                                             : QString();
        s.temperature = reading(v, "temperature");
        s.pressure = reading(v, "pressure");
        s.humidity = reading(v, "humidity");
        s.statusText = v.value(QLatin1String("statusText")).toString();
        s.rows = quint32(runCycle);
        const double seconds = reading(v, "time");
        s.runMs = std::isfinite(seconds) ? qint64(std::llround(seconds * 1000.0)) : 0;
    }

    // owner's mutex held: the sensor's pending entry with its snapshot as shown.
    LabSensor& shownLocked(const LabKey& key, const Known& k) {
        LabSensor& shown = owner_->pending_.sensors[key];
        shown.bench = key.bench;
        shown.snap = k.snap;
        if (offlineBenches_.contains(key.bench))
            shown.snap.state = ShownState::Offline;
        return shown;
    }

    // owner's mutex held.
    void tell() {
        if (owner_->signalled_)
            return;
        owner_->signalled_ = true;
        // Queued to the owner's thread by Qt, since it is emitted here.
        emit owner_->changed();
    }

    LabSensors* const owner_;
    const BrokerSettings settings_;
    const QString ownBench_;
    QMap<LabKey, Known> known_;
    QHash<QString, bool> offlineBenches_;
};

namespace {

const QString kNotShowing = QStringLiteral("Not showing the lab");

}  // namespace

LabSensors::LabSensors(QObject* parent) : QObject(parent), status_(kNotShowing) {
    thread_.setObjectName(QStringLiteral("lab view"));
}

void LabSensors::setStatus(const QString& text) {
    if (text == status_)
        return;
    status_ = text;
    emit statusChanged(text);
}

LabSensors::~LabSensors() {
    stop();
}

void LabSensors::apply(const BrokerSettings& settings) {
    stop();
    const bool on = settings.showLab && !settings.host.isEmpty();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.active = on;
        pending_.ownBench = settings.effectiveBench();
    }
    if (!on)
        return;
    setStatus(QStringLiteral("connecting to %1").arg(settings.url()));
    collector_ = new Collector(this, settings);
    collector_->moveToThread(&thread_);
    thread_.start();
    Collector* collector = collector_;
    QMetaObject::invokeMethod(collector, [collector] { collector->begin(); }, Qt::QueuedConnection);
}

void LabSensors::stop() {
    if (collector_) {
        Collector* collector = collector_;
        collector_ = nullptr;
        // Deleted on its own thread, where its subscriber's reports arrive.
        QMetaObject::invokeMethod(collector, [collector] { delete collector; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
        setStatus(kNotShowing);
    }
    bool tellNow = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const QString ownBench = pending_.ownBench;
        pending_ = LabUpdate{};
        pending_.reset = true;
        pending_.ownBench = ownBench;
        tellNow = !signalled_;
        signalled_ = true;
    }
    if (tellNow)
        emit changed();
}

LabUpdate LabSensors::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    LabUpdate out = std::move(pending_);
    pending_ = LabUpdate{};
    pending_.ownBench = out.ownBench;
    pending_.active = out.active;
    signalled_ = false;
    return out;
}
