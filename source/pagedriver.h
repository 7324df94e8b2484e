// Drives a sensor page as a user would, for programs that run pages without
// one (benchmarks, the demo's screenshot): the event loop as the program runs
// it, the page's widgets by their object names, and a run started from a scan.
#pragma once

#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace pagedriver {

// Runs the event loop (blocking while idle) for ms, or until `done` holds.
inline void runLoop(int ms, const std::function<bool()>& done = {}) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QTimer poll;
    if (done) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        poll.start(50);
    }
    loop.exec();
}

// A widget of the page by its object name; a missing one ends the program.
template <typename T>
T* part(QWidget* in, const char* name) {
    T* widget = in->findChild<T*>(QLatin1String(name));
    if (!widget) {
        std::fprintf(stderr, "no widget %s on the page\n", name);
        std::exit(1);
    }
    return widget;
}

// Scan, choose the named sensor, Start; true once a cycle is recorded.
inline bool startSensor(TarnLiteSystemTab* tab, const QString& name, int waitMs = 30000) {
    part<QPushButton>(tab, "pushButton_scanPorts")->click();
    auto* ports = part<QComboBox>(tab, "comboBox_ports");
    const int index = ports->findText(name + " - ", Qt::MatchStartsWith);
    if (index < 0)
        return false;
    ports->setCurrentIndex(index);
    auto* start = part<QPushButton>(tab, "pushButton_start");
    if (!start->isEnabled())
        return false;
    start->click();
    runLoop(waitMs, [tab] { return tab->recordedCycles() >= 1; });
    return tab->recordedCycles() >= 1;
}

}  // namespace pagedriver
