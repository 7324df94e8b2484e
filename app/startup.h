// Start-up steps of main, and main itself as runProgram.
#pragma once

#include <QString>
#include <QTime>

#include <functional>

// Creates "TempData", "enc" and "log" directly under appDir (single level;
// an existing directory is kept, failures are ignored) and returns the log
// file for a start at time of day `now`: "<appDir>/log/log_HH_mm_ss.txt".
QString prepareWorkingDirectories(const QString& appDir, const QTime& now);

// Whether files can be created in dir, found by creating (and removing) one:
// permission bits and ACLs both count, as does a read-only medium.
bool isWritableDirectory(const QString& dir);

// "VQS™ Sensor Interface - V<appVersion>".
QString mainWindowTitle();

// Registers the compiled-in Quicksand faces with the font database so the
// style sheets' "Quicksand" resolves where the font is not installed.
// Returns how many of the four faces were registered.
int registerApplicationFonts();

// The whole start-up, from the application object to the end of its event
// loop; returns the loop's exit code. `beforeWindow`, when given, runs once the
// working directories and the log are in place, just before the main window is
// built (the demo starts its simulated sensors there).
int runProgram(int argc, char* argv[], const std::function<void()>& beforeWindow = {});
