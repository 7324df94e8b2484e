#include "portlister.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <mutex>

namespace {

// The source is set on one thread and read on others (a sensor lost mid-run
// is looked for from its worker thread), so it is only touched under the lock,
// and called as a copy, outside it.
struct SourceSlot {
    std::mutex mutex;
    PortLister::Source source;
};

SourceSlot& sourceSlot() {
    static SourceSlot slot;
    return slot;
}

PortLister::Source currentSource() {
    SourceSlot& slot = sourceSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.source;
}

// Windows names ports by driver description; these two are the sensor's.
struct DescriptionRule {
    const char* description;
    int transport;
};
const DescriptionRule kWindowsDescriptions[] = {
    {"STMicroelectronics Virtual COM Port", 0},
    {"USB Serial Port", 1},
};

// The sensor's own USB port, whatever driver Windows or Linux gives it.
constexpr quint16 kSensorVendor = 0x0483;
constexpr quint16 kSensorProduct = 0x5740;

// USB-to-UART adapters on Linux, by vendor and by kernel driver.
struct AdapterRule {
    quint16 vendorId;
    const char* driver;
};
const AdapterRule kUartAdapters[] = {
    {0x0403, "ftdi_sio"},  // FTDI
    {0x10c4, "cp210x"},    // Silicon Labs CP210x
    {0x1a86, "ch341"},     // WCH CH340/CH341
    {0x067b, "pl2303"},    // Prolific PL2303
};

QString linuxDriver(const QString& portName) {
    QFileInfo link(QStringLiteral("/sys/class/tty/%1/device/driver").arg(portName));
    return link.exists() ? QFileInfo(link.symLinkTarget()).fileName() : QString();
}

bool isSensorUsbPort(const PortCandidate& port) {
    return port.hasIds && port.vendorId == kSensorVendor && port.productId == kSensorProduct;
}

int classifyWindows(const PortCandidate& port) {
    if (!port.name.contains(QLatin1String("COM")))
        return -1;
    if (isSensorUsbPort(port))
        return 0;
    for (const DescriptionRule& rule : kWindowsDescriptions)
        if (port.description == QLatin1String(rule.description))
            return rule.transport;
    return -1;
}

int classifyLinux(const PortCandidate& port) {
    if (isSensorUsbPort(port))
        return 0;
    if (port.driver == QLatin1String("cdc_acm") && port.hasIds && port.vendorId == kSensorVendor)
        return 0;
    for (const AdapterRule& rule : kUartAdapters)
        if ((port.hasIds && port.vendorId == rule.vendorId) || port.driver == QLatin1String(rule.driver))
            return 1;
    return -1;
}

}  // namespace

namespace PortLister {

QList<PortCandidate> availablePorts() {
    if (const Source source = currentSource())
        return source();
    return systemPorts();
}

QList<PortCandidate> systemPorts() {
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
        if (hostRules() == PortRules::Linux)
            port.driver = linuxDriver(port.name);
        ports.append(port);
    }
    return ports;
}

void setSource(Source source) {
    SourceSlot& slot = sourceSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.source.swap(source);
    // The old source goes with the argument, outside the lock.
}

PortRules hostRules() {
#ifdef Q_OS_WIN
    return PortRules::Windows;
#else
    return PortRules::Linux;
#endif
}

int classify(const PortCandidate& port, PortRules rules) {
    return rules == PortRules::Windows ? classifyWindows(port) : classifyLinux(port);
}

std::vector<std::string> candidatePaths(int transport) {
    std::vector<std::string> paths;
    for (const PortCandidate& port : availablePorts())
        if (classify(port) == transport && !port.path.isEmpty())
            paths.push_back(port.path.toStdString());
    return paths;
}

QString nameOfPath(const QString& path) {
    for (const PortCandidate& port : availablePorts())
        if (port.path == path)
            return port.name;
    const int cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

}  // namespace PortLister
