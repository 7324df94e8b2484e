// The PORT operand of vqs-ctl: a port name as listed ("ttyUSB0", "COM5") or a
// device path, with its framing from the listing rules or from --uart/--usb;
// and opening it with an error that says why it could not be opened.
#pragma once

#include <QString>

struct Args;
class Output;
class VQS;

struct PortTarget {
    QString label;        // as the user gave it, for messages
    QString path;         // device path; empty for a COM number
    int comNumber = -1;   // Windows COMn
    int transport = -1;   // 0 USB framing, 1 UART framing
};

// Why a port could not be opened, told apart by the system's error.
enum class PortProblem { None, Missing, Busy, Denied, NotSerial, Other };

// Resolves args.positional[0]. On failure prints the error and returns the exit code.
int resolvePort(const Args& args, const Output& out, PortTarget* target);
// Points the sensor object at the port (framing, path or COM number).
void aimSensor(const PortTarget& target, VQS& sensor);
// Opens the sensor's port; on failure prints why and returns the exit code.
int openSensor(VQS& sensor, const PortTarget& target, const Output& out);

// resolvePort() and openSensor() for the PORT operand, with the page's retries
// after identification; on failure prints why and returns the exit code.
int openPortOperand(const Args& args, const Output& out, PortTarget* target, VQS& sensor);

// Asks the system again why `path` cannot be opened (platform code).
PortProblem diagnosePort(const QString& path, QString* systemText);
// The one-line text for a problem, with the remedy where there is one.
QString problemText(PortProblem problem, const QString& systemText);
const char* problemKind(PortProblem problem);

QString framingName(int transport);
