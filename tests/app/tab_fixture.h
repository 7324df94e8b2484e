// Shared pieces of the sensor-tab tests: simulated sensors on pseudo-terminals
// listed through the page's port seam, answering the page's modal message
// boxes, and reaching the page's widgets by their form names.
#pragma once

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMutex>
#include <QComboBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include "box_answerer.h"
#include "mainwindow.h"
#include "portlister.h"
#include "simulator.h"
#include "sim_link.h"
#include "tarnlitesystemtab.h"

// Sensors on pseudo-terminals, presented to the page as USB serial ports.
class SimulatedPorts {
public:
    // The list is read on worker threads too (a lost sensor is looked for there).
    SimulatedPorts() {
        PortLister::setSource([this] {
            QMutexLocker lock(&mutex);
            return ports;
        });
    }
    ~SimulatedPorts() {
        PortLister::setSource({});
        for (auto& sim : sims)
            sim->close();
    }

    // A sensor behind a USB-to-UART adapter (FTDI ids) or on its own USB port.
    vqssim::Simulator* add(const QString& portName, vqssim::Identity identity,
                           vqssim::Framing framing = vqssim::Framing::Uart, vqssim::Options options = {}) {
        auto sim = std::make_unique<vqssim::Simulator>(framing, identity, options);
        if (!openThroughLink(*sim, links, portName))
            return nullptr;
        sim->start();
        PortCandidate port;
        port.name = portName;
        port.path = QString::fromStdString(sim->path());
        port.hasIds = true;
        if (framing == vqssim::Framing::Uart) {
            port.description = QStringLiteral("FT232R USB UART");
            port.vendorId = 0x0403;
            port.productId = 0x6001;
            port.driver = QStringLiteral("ftdi_sio");
        } else {
            port.description = QStringLiteral("STM32 Virtual ComPort");
            port.vendorId = 0x0483;
            port.productId = 0x5740;
            port.driver = QStringLiteral("cdc_acm");
        }
        list(port);
        sims.push_back(std::move(sim));
        return sims.back().get();
    }
    // A port that is listed but is no sensor port (a mouse's serial adapter, say).
    void addForeign(const QString& portName) {
        PortCandidate port;
        port.name = portName;
        port.path = QStringLiteral("/dev/null");
        port.description = QStringLiteral("Some Modem");
        port.hasIds = true;
        port.vendorId = 0x1234;
        port.productId = 0x0001;
        list(port);
    }
    // A port that appears, as a device plugged in does.
    void list(const PortCandidate& port) {
        QMutexLocker lock(&mutex);
        ports.append(port);
    }

    QTemporaryDir links;
    QMutex mutex;
    QList<PortCandidate> ports;
    std::vector<std::unique_ptr<vqssim::Simulator>> sims;
};

inline QTabWidget* tabWidgetOf(MainWindow& window) {
    return window.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
}

inline TarnLiteSystemTab* currentTab(MainWindow& window) {
    return qobject_cast<TarnLiteSystemTab*>(tabWidgetOf(window)->currentWidget());
}

template <typename T>
T* part(QWidget* tab, const char* name) {
    T* widget = tab->findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s on the page", name);
    return widget;
}

inline QString labelText(QWidget* tab, const char* name) {
    return part<QLabel>(tab, name)->text();
}

inline vqssim::Identity sensorIdentity(const char* name, uint32_t type = 3,
                                       std::array<uint8_t, 4> firmware = {{4, 1, 0, 0}}) {
    vqssim::Identity id;
    id.name = name;
    id.sensorType = type;
    id.firmware = firmware;
    return id;
}

// Screenshots for people to look at; failures to write them are not test failures.
inline void saveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = QStringLiteral(VQS_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    QTest::qWait(50);  // let pending layout requests settle
    widget->grab().save(dir + QLatin1Char('/') + name);
}
