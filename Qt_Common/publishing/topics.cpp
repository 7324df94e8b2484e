#include "topics.h"

#include <QList>

namespace topics {

const char* const kRoot = "vqs";
const char* const kEverything = "vqs/+/+/#";

QByteArray level(const QString& name) {
    if (name.isEmpty())
        return QByteArrayLiteral("%");
    const QByteArray utf8 = name.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '%' || byte == '+' || byte == '#' || byte == '/' || byte < 0x20 || byte == 0x7F) {
            out.append('%');
            out.append(kHex[byte >> 4]);
            out.append(kHex[byte & 0x0F]);
        } else {
            out.append(c);
        }
    }
    return out;
}

QString name(const QByteArray& level) {
    if (level == "%")
        return QString();
    return QString::fromUtf8(QByteArray::fromPercentEncoding(level));
}

QByteArray benchState(const QString& bench) {
    return QByteArray(kRoot) + '/' + level(bench) + "/state";
}

QByteArray sensor(const QString& bench, const QString& sensor, const char* kind) {
    return QByteArray(kRoot) + '/' + level(bench) + '/' + level(sensor) + '/' + kind;
}

bool parse(const QByteArray& topic, Parsed* parsed) {
    const QList<QByteArray> parts = topic.split('/');
    if (parts.size() < 3 || parts.size() > 4 || parts.at(0) != kRoot)
        return false;
    parsed->bench = name(parts.at(1));
    if (parts.size() == 3) {
        if (parts.at(2) != "state")
            return false;
        parsed->sensor.clear();
        parsed->kind = QStringLiteral("state");
        parsed->benchLevel = true;
        return true;
    }
    parsed->sensor = name(parts.at(2));
    parsed->kind = QString::fromUtf8(parts.at(3));
    parsed->benchLevel = false;
    return true;
}

}  // namespace topics
