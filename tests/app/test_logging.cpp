// The log record formats, file naming and the handler's behaviour under threads and bad paths.
#include <QDir>
#include <QFile>
#include <QMessageLogContext>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <QtTest>

#include <cstdio>
#include <vector>

#include "logging.h"
#include "startup.h"

namespace {

QStringList readLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromLocal8Bit(f.readAll());
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

}  // namespace

class TestLogging : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString savedPath;

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        savedPath = logFilePath;
        logFilePath = dir.filePath("log_14_05_09.txt");
        QFile::remove(logFilePath);
    }

    void cleanup() { logFilePath = savedPath; }

    void recordPerMessageType()
    {
        const QMessageLogContext ctx("src/thing.cpp", 42, "void Thing::run(int)", "default");
        logMessageHandler(QtDebugMsg, ctx, "d text");
        logMessageHandler(QtInfoMsg, ctx, "i text");
        logMessageHandler(QtWarningMsg, ctx, "COM3 - error 7");
        logMessageHandler(QtCriticalMsg, ctx, "c text");
        logMessageHandler(static_cast<QtMsgType>(42), ctx, "o text");
        // Format characters in the message are text, not directives.
        logMessageHandler(QtInfoMsg, ctx, "100% %s %n");

        const QStringList expected = {
            "Debug: d text",
            "Info: i text",
            "Warning: COM3 - error 7 (src/thing.cpp:42, void Thing::run(int))",
            "Critical: c text (src/thing.cpp:42, void Thing::run(int))",
            "Other: o text (src/thing.cpp:42, void Thing::run(int))",
            "Info: 100% %s %n",
        };
        QCOMPARE(readLines(logFilePath), expected);
    }

    void multiLineMessagesStayOneRecord()
    {
        // A sensor's version text, a parameter document: one record each, whatever they hold.
        const QMessageLogContext ctx("src/thing.cpp", 42, "void Thing::run(int)", "default");
        logMessageHandler(QtInfoMsg, ctx, "S1 uartGetVersion Firmware: 4.1.0.0\r\nComment: x\r\nHardware: 2.1\r\n");
        logMessageHandler(QtWarningMsg, ctx, "\nS1 - two\n\n\nbreaks\rand a CR");
        logMessageHandler(QtDebugMsg, ctx, "\r\n");
        QCOMPARE(readLines(logFilePath),
                 QStringList({"Info: S1 uartGetVersion Firmware: 4.1.0.0 | Comment: x | Hardware: 2.1",
                              "Warning: S1 - two | breaks | and a CR (src/thing.cpp:42, void Thing::run(int))",
                              "Debug: "}));
    }

    void fatalRecord()
    {
        // The handler aborts after a fatal record, so check the record itself.
        std::FILE* f = std::tmpfile();
        QVERIFY(f);
        const QMessageLogContext ctx("a.cpp", 7, "int main()", "default");
        writeLogRecord(f, QtFatalMsg, ctx, "f text");
        std::rewind(f);
        char buf[128] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        QCOMPARE(QByteArray(buf, int(n)), QByteArray("Fatal: f text (a.cpp:7, int main())\n"));
    }

    void missingContextPrintsUnknown()
    {
        logMessageHandler(QtWarningMsg, QMessageLogContext(), "no context");
        logMessageHandler(QtCriticalMsg, QMessageLogContext("x.cpp", 3, nullptr, "default"), "no function");
        QCOMPARE(readLines(logFilePath),
                 QStringList({"Warning: no context (unknown:0, unknown)", "Critical: no function (x.cpp:3, unknown)"}));
    }

    void appendsToExistingFile()
    {
        // A second start at the same time of day shares the file.
        {
            QFile f(logFilePath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Info: earlier start\n");
        }
        logMessageHandler(QtInfoMsg, QMessageLogContext(), "later start");
        QCOMPARE(readLines(logFilePath), QStringList({"Info: earlier start", "Info: later start"}));
    }

    void fileNameFromStartTime()
    {
        QTemporaryDir app;
        QCOMPARE(prepareWorkingDirectories(app.path(), QTime(14, 5, 9)), app.path() + "/log/log_14_05_09.txt");
        QCOMPARE(prepareWorkingDirectories(app.path(), QTime(0, 0, 0)), app.path() + "/log/log_00_00_00.txt");
        QCOMPARE(prepareWorkingDirectories(app.path(), QTime(23, 59, 59)), app.path() + "/log/log_23_59_59.txt");
    }

    void unopenableFileDropsRecord()
    {
        logFilePath = dir.filePath("no/such/dir/log.txt");
        logMessageHandler(QtWarningMsg, QMessageLogContext(), "lost");
        QVERIFY(!QFile::exists(logFilePath));

        logFilePath = dir.path();  // a directory
        logMessageHandler(QtCriticalMsg, QMessageLogContext(), "lost");

        logFilePath.clear();  // before main has set it
        logMessageHandler(QtInfoMsg, QMessageLogContext(), "lost");
    }

    // A user whose name Latin-1 cannot spell: the log is still written, in UTF-8.
    void unicodePathAndText()
    {
        const QString user = QString::fromUtf8("\u0141ukasz \u041e\u043b\u0435\u0433 \u674e");
        QVERIFY(QDir(dir.path()).mkdir(user));
        logFilePath = dir.filePath(user + "/log_14_05_09.txt");
        logMessageHandler(QtInfoMsg, QMessageLogContext(), "run saved in " + user + QString::fromUtf8(" \u00b0C"));
        QFile file(logFilePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), ("Info: run saved in " + user + QString::fromUtf8(" \u00b0C\n")).toUtf8());
    }

    void threadsKeepRecordsWhole()
    {
        const int threads = 8;
        const int perThread = 400;
        const QString padding(200, 'x');
        const QtMessageHandler previous = qInstallMessageHandler(logMessageHandler);
        std::vector<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers.push_back(QThread::create([=] {
                for (int i = 0; i < perThread; ++i)
                    qWarning("T%d #%d %s", t, i, qPrintable(padding));
            }));
        }
        for (QThread* w : workers)
            w->start();
        for (QThread* w : workers) {
            w->wait();
            delete w;
        }
        qInstallMessageHandler(previous);

        const QStringList lines = readLines(logFilePath);
        QCOMPARE(lines.size(), threads * perThread);
        const QRegularExpression record("^Warning: T(\\d+) #(\\d+) (x+) \\((.+):(\\d+), (.+)\\)$");
        std::vector<int> next(threads, 0);
        for (const QString& line : lines) {
            const QRegularExpressionMatch m = record.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line.left(120)));
            QCOMPARE(m.captured(3), padding);
            const int t = m.captured(1).toInt();
            QVERIFY(t >= 0 && t < threads);
            // Each thread's records arrive whole and in its own order.
            QCOMPARE(m.captured(2).toInt(), next[t]++);
        }
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "test_logging.moc"
