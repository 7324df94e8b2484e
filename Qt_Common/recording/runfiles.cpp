#include "runfiles.h"

#include <QByteArray>
#include <QFile>

#include <cstdarg>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#include <vector>

namespace {

// Year (at least 4 digits), month, day, hour, minute, second, zero-padded, into a pattern.
QString stamp(const QString& pattern, const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    return pattern.arg(d.year(), 4, 10, QChar('0'))
        .arg(d.month(), 2, 10, QChar('0'))
        .arg(d.day(), 2, 10, QChar('0'))
        .arg(t.hour(), 2, 10, QChar('0'))
        .arg(t.minute(), 2, 10, QChar('0'))
        .arg(t.second(), 2, 10, QChar('0'));
}

}  // namespace

QString runDateStamp(const QDateTime& when) {
    return stamp(QStringLiteral("%1_%2_%3-%4%5%6"), when);
}

QString timeLogStamp(const QDateTime& when) {
    return stamp(QStringLiteral("%1_%2_%3 - %4_%5_%6"), when);
}

QString safeNamePart(const QString& name) {
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    QString safe = name;
    for (QChar& c : safe) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() > 0xFF || forbidden.contains(c))
            c = QChar('_');
    }
    while (safe.contains(QLatin1String("..")))
        safe.replace(QLatin1String(".."), QLatin1String("__"));
    return safe;
}

FILE* openFile(const QString& path, const char* mode) {
#ifdef _WIN32
    return std::fopen(path.toLatin1().constData(), mode);
#else
    return std::fopen(QFile::encodeName(path).constData(), mode);
#endif
}

void closeFile(FILE*& file) {
    if (file)
        std::fclose(file);
    file = nullptr;
}

void textWrite(FILE* file, const QByteArray& text) {
    if (!file)
        return;
    QByteArray lines;
    lines.reserve(text.size() + text.count('\n'));
    for (char c : text) {
        if (c == '\n')
            lines.append('\r');
        lines.append(c);
    }
    std::fwrite(lines.constData(), 1, size_t(lines.size()), file);
}

void textPrintf(FILE* file, const char* format, ...) {
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length >= 0) {
        std::vector<char> text(size_t(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        textWrite(file, QByteArray(text.data(), length));
    }
    va_end(args);
}

bool copyVerified(const QString& source, const QString& destination) {
    if (!QFile::copy(source, destination))
        return false;
    QFile original(source);
    QFile copy(destination);
    if (!original.open(QIODevice::ReadOnly) || !copy.open(QIODevice::ReadOnly))
        return false;
    if (original.size() != copy.size())
        return false;
    while (!original.atEnd()) {
        const QByteArray a = original.read(1 << 16);
        if (a != copy.read(a.size()))
            return false;
    }
    // On disk before the caller deletes the original.
#ifdef _WIN32
    return _commit(copy.handle()) == 0;
#else
    return ::fsync(copy.handle()) == 0;
#endif
}
