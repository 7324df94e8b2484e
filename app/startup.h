// Start-up steps of main that do not need a window.
#pragma once

#include <QString>
#include <QTime>

// Creates "TempData", "enc" and "log" directly under appDir (single level;
// an existing directory is kept, failures are ignored) and returns the log
// file for a start at time of day `now`: "<appDir>/log/log_HH_mm_ss.txt".
QString prepareWorkingDirectories(const QString& appDir, const QTime& now);

// "VQS™ Sensor Interface - V<appVersion>".
QString mainWindowTitle();

// Registers the compiled-in Quicksand faces with the font database so the
// style sheets' "Quicksand" resolves where the font is not installed.
// Returns how many of the four faces were registered.
int registerApplicationFonts();
