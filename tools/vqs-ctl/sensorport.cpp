// Resolving the PORT operand and opening the sensor's port with a reason on failure.
#include "sensorport.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "cli.h"
#include "portlister.h"
#include "vqs.h"

namespace {

struct ProblemEntry {
    PortProblem problem;
    const char* kind;  // the "problem" member of a --json error
    const char* text;
};
const ProblemEntry kProblems[] = {
    {PortProblem::None, "none", "cannot open the port"},
    {PortProblem::Missing, "no-such-port", "no such port"},
    {PortProblem::Busy, "busy", "port busy: another program has it open"},
#ifdef Q_OS_WIN
    {PortProblem::Denied, "permission-denied", "permission denied"},
#else
    {PortProblem::Denied, "permission-denied",
     "permission denied; add yourself to the dialout group: sudo usermod -aG dialout $USER, then log in again"},
#endif
    {PortProblem::NotSerial, "not-serial", "not a serial port"},
    {PortProblem::Other, "open-failed", "cannot open the port"},
};

const ProblemEntry& entryFor(PortProblem problem) {
    for (const ProblemEntry& entry : kProblems)
        if (entry.problem == problem)
            return entry;
    return kProblems[0];
}

bool looksLikePath(const QString& port) {
    return port.contains('/') || port.startsWith(QLatin1String("\\\\"));
}

bool samePath(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath();
    return a == b || (!ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath());
}

// A port that is not in the listing is still opened by its name.
void unlistedPort(const QString& port, PortTarget* target) {
    if (looksLikePath(port)) {
        target->path = port;
        return;
    }
#ifdef Q_OS_WIN
    const QRegularExpressionMatch com =
        QRegularExpression(QStringLiteral("^COM(\\d+)$"), QRegularExpression::CaseInsensitiveOption).match(port);
    if (com.hasMatch()) {
        target->comNumber = com.captured(1).toInt();
        return;
    }
    target->path = QStringLiteral("\\\\.\\") + port;
#else
    target->path = QStringLiteral("/dev/") + port;
#endif
}

QString openPath(const PortTarget& target) {
    return target.path.isEmpty() ? QStringLiteral("\\\\.\\COM%1").arg(target.comNumber) : target.path;
}

}  // namespace

QString framingName(int transport) {
    return transport == 0 ? QStringLiteral("usb") : transport == 1 ? QStringLiteral("uart") : QString();
}

QString problemText(PortProblem problem, const QString& systemText) {
    const QString text = QLatin1String(entryFor(problem).text);
    if ((problem == PortProblem::Other || problem == PortProblem::None) && !systemText.isEmpty())
        return text + QStringLiteral(" (") + systemText + ')';
    return text;
}

const char* problemKind(PortProblem problem) {
    return entryFor(problem).kind;
}

int resolvePort(const Args& args, const Output& out, PortTarget* target) {
    const QString port = args.positional.value(0);
    target->label = port;
    int listedTransport = -1;
    bool listed = false;
    const QList<PortCandidate> ports = PortLister::availablePorts();
    for (const PortCandidate& candidate : ports) {
        if (looksLikePath(port) ? samePath(candidate.path, port) : candidate.name == port) {
            listed = true;
            target->path = candidate.path;
            listedTransport = PortLister::classify(candidate);
            break;
        }
    }
    if (!listed)
        unlistedPort(port, target);
#ifdef Q_OS_WIN
    // The link opens COM ports by number, which also reaches COM10 and above.
    const QRegularExpressionMatch com = QRegularExpression(QStringLiteral("^COM(\\d+)$")).match(port);
    if (listed && com.hasMatch()) {
        target->comNumber = com.captured(1).toInt();
        target->path.clear();
    }
#endif

    if (args.has("uart"))
        target->transport = 1;
    else if (args.has("usb"))
        target->transport = 0;
    else
        target->transport = listedTransport;
    if (target->transport >= 0)
        return ExitOk;

    QString systemText;
    const PortProblem problem = listed ? PortProblem::None : diagnosePort(openPath(*target), &systemText);
    if (problem != PortProblem::None)
        return out.fail(ExitPortProblem, port, QLatin1String(problemKind(problem)), problemText(problem, systemText));
    return out.fail(ExitUsage, port, QStringLiteral("framing-unknown"),
                    QStringLiteral("not a known sensor port; give --uart or --usb"));
}

void aimSensor(const PortTarget& target, VQS& sensor) {
    sensor.transport = target.transport;
    if (target.path.isEmpty()) {
        sensor.portNumber = target.comNumber;
        sensor.portPath.clear();
    } else {
        sensor.portNumber = -1;
        sensor.portPath = target.path.toStdString();
    }
}

int openSensor(VQS& sensor, const PortTarget& target, const Output& out) {
    aimSensor(target, sensor);
    if (sensor.connect() == VQS_SUCCESS)
        return ExitOk;
    QString systemText;
    const PortProblem problem = diagnosePort(openPath(target), &systemText);
    return out.fail(ExitPortProblem, target.label, QLatin1String(problemKind(problem)),
                    problemText(problem, systemText));
}

int openPortOperand(const Args& args, const Output& out, PortTarget* target, VQS& sensor) {
    sensor.retryCount = 3;
    const int code = resolvePort(args, out, target);
    return code == ExitOk ? openSensor(sensor, *target, out) : code;
}
