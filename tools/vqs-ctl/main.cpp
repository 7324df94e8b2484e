// vqs-ctl: VQS sensors from the command line, for scripts and unattended bench runs.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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
    {"params set", runParamsSet}, {"firmware", runFirmware}, {"record", runRecord},
    {"plot", runPlot},
    {"analyse", runAnalyse},
};

// The first word that is not an option: the command.
bool commandIs(int argc, char** argv, const char* command) {
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-')
            return std::strcmp(argv[i], command) == 0;
    return false;
}

bool helpAsked(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

// A run draws its plots for the pictures it leaves beside the files, and plot
// draws saved runs: that needs a GUI application, offscreen, since vqs-ctl shows no window.
std::unique_ptr<QCoreApplication> makeGuiApplication(int& argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // The platform start-up looks into the session's runtime directory. Where the
    // environment names none (cron, services, nohup), Qt would make
    // /tmp/runtime-<user> and say so on stderr; an empty private directory stands
    // in for the start-up only and is gone right after.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/vqs-ctl-XXXXXX"));
        if (runtime.isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        auto app = std::make_unique<QApplication>(argc, argv);
        qunsetenv("XDG_RUNTIME_DIR");
        return app;
    }
#endif
    return std::make_unique<QApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    // Help needs no GUI application; a run and plot draw pictures and do.
    std::unique_ptr<QCoreApplication> app;
    if ((commandIs(argc, argv, "record") || commandIs(argc, argv, "plot")) && !helpAsked(argc, argv))
        app = makeGuiApplication(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
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
