// vqs-demo-screenshot: the "All sensors" panel, docked in the program's window,
// while the demo's two sensors run; saved as a picture for the manual (the
// panel alone, and the whole window beside it as OUT-window.png).
//
//   QT_QPA_PLATFORM=offscreen vqs-demo-screenshot OUT.png [run seconds, default 45]
//
// The sensors' sample clocks are moved into their waveform so that the curves
// rise within the run; everything else is the demo as users start it. The run
// directories it made are removed afterwards.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "allsensorspanel.h"
#include "demosensors.h"
#include "mainwindow.h"
#include "simulator.h"
#include "startup.h"
#include "pagedriver.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace {

using pagedriver::part;
using pagedriver::runLoop;
using pagedriver::startSensor;

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vqs-demo-screenshot OUT.png [run seconds]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 45;
    const QString appDir = QApplication::applicationDirPath();
    prepareWorkingDirectories(appDir, QTime::currentTime());
    registerApplicationFonts();
    const QDir temp(appDir + "/TempData");
    const QStringList runsBefore = temp.entryList(QDir::Dirs | QDir::NoDotAndDotDot);

    DemoSensors sensors(appDir);
    if (!sensors.start()) {
        std::fprintf(stderr, "the demo sensors did not start\n");
        return 1;
    }
    sensors.uartSensor().setSampleNumber(12);
    sensors.usbSensor().setSampleNumber(4);

    // Nothing here should ask, but a box would stop the picture.
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    boxCloser.start(200);

    int result = 0;
    {
        MainWindow window;
        window.setWindowTitle(mainWindowTitle());
        window.resize(1280, 1300);
        window.show();
        auto* tabs = part<QTabWidget>(&window, "tabWidget");
        const QString names[2] = {QString::fromStdString(sensors.uartSensor().identity().name),
                                  QString::fromStdString(sensors.usbSensor().identity().name)};
        QList<TarnLiteSystemTab*> pages;
        for (int i = 0; i < 2; ++i) {
            if (i > 0)
                window.addSystem();
            pages << qobject_cast<TarnLiteSystemTab*>(tabs->currentWidget());
            if (!startSensor(pages.last(), names[i])) {
                std::fprintf(stderr, "%s did not start\n", qPrintable(names[i]));
                return 1;
            }
        }
        tabs->setCurrentIndex(0);
        part<QAction>(&window, "action_allSensors")->trigger();
        runLoop(seconds * 1000);
        part<AllSensorsPanel>(&window, "allSensorsPanel")->refresh();
        runLoop(200);
        QString windowOut = out;
        windowOut.insert(out.lastIndexOf(QLatin1Char('.')), QLatin1String("-window"));
        if (!part<QWidget>(&window, "dockWidget_allSensors")->grab().save(out) || !window.grab().save(windowOut)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
            result = 1;
        } else {
            std::printf("%s written\n", qPrintable(out));
        }
        for (TarnLiteSystemTab* page : pages)
            page->shutdown();
    }
    for (const QString& dir : temp.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (!runsBefore.contains(dir))
            QDir(temp.filePath(dir)).removeRecursively();
    return result;
}
