// vqs-ctl: VQS sensors from the command line, for scripts and unattended bench runs.
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "vqs.h"

namespace {

bool verboseLog = false;

// The sensor library logs every step; a script wants only the result, unless asked.
void logHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (!verboseLog)
        return;
    const int savedErrno = errno;
    static const char* const kLevel[] = {"debug", "warning", "critical", "fatal", "info"};
    const int level = static_cast<int>(type);
    std::fprintf(stderr, "[%s] %s\n", level >= 0 && level <= 4 ? kLevel[level] : "log", qPrintable(message));
    errno = savedErrno;
}

struct Dispatch {
    const char* command;
    int (*run)(const Args&, const Output&);
};
const Dispatch kDispatch[] = {
    {"list", runList}, {"identify", runIdentify}, {"params get", runParamsGet},
    {"params set", runParamsSet}, {"firmware", runFirmware},
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vqs-ctl"));
    qInstallMessageHandler(logHandler);

    Args args;
    QString error;
    const bool parsed = parseArgs(QCoreApplication::arguments().mid(1), &args, &error);
    const Output out(args.has("json"));
    if (!parsed) {
        const QString help = args.command.isEmpty() ? QStringLiteral("vqs-ctl --help")
                                                    : QStringLiteral("vqs-ctl %1 --help").arg(args.command);
        return out.fail(ExitUsage, QString(), QStringLiteral("usage"), error + QStringLiteral(" (see ") + help + ')');
    }
    if (args.command == QLatin1String("help") || args.has("help")) {
        const QString topic = args.command == QLatin1String("help") ? args.positional.join(' ') : args.command;
        const QString text = helpText(topic);
        if (text.isEmpty())
            return out.fail(ExitUsage, QString(), QStringLiteral("usage"),
                            QStringLiteral("no help on '%1' (see vqs-ctl --help)").arg(topic));
        std::fputs(qPrintable(text), stdout);
        return ExitOk;
    }
    if (args.command == QLatin1String("version")) {
        std::printf("vqs-ctl %s\n", appVersion);
        return ExitOk;
    }
    verboseLog = args.has("verbose");
    for (const Dispatch& entry : kDispatch)
        if (args.command == QLatin1String(entry.command))
            return entry.run(args, out);
    return out.fail(ExitUsage, QString(), QStringLiteral("usage"), QStringLiteral("unknown command"));
}
