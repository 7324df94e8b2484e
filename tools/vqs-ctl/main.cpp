// vqs-ctl: VQS sensors from the command line, for scripts and unattended bench runs.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "vqs.h"

namespace {

bool verboseLog = false;

// The sensor library logs every step; a script wants only the result, unless asked.
void logHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    // A fatal message ends the program: never without a word.
    if (!verboseLog && type != QtFatalMsg)
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
    {"watch", runWatch},
};

// The command line as bytes, before any application exists to decode it: only
// its structure (dashes, "=", which word stands where) decides how to start,
// and Latin-1 keeps every byte as one character.
QStringList rawArguments(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromLatin1(argv[i]));
    return words;
}

// Words the toolkit's start-up takes out of the command line for itself, with
// one dash or two ("-platform" even ends the program on a name it does not
// know). vqs-ctl has no option of these names, so here one can only be the
// value of an option or an operand after "--": it is refused, never handed on.
bool toolkitWord(const QString& word) {
    static const char* const kWords[] = {
        "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowtitle",
        "qwindowicon", "geometry", "title", "icon", "display", "reverse", "testability", "session",
        "style", "stylesheet", "widgetcount", "qmljsdebugger", "nograb", "dograb", "name"};
    if (!word.startsWith('-'))
        return false;
    const QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1).section('=', 0, 0);
    for (const char* known : kWords)
        if (name == QLatin1String(known))
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
    // The whole command line is read before anything starts: the kind of
    // application follows from the command wherever it stands among the options.
    const QStringList raw = rawArguments(argc, argv);
    Args early;
    QString error;
    const bool parsedEarly = parseArgs(raw, &early, &error);
    QString toolkitArgument;
    for (const QString& word : raw)
        if (toolkitArgument.isEmpty() && toolkitWord(word))
            toolkitArgument = word;
    // Installed first, so the application's own start-up is quiet too.
    verboseLog = early.has("verbose");
    qInstallMessageHandler(logHandler);

    std::unique_ptr<QCoreApplication> app;
    if (parsedEarly && toolkitArgument.isEmpty() && needsGuiApplication(early))
        app = makeGuiApplication(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vqs-ctl"));

    // Read again as the application decodes it (the platform's own encoding).
    Args args;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    bool parsed = parseArgs(arguments, &args, &error);
    if (parsed && !toolkitArgument.isEmpty()) {
        parsed = false;
        error = QStringLiteral("%1 is reserved for the Qt toolkit; give a file of that name as ./%1")
                    .arg(toolkitArgument);
    } else if (parsed && arguments.size() != raw.size()) {
        parsed = false;
        error = QStringLiteral("the Qt toolkit took an argument for itself");
    }
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
    for (const Dispatch& entry : kDispatch)
        if (args.command == QLatin1String(entry.command))
            return entry.run(args, out);
    return out.fail(ExitUsage, QString(), QStringLiteral("usage"), QStringLiteral("unknown command"));
}
