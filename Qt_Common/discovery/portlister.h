// The one place where the page learns which serial ports exist, and which of
// them may carry a sensor. Tests and the demo replace the system enumeration
// with ports of their own (pseudo-terminals with a description of their choice).
#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <string>
#include <vector>

struct PortCandidate {
    QString name;         // "COM5", "ttyUSB0"
    QString path;         // the system location opened on systems without COM numbers
    QString description;  // the driver's description of the port
    bool hasIds = false;  // USB vendor and product identifiers known
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString driver;       // kernel driver on Linux ("cdc_acm", "ftdi_sio"); empty elsewhere
};

enum class PortRules { Windows, Linux };

namespace PortLister {

using Source = std::function<QList<PortCandidate>()>;

// The ports to probe, from the source set below or from the system.
QList<PortCandidate> availablePorts();
// The system's own enumeration, whatever source is set.
QList<PortCandidate> systemPorts();
// Replaces the system enumeration; an empty source restores it. Safe from any
// thread; a source must itself be callable from the threads that list ports.
void setSource(Source source);

PortRules hostRules();
// -1 when the port cannot be a sensor port, else the framing it talks:
// 0 USB framing (the sensor's own port), 1 UART framing (an adapter).
int classify(const PortCandidate& port, PortRules rules = hostRules());
// Device paths of the ports that may carry a sensor of this framing: where a
// sensor lost mid-run is looked for once it is not back at its old place.
std::vector<std::string> candidatePaths(int transport);
// The name users know a port by ("COM8", "ttyACM1") for a device path a sensor
// object opened: the listed port's name, else the path's last part.
QString nameOfPath(const QString& path);

}  // namespace PortLister
