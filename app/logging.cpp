#include "logging.h"

#include <QByteArray>
#include <QMessageLogContext>

#include <cstdlib>
#include <mutex>

#include "runfiles.h"

QString logFilePath;

namespace {

struct RecordFormat {
    QtMsgType type;
    const char* format;
    bool withContext;  // debug and info show the message alone
};

const RecordFormat recordFormats[] = {
    {QtDebugMsg, "Debug: %s\n", false},
    {QtInfoMsg, "Info: %s\n", false},
    {QtWarningMsg, "Warning: %s (%s:%u, %s)\n", true},
    {QtCriticalMsg, "Critical: %s (%s:%u, %s)\n", true},
    {QtFatalMsg, "Fatal: %s (%s:%u, %s)\n", true},
};

const RecordFormat otherFormat = {QtMsgType(-1), "Other: %s (%s:%u, %s)\n", true};

const RecordFormat& formatFor(QtMsgType type)
{
    for (const RecordFormat& f : recordFormats) {
        if (f.type == type)
            return f;
    }
    return otherFormat;
}

// Every thread that logs goes through here; one record at a time keeps lines
// whole and no thread ever sees another's half-closed handle.
std::mutex logMutex;

}  // namespace

QByteArray oneLogLine(const QByteArray& text)
{
    auto isBreak = [](char c) { return c == '\n' || c == '\r'; };
    int begin = 0;
    int end = text.size();
    while (begin < end && isBreak(text[begin]))
        ++begin;
    while (end > begin && isBreak(text[end - 1]))
        --end;
    QByteArray line;
    line.reserve(end - begin);
    for (int i = begin; i < end; ++i) {
        if (!isBreak(text[i])) {
            line += text[i];
            continue;
        }
        while (i + 1 < end && isBreak(text[i + 1]))
            ++i;
        line += " | ";
    }
    return line;
}

void writeLogRecord(std::FILE* file, QtMsgType type, const QMessageLogContext& context, const QByteArray& text)
{
    // Line breaks are byte values that never occur inside a multi-byte
    // character, so this holds for any encoding of the text.
    const QByteArray message = text.contains('\n') || text.contains('\r') ? oneLogLine(text) : text;
    const RecordFormat& f = formatFor(type);
    if (!f.withContext) {
        std::fprintf(file, f.format, message.constData());
        return;
    }
    // Release builds of Qt code may carry no context at all.
    const char* sourceFile = context.file ? context.file : "unknown";
    const char* function = context.function ? context.function : "unknown";
    std::fprintf(file, f.format, message.constData(), sourceFile, static_cast<unsigned>(context.line), function);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // UTF-8 text, opened by its Unicode path: user names and sensor texts keep every letter.
    const QByteArray text = message.toUtf8();
    {
        std::lock_guard<std::mutex> lock(logMutex);
        // Opened and closed per record, so the file is complete up to the last
        // message whenever the process dies. A file that cannot be opened loses
        // the record; there is nowhere else to report it.
        if (std::FILE* file = logFilePath.isEmpty() ? nullptr : openFile(logFilePath, "a")) {
            writeLogRecord(file, type, context, text);
            std::fclose(file);
        }
    }
    if (type == QtFatalMsg)
        std::abort();
}
