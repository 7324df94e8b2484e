#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QtDebug>

#include "logging.h"
#include "mainwindow.h"
#include "vqs.h"

QString prepareWorkingDirectories(const QString& appDir, const QTime& now)
{
    const QString tempDir = QString("%1/TempData").arg(appDir);
    QDir().mkdir(tempDir);
    const QString encDir = QString("%1/enc").arg(appDir);
    QDir().mkdir(encDir);
    const QString logDir = QString("%1/log").arg(appDir);
    QDir().mkdir(logDir);
    // Time of day only: a later start at the same second appends to the same file.
    return QString("%1/log_%2.txt").arg(logDir, now.toString("HH_mm_ss"));
}

QString mainWindowTitle()
{
    return QString("VQS%1 Sensor Interface - V%2").arg(QChar(0x2122)).arg(appVersion);
}

int registerApplicationFonts()
{
    static const char* const faces[] = {
        ":/CommonResources/fonts/quicksand/Quicksand-Regular.ttf",
        ":/CommonResources/fonts/quicksand/Quicksand-Bold.ttf",
        ":/CommonResources/fonts/quicksand/Quicksand-Medium.ttf",
        ":/CommonResources/fonts/quicksand/Quicksand-Light.ttf",
    };
    int registered = 0;
    for (const char* face : faces) {
        if (QFontDatabase::addApplicationFont(face) < 0)
            qWarning() << "Cannot register font" << face;
        else
            ++registered;
    }
    return registered;
}

int runProgram(int argc, char* argv[], const std::function<void()>& beforeWindow)
{
    QApplication a(argc, argv);

    logFilePath = prepareWorkingDirectories(QApplication::applicationDirPath(), QTime::currentTime());
    qInstallMessageHandler(logMessageHandler);
    // Marks each start in the log, which a later start at the same time of day shares.
    qInfo("VQS Sensor Interface %s started", appVersion);

    registerApplicationFonts();
    if (beforeWindow)
        beforeWindow();

    MainWindow w;
    w.setWindowTitle(mainWindowTitle());
    w.show();
    return a.exec();
}
