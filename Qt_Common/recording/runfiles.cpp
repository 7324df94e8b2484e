#include "runfiles.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <cstdarg>
#include <string>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cformat.h"

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

const char kUtf8Mark[] = "\xEF\xBB\xBF";

bool fitsLatin1(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

QByteArray withCrLf(const QByteArray& text) {
    QByteArray lines;
    lines.reserve(text.size() + text.count('\n'));
    for (char c : text) {
        if (c == '\n')
            lines.append('\r');
        lines.append(c);
    }
    return lines;
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
    // The wide call: user names (and so application directories) hold letters
    // that neither Latin-1 nor the ANSI code page can spell.
    std::wstring wideMode;
    for (const char* c = mode; *c; ++c)
        wideMode += wchar_t(*c);
    return _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), wideMode.c_str());
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
    const QByteArray lines = withCrLf(text);
    std::fwrite(lines.constData(), 1, size_t(lines.size()), file);
}

void textPrintf(FILE* file, const char* format, ...) {
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    std::string text;
    if (formatCLocale(&text, format, args))
        textWrite(file, QByteArray(text.data(), int(text.size())));
    va_end(args);
}

bool appendNotesFile(const QString& path, const QString& text) {
    QFile file(path);
    QByteArray existing;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return false;
        existing = file.readAll();
        file.close();
    }
    const bool utf8File = existing.startsWith(kUtf8Mark);
    if (utf8File || fitsLatin1(text)) {
        const QByteArray bytes = withCrLf(utf8File ? text.toUtf8() : text.toLatin1());
        return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
    }
    // The first character beyond Latin-1: the whole file becomes UTF-8, replaced at once.
    QSaveFile whole(path);
    const QByteArray bytes = QByteArray(kUtf8Mark) + QString::fromLatin1(existing).toUtf8() + withCrLf(text.toUtf8());
    return whole.open(QIODevice::WriteOnly) && whole.write(bytes) == bytes.size() && whole.commit();
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
