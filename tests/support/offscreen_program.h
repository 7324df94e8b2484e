// Runs a copy of a built program offscreen in a directory of its own, where it
// makes its working directories and its log beside itself.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTime>

class OffscreenProgram {
public:
    // Copies `built` into the directory and starts it; the reason when it cannot.
    QString start(const QString& built) {
        if (!QFileInfo(built).isExecutable())
            return built + QStringLiteral(" is not executable");
        if (!dir.isValid())
            return QStringLiteral("no temporary directory");
        const QString exe = dir.filePath(QFileInfo(built).fileName());
        if (!QFile::copy(built, exe))
            return QStringLiteral("cannot copy ") + built;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        startedAt = QTime::currentTime();
        process.start(exe, QStringList());
        return process.waitForStarted() ? QString() : exe + QStringLiteral(" did not start");
    }

    QString filePath(const QString& name) const { return dir.filePath(name); }
    QDir logDir() const { return QDir(dir.filePath(QStringLiteral("log"))); }
    QStringList logNames() const { return logDir().entryList({QStringLiteral("log_*.txt")}, QDir::Files); }
    // The text of the first log file, empty while there is none.
    QByteArray logText() const {
        const QStringList logs = logNames();
        if (logs.isEmpty())
            return QByteArray();
        QFile log(logDir().filePath(logs.first()));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }
    void stop() {
        process.kill();
        process.waitForFinished();
    }

    QTemporaryDir dir;
    QProcess process;
    QTime startedAt;  // just before the start
};
