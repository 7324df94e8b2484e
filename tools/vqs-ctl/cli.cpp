// Argument parsing and output for vqs-ctl.
#include "cli.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cstdio>
#include <limits>

namespace {

struct CommandForm {
    const char* name;
    int minPositional;
    int maxPositional;  // -1: any number
    const char* flags;  // allowed besides the common ones, space-separated; "name=" takes a value
};

// Options every command takes.
const char* const kCommonFlags = "json help verbose";

const CommandForm kCommands[] = {
    {"list", 0, 0, "probe quiet"},
    {"identify", 1, 1, "uart usb"},
    {"params get", 1, 1, "uart usb"},
    {"params set", 2, 2, "uart usb dry-run keep-identity"},
    {"firmware", 2, 2, "uart usb"},
    {"record", 1, -1, "uart usb cycles= duration= dir= mqtt="},
    {"plot", 1, -1, "out="},
    {"analyse", 1, 1, "baseline= window= band= hold= smooth="},
    {"watch", 0, 0, "mqtt= count= duration="},
    {"help", 0, 2, ""},
    {"version", 0, 0, ""},
};

struct ShortOption {
    const char* text;
    const char* flag;
};
const ShortOption kShortOptions[] = {{"-h", "help"}, {"-q", "quiet"}, {"-v", "verbose"}};

const CommandForm* findCommand(const QString& name) {
    for (const CommandForm& form : kCommands)
        if (name == QLatin1String(form.name))
            return &form;
    return nullptr;
}

// Whether any command declares the option with a value ("name=").
bool takesValue(const QString& flag) {
    for (const CommandForm& form : kCommands)
        if (QString::fromLatin1(form.flags).split(' ').contains(flag + '='))
            return true;
    return false;
}

QStringList allowedOptions(const CommandForm& form) {
    return QString::fromLatin1(kCommonFlags).split(' ') + QString::fromLatin1(form.flags).split(' ', Qt::SkipEmptyParts);
}

// "--json" -> "json"; "-q" -> "quiet"; empty for an unknown short option.
QString flagName(const QString& option) {
    if (option.startsWith(QLatin1String("--")))
        return option.mid(2);
    for (const ShortOption& entry : kShortOptions)
        if (option == QLatin1String(entry.text))
            return QLatin1String(entry.flag);
    return QString();
}

void writeOut(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

bool parseArgs(const QStringList& argv, Args* args, QString* error) {
    // Options may stand anywhere; an option that takes a value takes the next argument
    // unless given as --name=value.
    QStringList words;
    QStringList given;  // options as written, for messages
    bool optionsEnded = false;
    for (int i = 0; i < argv.size(); ++i) {
        const QString& arg = argv.at(i);
        if (optionsEnded || !arg.startsWith('-') || arg.size() < 2) {
            words.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const int equals = arg.indexOf('=');
        const QString flag = flagName(equals > 0 ? arg.left(equals) : arg);
        if (flag.isEmpty()) {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
        given.append(flag);
        if (takesValue(flag)) {
            if (equals < 0 && i + 1 >= argv.size()) {
                *error = QStringLiteral("%1 needs a value").arg(arg);
                return false;
            }
            args->values.insert(flag, equals > 0 ? arg.mid(equals + 1) : argv.at(++i));
        } else if (equals > 0) {
            *error = QStringLiteral("%1 takes no value").arg(arg.left(equals));
            return false;
        } else {
            args->flags.insert(flag);
        }
    }

    if (words.isEmpty()) {
        if (args->has("help") && given.size() == 1) {
            args->command = QStringLiteral("help");
            return true;
        }
        if (args->has("version") && given.size() == 1) {
            args->command = QStringLiteral("version");
            return true;
        }
        *error = QStringLiteral("no command given");
        return false;
    }
    args->command = words.takeFirst();
    if (args->command == QLatin1String("params")) {
        if (words.isEmpty() || (words.first() != QLatin1String("get") && words.first() != QLatin1String("set"))) {
            if (args->has("help"))
                return true;  // the help of both forms
            *error = QStringLiteral("params needs get or set");
            return false;
        }
        args->command += ' ' + words.takeFirst();
    }
    const CommandForm* form = findCommand(args->command);
    if (!form) {
        *error = QStringLiteral("unknown command '%1'").arg(args->command);
        args->command.clear();
        return false;
    }
    const QStringList allowed = allowedOptions(*form);
    for (const QString& flag : qAsConst(given)) {
        if (!allowed.contains(flag) && !allowed.contains(flag + '=')) {
            *error = QStringLiteral("%1 does not take --%2").arg(args->command, flag);
            return false;
        }
    }
    args->positional = words;
    if (args->has("help"))
        return true;  // help needs no operands
    if (words.size() < form->minPositional) {
        *error = QStringLiteral("%1: missing operand").arg(args->command);
        return false;
    }
    if (form->maxPositional >= 0 && words.size() > form->maxPositional) {
        *error = QStringLiteral("%1: unexpected operand '%2'").arg(args->command, words.at(form->maxPositional));
        return false;
    }
    if (args->has("uart") && args->has("usb")) {
        *error = QStringLiteral("give --uart or --usb, not both");
        return false;
    }
    return true;
}

qint64 parseDuration(const QString& text, QString* error) {
    static const QRegularExpression form(QStringLiteral("^(\\d+(?:\\.\\d+)?)\\s*([smhd]?)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch()) {
        *error = QStringLiteral("--duration needs a time such as 90s, 15m, 24h or 30d, not '%1'").arg(text);
        return -1;
    }
    struct Unit {
        const char* suffix;
        double ms;
    };
    static const Unit kUnits[] = {{"", 1e3}, {"s", 1e3}, {"m", 6e4}, {"h", 3.6e6}, {"d", 8.64e7}};
    // The form admits digits only: a number that does not convert overflowed.
    bool converted = false;
    double ms = match.captured(1).toDouble(&converted);
    if (!converted)
        ms = std::numeric_limits<double>::infinity();
    for (const Unit& unit : kUnits)
        if (match.captured(2) == QLatin1String(unit.suffix))
            ms *= unit.ms;
    // Compared as a double first: a number of many digits is far beyond what qint64 holds.
    if (!(ms <= double(kMaxDurationMs))) {
        *error = QStringLiteral("--duration %1 is longer than 100 years").arg(text);
        return -1;
    }
    if (qint64(ms) < 1) {
        *error = QStringLiteral("--duration needs a time above 0");
        return -1;
    }
    return qint64(ms);
}

bool needsGuiApplication(const Args& args) {
    // Help is text only; a run draws its plots for the pictures it leaves, plot draws saved runs.
    return !args.has("help") &&
           (args.command == QLatin1String("record") || args.command == QLatin1String("plot"));
}

void Output::line(const QString& text) const {
    if (!json_)
        writeOut(stdout, text + '\n');
}

void Output::document(const QJsonValue& value) const {
    const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    writeOut(stdout, QString::fromUtf8(doc.toJson(QJsonDocument::Indented)));
}

void Output::note(const QString& text) const {
    writeOut(stderr, text + '\n');
}

int Output::fail(int code, const QString& port, const QString& kind, const QString& text) const {
    return report(code, QStringLiteral("port"), port, kind, text);
}

int Output::failFile(int code, const QString& file, const QString& text) const {
    return report(code, QStringLiteral("file"), file, QStringLiteral("file"), text);
}

int Output::report(int code, const QString& field, const QString& where, const QString& kind,
                   const QString& text) const {
    const QString prefix = where.isEmpty() ? QString() : where + QStringLiteral(": ");
    writeOut(stderr, QStringLiteral("vqs-ctl: %1%2\n").arg(prefix, text));
    if (json_) {
        QJsonObject object{{QStringLiteral("error"), text}, {QStringLiteral("problem"), kind}};
        if (!where.isEmpty())
            object.insert(field, where);
        document(object);
    }
    return code;
}
