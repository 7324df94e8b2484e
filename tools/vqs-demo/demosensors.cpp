#include "demosensors.h"

#include <QDebug>
#include <QStandardPaths>
#include <QTimer>

#include "simulator.h"

namespace {

// How the tab's Linux rules recognise each kind of port: an FTDI adapter for the
// UART framing, the sensor's own vendor and product for its USB port.
struct SimulatedPort {
    const char* name;
    const char* description;
    quint16 vendorId;
    quint16 productId;
    const char* driver;
};
const SimulatedPort kUartPort = {"sim-uart", "Simulated VQS sensor behind a USB-to-UART adapter", 0x0403, 0x6001,
                                 "ftdi_sio"};
const SimulatedPort kUsbPort = {"sim-usb", "Simulated VQS sensor on its own USB port", 0x0483, 0x5740, "cdc_acm"};

constexpr int kWatchIntervalMs = 500;

vqssim::Identity uartIdentity() {
    vqssim::Identity id;
    id.name = "VQS-DEMO-0301";
    id.sensorType = 3;
    id.sku = "VQS-FL-100";
    id.firmware = DemoSensors::kSensorFirmware;
    id.comment = "vqs-demo";
    return id;
}

vqssim::Identity usbIdentity() {
    vqssim::Identity id;
    id.name = "VQS-DEMO-0502";
    id.sensorType = 5;
    id.sku = "VQS-ME-100";
    id.firmware = DemoSensors::kSensorFirmware;
    id.gasId = 3;
    id.comment = "vqs-demo";
    return id;
}

// A gas chamber filled and flushed again and again, so that gas marks, response times,
// alarms and the cursors have something to show: gas at 20 s of the sensor's sample
// clock, flushed at 140 s, every 4 minutes for two days; each sensor answers as a
// first-order sensor of its own speed, with a little noise.
vqssim::Options chamberOptions(double percentLel, double tau) {
    vqssim::Options options;
    for (int k = 0; k < 2 * 24 * 15; ++k) {
        options.gasProfile.steps.emplace_back(20.0 + 240.0 * k, percentLel);
        options.gasProfile.steps.emplace_back(140.0 + 240.0 * k, 0.0);
    }
    options.gasProfile.tau = tau;
    options.gasProfile.noise = percentLel * 0.005;
    return options;
}

PortCandidate candidate(const SimulatedPort& port, const vqssim::Simulator& sim) {
    PortCandidate c;
    c.name = QLatin1String(port.name);
    c.path = QString::fromStdString(sim.path());
    c.description = QLatin1String(port.description);
    c.hasIds = true;
    c.vendorId = port.vendorId;
    c.productId = port.productId;
    c.driver = QLatin1String(port.driver);
    return c;
}

bool startSimulator(vqssim::Simulator& sim, const char* what) {
    if (!sim.openPty()) {
        qWarning().noquote() << "Demo: no pseudo-terminal for the" << what << "sensor:"
                             << QString::fromStdString(sim.lastError());
        return false;
    }
    sim.start();
    qInfo().noquote() << "Demo: simulated" << what << "sensor" << QString::fromStdString(sim.identity().name) << "on"
                      << QString::fromStdString(sim.path());
    return true;
}

}  // namespace

const FirmwareVersion DemoSensors::kSensorFirmware{{4, 1, 0, 0}};
const FirmwareVersion DemoSensors::kOnDiskFirmware{{4, 2, 0, 0}};

DemoSensors::DemoSensors(const QString& dir, QObject* parent)
    : QObject(parent),
      appDir(dir),
      uart(new vqssim::Simulator(vqssim::Framing::Uart, uartIdentity(), chamberOptions(40.0, 4.0))),
      usb(new vqssim::Simulator(vqssim::Framing::Usb, usbIdentity(), chamberOptions(30.0, 7.0))) {}

DemoSensors::~DemoSensors() {
    PortLister::setSource({});
    uart->close();
    usb->close();
}

bool DemoSensors::start() {
    const bool uartUp = startSimulator(*uart, "UART");
    const bool usbUp = startSimulator(*usb, "USB");
    PortLister::setSource([this] { return simulatedPorts() + PortLister::systemPorts(); });

    placeOnDiskFirmware(appDir, kOnDiskFirmware);
    const QString flasher = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    if (flasher.isEmpty())
        qWarning() << "Demo: stm32flash is not installed; the UART sensor cannot be upgraded";
    else
        placeFlasher(appDir, flasher);

    if (!watch) {
        watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, &DemoSensors::followFirmwareWrites);
        watch->start(kWatchIntervalMs);
    }
    return uartUp && usbUp;
}

QList<PortCandidate> DemoSensors::simulatedPorts() const {
    QList<PortCandidate> ports;
    // The UART sensor first: a scan identifies the first sensor it finds, and
    // only the UART framing reports a numeric firmware version.
    if (uart->isOpen())
        ports.append(candidate(kUartPort, *uart));
    if (usb->isOpen())
        ports.append(candidate(kUsbPort, *usb));
    return ports;
}

void DemoSensors::followFirmwareWrites() {
    const uint32_t written = uart->bootloaderBytesWritten();
    if (written == bytesSeen || uart->inBootloader())
        return;
    bytesSeen = written;
    // The flasher writes the application region, which starts at page 6.
    const std::vector<uint8_t> head = uart->flash(0x08001800, 32);
    FirmwareVersion version{};
    if (!demoImageVersion(head, &version)) {
        qInfo() << "Demo: the written image names no version; the sensor keeps its own";
        return;
    }
    vqssim::Identity id = uart->identity();
    id.firmware = version;
    uart->setIdentity(id);
    qInfo().noquote() << "Demo:" << QString::fromStdString(id.name) << "now runs firmware"
                      << QStringLiteral("%1.%2.%3.%4").arg(version[0]).arg(version[1]).arg(version[2]).arg(version[3]);
}
