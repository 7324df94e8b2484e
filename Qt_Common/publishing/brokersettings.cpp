#include "brokersettings.h"

#include <QSettings>
#include <QSysInfo>
#include <QUrl>

QString BrokerSettings::effectiveClientId() const {
    return clientId.isEmpty() ? QSysInfo::machineHostName() : clientId;
}

QString BrokerSettings::effectiveBench() const {
    return bench.isEmpty() ? effectiveClientId() : bench;
}

QString BrokerSettings::url() const {
    const QString shownHost = host.contains(':') ? '[' + host + ']' : host;
    return QStringLiteral("%1://%2:%3").arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), shownHost).arg(port);
}

bool BrokerSettings::setUrl(const QString& text, QString* error) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))) {
        *error = QStringLiteral("'%1' is no broker address: give mqtt://HOST[:PORT] or mqtts://HOST[:PORT]").arg(text);
        return false;
    }
    if (url.host().isEmpty()) {
        *error = QStringLiteral("'%1' names no host").arg(text);
        return false;
    }
    if (!url.path().isEmpty() && url.path() != QLatin1String("/")) {
        *error = QStringLiteral("'%1': a broker address has no path").arg(text);
        return false;
    }
    if (!url.userName().isEmpty() || url.hasQuery() || url.hasFragment()) {
        *error = QStringLiteral("'%1': give only mqtt[s]://HOST[:PORT] (the user and password come from "
                                "VQS_MQTT_USER and VQS_MQTT_PASSWORD)").arg(text);
        return false;
    }
    tls = scheme == QLatin1String("mqtts");
    host = url.host();
    const int given = url.port(-1);
    if (given == 0) {
        *error = QStringLiteral("'%1': port 0").arg(text);
        return false;
    }
    port = given > 0 ? quint16(given) : (tls ? kTlsPort : kPlainPort);
    return true;
}

void BrokerSettings::readEnvironment() {
    if (qEnvironmentVariableIsSet("VQS_MQTT_USER"))
        user = qEnvironmentVariable("VQS_MQTT_USER");
    if (qEnvironmentVariableIsSet("VQS_MQTT_PASSWORD"))
        password = qEnvironmentVariable("VQS_MQTT_PASSWORD");
    if (qEnvironmentVariableIsSet("VQS_MQTT_CAFILE"))
        caFile = qEnvironmentVariable("VQS_MQTT_CAFILE");
}

BrokerSettings BrokerSettings::load(QSettings& settings) {
    BrokerSettings s;
    settings.beginGroup(QStringLiteral("publish"));
    s.enabled = settings.value(QStringLiteral("enabled"), false).toBool();
    s.host = settings.value(QStringLiteral("host")).toString();
    s.tls = settings.value(QStringLiteral("tls"), false).toBool();
    const uint port = settings.value(QStringLiteral("port"), s.tls ? kTlsPort : kPlainPort).toUInt();
    s.port = port > 0 && port <= 65535 ? quint16(port) : (s.tls ? kTlsPort : kPlainPort);
    s.clientId = settings.value(QStringLiteral("clientId")).toString();
    s.user = settings.value(QStringLiteral("user")).toString();
    s.password = settings.value(QStringLiteral("password")).toString();
    s.caFile = settings.value(QStringLiteral("caFile")).toString();
    s.bench = settings.value(QStringLiteral("bench")).toString();
    s.showLab = settings.value(QStringLiteral("showLab"), false).toBool();
    settings.endGroup();
    return s;
}

void BrokerSettings::save(QSettings& settings) const {
    settings.beginGroup(QStringLiteral("publish"));
    settings.setValue(QStringLiteral("enabled"), enabled);
    settings.setValue(QStringLiteral("host"), host);
    settings.setValue(QStringLiteral("port"), uint(port));
    settings.setValue(QStringLiteral("tls"), tls);
    settings.setValue(QStringLiteral("clientId"), clientId);
    settings.setValue(QStringLiteral("user"), user);
    settings.setValue(QStringLiteral("password"), password);
    settings.setValue(QStringLiteral("caFile"), caFile);
    settings.setValue(QStringLiteral("bench"), bench);
    settings.setValue(QStringLiteral("showLab"), showLab);
    settings.endGroup();
}
