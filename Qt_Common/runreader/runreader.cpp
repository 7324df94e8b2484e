#include "runreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// The time log's stamp: "%1_%2_%3 - %4_%5_%6".
QDateTime parseLogStamp(const QString& text) {
    return QDateTime::fromString(text, QStringLiteral("yyyy_MM_dd - HH_mm_ss"));
}

// The run directory's stamp: "%1_%2_%3-%4%5%6".
QDateTime parseDirectoryStamp(const QString& text) {
    return QDateTime::fromString(text, QStringLiteral("yyyy_MM_dd-HHmmss"));
}

RunEvent::Kind kindOf(const QString& text) {
    if (text == QLatin1String("Started"))
        return RunEvent::Started;
    if (text == QLatin1String("Stopped"))
        return RunEvent::Stopped;
    if (text == QLatin1String("Data saved"))
        return RunEvent::Saved;
    if (text.contains(QLatin1String("Re-established"), Qt::CaseInsensitive))
        return RunEvent::ConnectionBack;
    // The worker gives up with "Re-connection failed"; a lost link may also be logged as such.
    if (text.contains(QLatin1String("Re-connection failed"), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("Connection Lost"), Qt::CaseInsensitive))
        return RunEvent::ConnectionLost;
    return RunEvent::Other;
}

// The table in chunks: a million rows never exist as one piece of text.
bool readTable(const QString& path, RunTable* table) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    RunTableParser parser;
    // Rows are about 70 bytes: room for the whole table up front.
    const qint64 expectedRows = file.size() / 60 + 1;
    const size_t reserve = size_t(std::min<qint64>(expectedRows, 50'000'000));
    parser.table.seconds.reserve(reserve);
    parser.table.cycle.reserve(reserve);
    parser.table.temperature.reserve(reserve);
    parser.table.pressure.reserve(reserve);
    parser.table.humidity.reserve(reserve);
    parser.table.gasId.reserve(reserve);
    parser.table.concentration.reserve(reserve);
    parser.table.lineOffsets.reserve(reserve);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 n = file.read(buffer.data(), qint64(buffer.size()));
        if (n <= 0)
            break;
        parser.feed(buffer.data(), size_t(n));
    }
    parser.finish();
    *table = std::move(parser.table);
    // Give back what the estimate reserved too much.
    for (auto* column : {&table->temperature, &table->pressure, &table->humidity, &table->concentration})
        column->shrink_to_fit();
    table->seconds.shrink_to_fit();
    table->cycle.shrink_to_fit();
    table->gasId.shrink_to_fit();
    table->lineOffsets.shrink_to_fit();
    return true;
}

QByteArray readSmallFile(const QString& path, bool* exists) {
    QFile file(path);
    *exists = file.open(QIODevice::ReadOnly);
    // Time logs and notes are a few lines; a huge one is not ours to load whole.
    return *exists ? file.read(16 << 20) : QByteArray();
}

}  // namespace

QString RunEvent::label() const {
    switch (kind) {
        case Started:
            return QStringLiteral("Start");
        case Stopped:
            return QStringLiteral("Stop");
        case Saved:
            return QStringLiteral("Saved");
        case ConnectionLost:
            return QStringLiteral("Connection lost");
        case ConnectionBack:
            return QStringLiteral("Re-established");
        case Other:
            break;
    }
    return text.left(30);
}

QList<RunEvent> parseTimeLog(const QByteArray& text, int* skipped) {
    static const QRegularExpression line(QStringLiteral("^(\\d{4,}_\\d\\d_\\d\\d - \\d\\d_\\d\\d_\\d\\d): (.*)$"));
    QList<RunEvent> events;
    int bad = 0;
    for (QByteArray raw : text.split('\n')) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (raw.trimmed().isEmpty())
            continue;
        const QRegularExpressionMatch match = line.match(QString::fromLatin1(raw));
        const QDateTime when = match.hasMatch() ? parseLogStamp(match.captured(1)) : QDateTime();
        if (!when.isValid()) {
            ++bad;
            continue;
        }
        RunEvent event;
        event.when = when;
        event.text = match.captured(2);
        event.kind = kindOf(event.text);
        events.append(event);
    }
    if (skipped)
        *skipped = bad;
    return events;
}

