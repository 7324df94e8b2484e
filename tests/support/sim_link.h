// Opening a simulated sensor the way tests should.
#pragma once

#include <QString>
#include <QTemporaryDir>

#include "simulator.h"

// Opens the simulator's pseudo-terminal behind a link named `name` in `dir`,
// a link that vanishes with the device. A bare /dev/pts number freed by a
// hang-up can be handed at once to a test running in parallel, and a
// reconnect to it would reach that test's device.
inline bool openThroughLink(vqssim::Simulator& sim, const QTemporaryDir& dir, const QString& name) {
    return dir.isValid() && sim.openPty(dir.filePath(name).toStdString());
}
