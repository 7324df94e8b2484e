// The system's serial ports, for the demo's port list.
#include "demosensors.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

// Linux only, where the demo runs: the kernel driver bound to the port.
QString linuxDriver(const QString& portName) {
    QFileInfo link(QStringLiteral("/sys/class/tty/%1/device/driver").arg(portName));
    return link.exists() ? QFileInfo(link.symLinkTarget()).fileName() : QString();
}

}  // namespace

QList<PortCandidate> DemoSensors::systemPorts() {
    QList<PortCandidate> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        PortCandidate port;
        port.name = info.portName();
        port.path = info.systemLocation();
        port.description = info.description();
        port.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.vendorId = info.vendorIdentifier();
        port.productId = info.productIdentifier();
        port.driver = linuxDriver(port.name);
        ports.append(port);
    }
    return ports;
}
