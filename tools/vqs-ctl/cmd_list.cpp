// list [--probe]: the serial ports that may carry a sensor, by the page's rules.
#include <QJsonArray>
#include <QJsonObject>

#include "cli.h"
#include "commands.h"
#include "portlister.h"
#include "sensorport.h"
#include "vqs.h"

namespace {

// Asks the port for its sensor's name as the page's scan does: version, then name, no retries.
// Returns the name, or empty with the reason in *problem.
QString probe(const PortTarget& target, QString* problem) {
    VQS sensor;
    sensor.retryCount = 0;
    aimSensor(target, sensor);
    if (sensor.connect() != VQS_SUCCESS) {
        QString systemText;
        *problem = QLatin1String(problemKind(diagnosePort(target.path, &systemText)));
        return QString();
    }
    QString name;
    if (sensor.getVersion() == VQS_SUCCESS && sensor.getSensorName() == VQS_SUCCESS)
        name = QString::fromLatin1(sensor.sensorName);
    else
        *problem = QStringLiteral("no-answer");
    sensor.disconnect();
    return name;
}

}  // namespace

int runList(const Args& args, const Output& out) {
    QJsonArray ports;
    const QList<PortCandidate> candidates = PortLister::availablePorts();
    for (const PortCandidate& candidate : candidates) {
        const int transport = PortLister::classify(candidate);
        if (transport < 0)
            continue;
        QJsonObject entry{{QStringLiteral("port"), candidate.name},
                          {QStringLiteral("path"), candidate.path},
                          {QStringLiteral("framing"), framingName(transport)},
                          {QStringLiteral("description"), candidate.description}};
        QString shown = candidate.description;
        if (args.has("probe")) {
            PortTarget target;
            target.label = candidate.name;
            target.path = candidate.path;
            target.transport = transport;
            QString problem;
            const QString name = probe(target, &problem);
            entry.insert(QStringLiteral("sensor"), name.isEmpty() ? QJsonValue() : QJsonValue(name));
            if (!problem.isEmpty())
                entry.insert(QStringLiteral("problem"), problem);
            shown = name.isEmpty() ? QStringLiteral("(%1)").arg(problem) : name;
        }
        ports.append(entry);
        // Quiet and probing: only the ports where a sensor answered, ready for a loop in a script.
        if (args.has("quiet")) {
            if (!args.has("probe") || !entry.value(QStringLiteral("sensor")).isNull())
                out.line(candidate.name);
        }
        else
            out.line(QStringLiteral("%1  %2  %3").arg(candidate.name, -10).arg(framingName(transport), -4).arg(shown));
    }
    if (out.json())
        out.document(ports);
    else if (ports.isEmpty() && !args.has("quiet"))
        out.note(QStringLiteral("no serial port that may carry a sensor"));
    return ExitOk;
}
