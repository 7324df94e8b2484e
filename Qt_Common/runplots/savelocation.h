// Where the directory choosers for saved runs and pictures start.
#pragma once

#include <QDir>
#include <QStandardPaths>
#include <QString>

namespace runplots {

// The user's desktop directory where there is one, else the home directory
// (many systems, and most Linux servers, have no desktop directory).
inline QString saveStartDirectory() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QDir(desktop).exists())
        return desktop;
    return QDir::homePath();
}

}  // namespace runplots
