#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QMessageBox>
#include <QTemporaryFile>
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

bool isWritableDirectory(const QString& dir)
{
    QTemporaryFile probe(dir + QStringLiteral("/.write-check-XXXXXX"));
    return probe.open();
}

namespace {

// Run data, logs and downloaded firmware all live beside the executable; unpacked
// under Program Files that is read-only, and every later write would fail quietly.
void warnIfApplicationDirectoryUnwritable(const QString& appDir)
{
    if (isWritableDirectory(appDir))
        return;
    qWarning().noquote() << "Application directory is not writable:" << appDir;
    // Shown before the window exists, so it has none to be centred on.
    QMessageBox box;
    box.setWindowTitle(mainWindowTitle());
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Program Directory Not Writable"));
    box.setInformativeText(QStringLiteral("The program keeps its log, run data and firmware files in\n%1\n"
                                          "which cannot be written. Nothing can be recorded or saved there: "
                                          "install or unpack the program into a directory of your own.")
                               .arg(QDir::toNativeSeparators(appDir)));
    box.setStandardButtons(QMessageBox::Ok);
    box.setStyleSheet(QStringLiteral("QLabel{min-width: 500px;}"));
    box.exec();
}

}  // namespace

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

    const QString appDir = QApplication::applicationDirPath();
    logFilePath = prepareWorkingDirectories(appDir, QTime::currentTime());
    qInstallMessageHandler(logMessageHandler);
    // Marks each start in the log, which a later start at the same time of day shares.
    qInfo("VQS Sensor Interface %s started", appVersion);
    warnIfApplicationDirectoryUnwritable(appDir);

    registerApplicationFonts();
    if (beforeWindow)
        beforeWindow();

    MainWindow w;
    w.setWindowTitle(mainWindowTitle());
    w.show();
    return a.exec();
}
