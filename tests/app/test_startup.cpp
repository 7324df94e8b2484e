// Start-up: working directories, fonts, title, and the built program run offscreen.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>
#include <QtTest>

#include <unistd.h>

#include "offscreen_program.h"
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

    void writableDirectoryCheck()
    {
        QTemporaryDir dir;
        QVERIFY(isWritableDirectory(dir.path()));
        QVERIFY2(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty(),
                 "the probe file is left behind");
        QVERIFY(!isWritableDirectory(dir.filePath("missing")));
        QVERIFY(!isWritableDirectory("/proc"));  // read-only even for root

        // Permission bits bind everyone but root.
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QCOMPARE(isWritableDirectory(dir.path()), ::geteuid() == 0);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void titleAndFonts()
    {
        QCOMPARE(mainWindowTitle(), QString::fromUtf8("VQS\u2122 Sensor Interface - V1.8.0.3"));
        QCOMPARE(registerApplicationFonts(), 4);
        QVERIFY(QFontDatabase().families().contains("Quicksand"));
    }

    void programStartsAndLogs()
    {
        OffscreenProgram program;
        const QString failure = program.start(QStringLiteral(VQS_BINARY_DIR "/bin/vqs-sensor-interface"));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QTime before = program.startedAt;

        QTRY_VERIFY_WITH_TIMEOUT(!program.logNames().isEmpty(), 20000);
        const QTime after = QTime::currentTime();
        QVERIFY(QFileInfo(program.filePath("TempData")).isDir());
        QVERIFY(QFileInfo(program.filePath("enc")).isDir());

        const QStringList logs = program.logNames();
        QCOMPARE(logs.size(), 1);
        const QRegularExpressionMatch m =
            QRegularExpression("^log_(\\d\\d)_(\\d\\d)_(\\d\\d)\\.txt$").match(logs.first());
        QVERIFY2(m.hasMatch(), qPrintable(logs.first()));
        const QTime named(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        QVERIFY(named.isValid());
        const QTime beforeSecond(before.hour(), before.minute(), before.second());
        if (before <= after)  // not across midnight
            QVERIFY(named >= beforeSecond && named <= after);

        QTRY_VERIFY_WITH_TIMEOUT(program.logText().startsWith("Info: VQS Sensor Interface 1.8.0.3 started\n"), 20000);
        QCOMPARE(program.process.state(), QProcess::Running);
        program.stop();
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
