// A private MQTT broker for a test or a benchmark: Debian's /usr/sbin/mosquitto
// on a free port of 127.0.0.1, configured in a temporary directory. It keeps
// sessions and retained messages across stop() and start() (persistence, saved
// on SIGTERM), and may require a user and password.
#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

class MqttBroker {
public:
    static constexpr const char* kProgram = "/usr/sbin/mosquitto";
    static bool available() { return QFileInfo(QLatin1String(kProgram)).isExecutable(); }

    // A port of 127.0.0.1 nobody listens on right now.
    static quint16 freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        quint16 port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    explicit MqttBroker(const QString& user = QString(), const QString& password = QString()) : port_(freePort()) {
        QStringList config{
            QStringLiteral("listener %1 127.0.0.1").arg(port_),
            QStringLiteral("persistence true"),
            QStringLiteral("persistence_location %1/").arg(dir_.path()),
            QStringLiteral("max_queued_messages 0"),
            QStringLiteral("log_dest file %1/broker.log").arg(dir_.path()),
            QStringLiteral("log_type all"),
        };
        // Started as root it would switch to the mosquitto user, who cannot write here.
        if (const passwd* me = ::getpwuid(::getuid()))
            config << QStringLiteral("user %1").arg(QString::fromLocal8Bit(me->pw_name));
        if (user.isEmpty()) {
            config << QStringLiteral("allow_anonymous true");
        } else {
            const QString file = dir_.filePath(QStringLiteral("passwords"));
            QProcess::execute(QStringLiteral("/usr/bin/mosquitto_passwd"), {"-c", "-b", file, user, password});
            config << QStringLiteral("allow_anonymous false") << QStringLiteral("password_file %1").arg(file);
        }
        QFile file(dir_.filePath(QStringLiteral("mosquitto.conf")));
        if (file.open(QIODevice::WriteOnly))
            file.write(config.join('\n').toUtf8() + '\n');
    }
    ~MqttBroker() { stop(); }

    quint16 port() const { return port_; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
    QString log() const {
        QFile file(dir_.filePath(QStringLiteral("broker.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Starts the broker and waits until its port takes connections.
    bool start() {
        // Its complaints (about running as root, say) go with its log, not into the test's output.
        process_.setStandardOutputFile(dir_.filePath(QStringLiteral("broker.out")), QIODevice::Append);
        process_.setStandardErrorFile(dir_.filePath(QStringLiteral("broker.out")), QIODevice::Append);
        process_.start(QLatin1String(kProgram), {"-c", dir_.filePath(QStringLiteral("mosquitto.conf"))});
        if (!process_.waitForStarted(10000))
            return false;
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
            if (accepts())
                return true;
            QThread::msleep(20);  // polling the port: the broker gives no other sign
        }
        return false;
    }

    // SIGTERM: the broker saves sessions and retained messages, then ends.
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(20000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

private:
    bool accepts() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port_);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        ::close(fd);
        return ok;
    }

    QTemporaryDir dir_;
    quint16 port_;
    QProcess process_;
};
