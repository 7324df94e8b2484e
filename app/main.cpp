#include <QApplication>
#include <QTime>

#include "logging.h"
#include "mainwindow.h"
#include "startup.h"
#include "vqs.h"

int main(int argc, char* argv[])
{
    QApplication a(argc, argv);

    logFilePath = prepareWorkingDirectories(QApplication::applicationDirPath(), QTime::currentTime());
    qInstallMessageHandler(logMessageHandler);
    // Marks each start in the log, which a later start at the same time of day shares.
    qInfo("VQS Sensor Interface %s started", appVersion);

    registerApplicationFonts();

    MainWindow w;
    w.setWindowTitle(mainWindowTitle());
    w.show();
    return a.exec();
}