QString Run::title() const {
    const QString when = started.isValid() ? started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
    return when.isEmpty() ? sensorName : sensorName + ' ' + when;
}

double Run::secondsOf(const RunEvent& event) const {
    if (!started.isValid() || !event.when.isValid())
        return std::numeric_limits<double>::quiet_NaN();
    return double(started.msecsTo(event.when)) / 1000.0;
}

Run readRun(const QString& directory) {
    Run run;
    const QFileInfo info(directory);
    run.directory = info.absoluteFilePath();
    const QDir dir(run.directory);

    // "<stamp> <sensor>" as the run directory was made, or "<stamp> <sensor>_<test>" as saved.
    static const QRegularExpression named(QStringLiteral("^(\\d{4}_\\d\\d_\\d\\d-\\d{6}) (.+)$"));
    const QRegularExpressionMatch match = named.match(info.fileName());
    run.sensorName = match.hasMatch() ? match.captured(2) : info.fileName();
    const QDateTime directoryStamp = match.hasMatch() ? parseDirectoryStamp(match.captured(1)) : QDateTime();

    if (!info.isDir()) {
        run.nothingToShow = QStringLiteral("%1: no such directory").arg(directory);
        return run;
    }

    bool exists = false;
    const QByteArray notes = readSmallFile(dir.filePath(QStringLiteral("testNotes.txt")), &exists);
    if (exists) {
        // Latin-1 as always, or UTF-8 behind a byte-order mark once a note held
        // a character Latin-1 lacks.
        run.notes = (notes.startsWith("\xEF\xBB\xBF") ? QString::fromUtf8(notes.mid(3)) : QString::fromLatin1(notes))
                        .remove('\r');
        static const QRegularExpression testName(QStringLiteral("^Test Name: (.*)$"),
                                                 QRegularExpression::MultilineOption);
        const QRegularExpressionMatch name = testName.match(run.notes);
        if (name.hasMatch())
            run.testName = name.captured(1).trimmed();
        const QString suffix = '_' + run.testName;
        if (!run.testName.isEmpty() && run.sensorName.endsWith(suffix) && run.sensorName.size() > suffix.size())
            run.sensorName.chop(suffix.size());
    }

    const QByteArray log = readSmallFile(dir.filePath(QStringLiteral("timelog.txt")), &exists);
    if (exists) {
        int skipped = 0;
        run.events = parseTimeLog(log, &skipped);
        if (skipped > 0)
            run.problems << QStringLiteral("timelog.txt: skipped %1 line%2 without a time stamp")
                                .arg(skipped)
                                .arg(skipped == 1 ? "" : "s");
    }
    for (const RunEvent& event : qAsConst(run.events)) {
        if (event.kind == RunEvent::Started) {
            run.started = event.when;
            break;
        }
    }
    // A saved directory's stamp is the time of saving, so the time log comes first.
    if (!run.started.isValid())
        run.started = directoryStamp;

    const QString tablePath = dir.filePath(QStringLiteral("vqsData.csv"));
    if (!QFileInfo::exists(tablePath)) {
        run.nothingToShow = QStringLiteral("%1: no vqsData.csv, not a run directory").arg(directory);
        return run;
    }
    if (!readTable(tablePath, &run.table)) {
        run.nothingToShow = QStringLiteral("%1: vqsData.csv cannot be read").arg(tablePath);
        return run;
    }
    const QString summary = run.table.skippedSummary();
    if (!summary.isEmpty())
        run.problems.prepend(QStringLiteral("vqsData.csv: ") + summary);
    if (!run.hasRows()) {
        if (run.table.lineCount == 0)
            run.nothingToShow = QStringLiteral("%1: vqsData.csv is empty").arg(directory);
        else if (run.table.skippedCount == 0 && run.table.cutShortLine == 0)
            run.nothingToShow = QStringLiteral("%1: vqsData.csv has no rows (the run recorded no cycle)").arg(directory);
        else
            run.nothingToShow = QStringLiteral("%1: vqsData.csv has no readable row (%2)").arg(directory, summary);
    }
    return run;
}
