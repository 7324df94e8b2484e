// Where a bench's messages go on the broker:
//   vqs/<bench>/state              retained "online" / "offline" (the connection's last will)
//   vqs/<bench>/<sensor>/cycle     one JSON document per recorded cycle
//   vqs/<bench>/<sensor>/identity  retained JSON: what the sensor is
//   vqs/<bench>/<sensor>/state     retained word: idle, running, recovering, lost, offline
//   vqs/<bench>/<sensor>/event     JSON: run started, stopped, saved, connection lost, ...
// Bench and sensor names are data: a name becomes one topic level by
// percent-encoding '%', '+', '#', '/' and control characters (%XX, upper-case
// hex of the UTF-8 byte); an empty name is the level "%". Every JSON document
// carries the names as they are.
#pragma once

#include <QByteArray>
#include <QString>

namespace topics {

extern const char* const kRoot;  // "vqs"

QByteArray level(const QString& name);
// The name a level stands for; the inverse of level().
QString name(const QByteArray& level);

QByteArray benchState(const QString& bench);
QByteArray sensor(const QString& bench, const QString& sensor, const char* kind);

// What a received topic is about. kind: "state" for the bench's own state
// (sensor empty), else the sensor topic's last level. False for a topic
// outside this layout.
struct Parsed {
    QString bench;
    QString sensor;
    QString kind;
    bool benchLevel = false;
};
bool parse(const QByteArray& topic, Parsed* parsed);

// Subscribing to this one filter receives every bench's state and every sensor topic.
extern const char* const kEverything;  // "vqs/+/+/#"

}  // namespace topics
