// vqs-ctl's command line: the parsed arguments, the exit codes and the way
// results and errors are printed (plain text for people, --json for scripts).
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>

// What a script can rely on; listed in every --help.
enum ExitCode {
    ExitOk = 0,
    ExitSensorFailed = 1,  // no answer, refused, not confirmed, self-test failed, firmware not written
    ExitUsage = 2,         // bad arguments, or a file that cannot be used
    ExitPortProblem = 3,   // the port cannot be opened: no such port, busy, permission denied
};

struct Args {
    QString command;         // "list", "identify", "params get", "params set", "firmware", ...
    QStringList positional;  // PORT, FILE, IMAGE
    QSet<QString> flags;     // long option names without dashes: "json", "uart", "dry-run", ...
    QHash<QString, QString> values;  // options that take a value ("--name VALUE" or "--name=VALUE")

    bool has(const char* flag) const { return flags.contains(QLatin1String(flag)); }
    QString value(const char* option) const { return values.value(QLatin1String(option)); }
};

// Parses argv after the program name. On a usage error returns false with the
// message in *error; *args->command tells which help to show (may be empty).
bool parseArgs(const QStringList& argv, Args* args, QString* error);

// The help text of a command ("" for the overview).
QString helpText(const QString& command);

// The longest --duration taken; a run planned for longer is a typing error.
constexpr qint64 kMaxDurationMs = 36525LL * 24 * 3600 * 1000;  // 100 years
// A --duration ("90", "90s", "15m", "24h", "1.5h", "30d") in milliseconds; on
// a text that is no duration, or none between 1 ms and kMaxDurationMs, -1
// with the reason in *error.
qint64 parseDuration(const QString& text, QString* error);

// Whether a command draws pictures, which needs a GUI application: given the
// whole parsed command line, so options may stand before the command.
bool needsGuiApplication(const Args& args);

class Output {
public:
    explicit Output(bool json) : json_(json) {}
    bool json() const { return json_; }

    // One line to stdout in plain mode; nothing in --json mode.
    void line(const QString& text) const;
    // The single JSON document of a --json run.
    void document(const QJsonValue& value) const;
    // Progress and notes for a person: stderr, so stdout stays the result.
    void note(const QString& text) const;

    // A one-line error on stderr ("vqs-ctl: <port>: <text>"); in --json mode also
    // {"error": text, "problem": kind, "port": port} on stdout. Returns `code`.
    int fail(int code, const QString& port, const QString& kind, const QString& text) const;
    // The same for a file the user named (FILE, IMAGE): "vqs-ctl: <file>: <text>",
    // in --json mode {"error": text, "problem": "file", "file": file}.
    int failFile(int code, const QString& file, const QString& text) const;

private:
    int report(int code, const QString& field, const QString& where, const QString& kind, const QString& text) const;

    bool json_;
};
