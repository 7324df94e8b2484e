// Publishes one sensor as a bench does, then runs until killed:
//   publishing_helper URL BENCH SENSOR
// Prints "connected" once the broker took the connection.
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

#include "publisher.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    BrokerSettings settings;
    QString error;
    if (!settings.setUrl(args.at(1), &error))
        return 2;
    settings.clientId = args.at(2);
    Publisher publisher(settings);
    QObject::connect(&publisher, &Publisher::statusChanged, [](bool connected, const QString&) {
        if (connected) {
            std::puts("connected");
            std::fflush(stdout);
        }
    });
    IdentityMessage identity;
    identity.sensor = args.at(3);
    identity.type = QStringLiteral("VQS Flam. Gas");
    publisher.publishIdentity(identity);
    publisher.publishState(args.at(3), SensorState::Running);
    publisher.start();
    return app.exec();
}
