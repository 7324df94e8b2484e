// vqs-demo: the program, started exactly as vqs-sensor-interface starts, with two
// simulated sensors added to its port list.
#include <QApplication>

#include "demosensors.h"
#include "startup.h"

int main(int argc, char* argv[])
{
    return runProgram(argc, argv, [] {
        // Parented to the application object: it outlives the main window, so
        // no tab is left talking to a stopped simulator.
        auto* sensors = new DemoSensors(QApplication::applicationDirPath(), qApp);
        sensors->start();
    });
}
