// Two simulated sensors for the demo, each a simulator on a pseudo-terminal in
// this process, listed with the real serial ports:
//   "sim-uart": a flammable-gas sensor (type 3, firmware 4.1.0.0) behind a
//               USB-to-UART adapter, upgradeable through its bootloader;
//   "sim-usb":  a methane sensor (type 5, PPM) on its own USB port.
// Beside the program it places an image newer than their firmware, its version
// file and a flasher that reaches the simulated bootloader.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

#include "demofirmware.h"
#include "portlister.h"

namespace vqssim {
class Simulator;
}

class QTimer;

class DemoSensors : public QObject {
    Q_OBJECT

public:
    static const FirmwareVersion kSensorFirmware;   // 4.1.0.0
    static const FirmwareVersion kOnDiskFirmware;   // 4.2.0.0

    // appDir: where the firmware files and the flasher go (the program's directory).
    explicit DemoSensors(const QString& appDir, QObject* parent = nullptr);
    ~DemoSensors() override;  // the port list is the system's again

    // Starts both simulators, lists them with the real ports and places the files.
    // False when a simulator could not start (the other still runs).
    bool start();

    QList<PortCandidate> simulatedPorts() const;
    vqssim::Simulator& uartSensor() { return *uart; }
    vqssim::Simulator& usbSensor() { return *usb; }

public slots:
    // A sensor whose bootloader has written an image and restarted reports the
    // version that image carries from then on.
    void followFirmwareWrites();

private:
    QString appDir;
    std::unique_ptr<vqssim::Simulator> uart;
    std::unique_ptr<vqssim::Simulator> usb;
    QTimer* watch = nullptr;
    uint32_t bytesSeen = 0;
};
