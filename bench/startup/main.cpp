// Start-up time: from starting a process to the program's main window drawn.
// Each start is a fresh process that runs the program's start-up (runProgram, the
// body of vqs-sensor-interface's main) from a copy of this executable in a scratch
// directory, so the working directories and the log are made as on a first start.
// The child reports the first paint of the main window on stdout and quits; the
// parent times from just before the process is started to that line.
//
//   bench_startup [starts, default 10]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "startup.h"

namespace {

const char* const kChildFlag = "--startup-child";
const char* const kShownLine = "main window drawn";

// Reports the first paint of the main window, then ends the event loop.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!done && event->type() == QEvent::Paint && watched->isWidgetType()) {
            QWidget* window = static_cast<QWidget*>(watched)->window();
            if (window->inherits("MainWindow") && window->isVisible()) {
                done = true;
                std::printf("%s\n", kShownLine);
                std::fflush(stdout);
                QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
            }
        }
        return false;
    }

private:
    bool done = false;
};

int runChild(int argc, char** argv) {
    return runProgram(argc, argv, [] { qApp->installEventFilter(new FirstPaint(qApp)); });
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], kChildFlag))
            return runChild(argc, argv);

    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    std::vector<double> ms;
    for (int i = 0; i < starts; ++i) {
        // A new directory each time: no working directories or log from an earlier start.
        QTemporaryDir dir;
        const QString exe = dir.filePath(QStringLiteral("vqs-startup"));
        if (!dir.isValid() || !QFile::copy(QCoreApplication::applicationFilePath(), exe)) {
            std::fprintf(stderr, "cannot copy the program into a scratch directory\n");
            return 1;
        }
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer clock;
        clock.start();
        child.start(exe, {QLatin1String(kChildFlag)});
        bool shown = false;
        while (!shown && child.waitForReadyRead(30000))
            shown = child.readAllStandardOutput().contains(kShownLine);
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (!child.waitForFinished(10000))
            child.kill();
        if (!shown) {
            std::fprintf(stderr, "start %d: the main window was never drawn\n%s\n", i + 1,
                         child.readAllStandardError().constData());
            return 1;
        }
        ms.push_back(elapsed);
    }

    std::printf("Start to main window drawn (%s platform), %d starts, fresh directory each\n\n",
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))), starts);
    std::printf("first %8.1f ms\n", ms.front());
    std::printf("median %7.1f ms\n", percentile(ms, 0.5));
    std::printf("min %10.1f ms\n", *std::min_element(ms.begin(), ms.end()));
    std::printf("max %10.1f ms\n", *std::max_element(ms.begin(), ms.end()));
    return 0;
}
