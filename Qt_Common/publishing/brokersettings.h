// Where a bench publishes and under which name: the broker's address, the
// credentials and the bench's name in the topics.
#pragma once

#include <QString>

class QSettings;

struct BrokerSettings {
    bool enabled = false;  // whether the program publishes at all (the settings dialog's switch)
    QString host;
    quint16 port = 1883;
    QString clientId;      // empty: this machine's host name
    QString user;
    QString password;
    bool tls = false;
    QString caFile;        // with tls; empty: the system's certificates
    QString bench;         // empty: the client id
    bool showLab = false;  // the All sensors panel shows every other bench of the broker too

    static constexpr quint16 kPlainPort = 1883;
    static constexpr quint16 kTlsPort = 8883;

    QString effectiveClientId() const;
    QString effectiveBench() const;
    // "mqtt://host:port" or "mqtts://host:port"; IPv6 addresses in brackets.
    QString url() const;

    // Takes host, port and TLS from "mqtt://host[:port]" or "mqtts://host[:port]"
    // (ports 1883 and 8883 by default). False with the reason in *error.
    bool setUrl(const QString& url, QString* error);
    // User, password and CA file from VQS_MQTT_USER, VQS_MQTT_PASSWORD and
    // VQS_MQTT_CAFILE where they are set (for the command-line tool).
    void readEnvironment();

    // The group "publish" of the program's settings. The password is kept there
    // as it is: protect the settings file as you would the password.
    static BrokerSettings load(QSettings& settings);
    void save(QSettings& settings) const;
};
