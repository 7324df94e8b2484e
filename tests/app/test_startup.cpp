// Start-up: working directories, fonts, title, and the built program run offscreen.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>
#include <QtTest>

#include "startup.h"

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void makesWorkingDirectories()
    {
        QTemporaryDir app;
        QVERIFY(app.isValid());
        // An existing directory and its contents are kept.
        QVERIFY(QDir(app.path()).mkdir("enc"));
        QFile kept(app.filePath("enc/kept.bin"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.close();

        prepareWorkingDirectories(app.path(), QTime(9, 30, 0));
        for (const char* name : {"TempData", "enc", "log"})
            QVERIFY2(QFileInfo(app.filePath(name)).isDir(), name);
        QVERIFY(QFile::exists(app.filePath("enc/kept.bin")));
    }

    void missingApplicationDirectoryIsNotCreated()
    {
        // Single-level creation: a missing parent is not made, and nothing fails loudly.
        QTemporaryDir base;
        const QString app = base.filePath("gone");
        QCOMPARE(prepareWorkingDirectories(app, QTime(1, 2, 3)), app + "/log/log_01_02_03.txt");
        QVERIFY(!QFileInfo::exists(app));
    }

    void titleAndFonts()
    {
        QCOMPARE(mainWindowTitle(), QString::fromUtf8("VQS\u2122 Sensor Interface - V1.8.0.3"));
        QCOMPARE(registerApplicationFonts(), 4);
        QVERIFY(QFontDatabase().families().contains("Quicksand"));
    }

    void programStartsAndLogs()
    {
        const QString built = QStringLiteral(VQS_BINARY_DIR "/bin/vqs-sensor-interface");
        QVERIFY2(QFileInfo(built).isExecutable(), qPrintable(built));
        QTemporaryDir app;
        QVERIFY(app.isValid());
        const QString exe = app.filePath("vqs-sensor-interface");
        QVERIFY(QFile::copy(built, exe));

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        const QTime before = QTime::currentTime();
        program.start(exe, QStringList());
        QVERIFY(program.waitForStarted());

        const QDir logDir(app.filePath("log"));
        QTRY_VERIFY_WITH_TIMEOUT(!logDir.entryList({"log_*.txt"}, QDir::Files).isEmpty(), 20000);
        const QTime after = QTime::currentTime();
        QVERIFY(QFileInfo(app.filePath("TempData")).isDir());
        QVERIFY(QFileInfo(app.filePath("enc")).isDir());

        const QStringList logs = logDir.entryList({"log_*.txt"}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        const QRegularExpressionMatch m =
            QRegularExpression("^log_(\\d\\d)_(\\d\\d)_(\\d\\d)\\.txt$").match(logs.first());
        QVERIFY2(m.hasMatch(), qPrintable(logs.first()));
        const QTime named(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        QVERIFY(named.isValid());
        const QTime beforeSecond(before.hour(), before.minute(), before.second());
        if (before <= after)  // not across midnight
            QVERIFY(named >= beforeSecond && named <= after);

        const QString logPath = logDir.filePath(logs.first());
        auto logText = [&] {
            QFile log(logPath);
            return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(logText().startsWith("Info: VQS Sensor Interface 1.8.0.3 started\n"), 5000);
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        program.waitForFinished();
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
