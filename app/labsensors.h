// The lab's other benches as the All sensors panel shows them: every sensor
// that publishes to the broker, as a SensorSnapshot keyed by its bench and
// name, with the points of its concentration curve. Widget-free.
//
// A thread of its own subscribes and turns identity, state and cycle messages
// into snapshots; the panel takes what changed at its own refresh pace
// (take()), so a busy lab costs the GUI thread one call a refresh. This
// bench's own messages are skipped: its sensors are the panel's local rows.
#pragma once

#include <QMap>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QThread>
#include <QVector>

#include <mutex>

#include "brokersettings.h"
#include "sensorsnapshot.h"

// A sensor of the lab: bench and name as they were published (never parsed from a topic text).
struct LabKey {
    QString bench;
    QString sensor;
    // By bench, then sensor; case does not part names that differ only in it.
    bool operator<(const LabKey& other) const;
    bool operator==(const LabKey& other) const { return bench == other.bench && sensor == other.sensor; }
};

struct LabSensor {
    QString bench;
    // The display state folds in the bench's: "offline" while its bench is.
    SensorSnapshot snap;
    // Points of the current run (run seconds, concentration) since the last take;
    // a new run (snap.run changed) starts with its own points only.
    QVector<QPointF> points;
};

struct LabUpdate {
    // Everything shown before is gone (the lab view was switched, another broker):
    // `active` and `ownBench` tell what follows.
    bool reset = false;
    bool active = false;
    QString ownBench;
    QMap<LabKey, LabSensor> sensors;  // changed since the last take
    QMap<QString, bool> benchOnline;  // benches whose own state changed
};

class LabSensors : public QObject {
    Q_OBJECT
public:
    explicit LabSensors(QObject* parent = nullptr);
    ~LabSensors() override;  // stop()

    // Follows the broker of `settings` while its showLab is set and it names a
    // host; ends what was followed before. `settings.effectiveBench()` is this
    // bench, whose messages are skipped.
    void apply(const BrokerSettings& settings);
    void stop();
    bool active() const { return collector_ != nullptr; }
    // The subscriber's last report, "Not showing the lab" while stopped.
    QString lastStatus() const { return status_; }

    // What changed since the last call. Any thread.
    LabUpdate take();

signals:
    // Something waits to be taken; told once until it is.
    void changed();
    // The subscriber's report: "connected to HOST:PORT" or the problem.
    void statusChanged(const QString& text);

private:
    class Collector;

    void setStatus(const QString& text);

    QThread thread_;
    QString status_;  // this object's thread
    Collector* collector_ = nullptr;  // lives on thread_
    std::mutex mutex_;  // guards what waits to be taken
    LabUpdate pending_;
    bool signalled_ = false;  // changed() told since the last take
};
