// Shared pieces of the recording and saving tests: a page on a simulated
// sensor, runs of a few rows, message-box answers and the deciphered files.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

#include "box_answerer.h"
#include "cipher.h"
#include "record_pieces.h"
#include "portlister.h"
#include "simulator.h"
#include "sim_link.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace rec {

inline QString appDir() {
    return QCoreApplication::applicationDirPath();
}

// The working directories main() makes beside the executable.
inline void makeWorkingDirectories() {
    QDir().mkdir(appDir() + "/TempData");
    QDir().mkdir(appDir() + "/enc");
}

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Deciphers a record file and joins the pieces; "<broken>" marks a bad tail.
inline QByteArray decipherFile(const QString& path) {
    return decipherPieces(readAll(path), builtInPassPhrase).join();
}

// The one directory in `parent` whose name ends with `suffix`.
inline QString findDir(const QString& parent, const QString& suffix) {
    const QStringList names = QDir(parent).entryList({"*" + suffix}, QDir::Dirs | QDir::NoDotAndDotDot);
    return names.size() == 1 ? parent + '/' + names.first() : QString();
}

inline vqssim::Identity identity(const char* name, uint32_t type, std::array<uint8_t, 4> firmware) {
    vqssim::Identity id;
    id.name = name;
    id.sensorType = type;
    id.firmware = firmware;
    return id;
}

// One simulated UART sensor, listed to the page as an FTDI adapter port, and a
// page that has found and identified it.
class Bench {
public:
    explicit Bench(const vqssim::Identity& id) : sim(vqssim::Framing::Uart, id, fastOptions()) {
        ok = openThroughLink(sim, links, QStringLiteral("sensor"));
        sim.start();
        PortCandidate port;
        port.name = "ttyUSB7";
        port.path = QString::fromStdString(sim.path());
        port.description = "FT232R USB UART";
        port.hasIds = true;
        port.vendorId = 0x0403;
        port.productId = 0x6001;
        port.driver = "ftdi_sio";
        PortLister::setSource([port] { return QList<PortCandidate>{port}; });
        tab = std::make_unique<TarnLiteSystemTab>();
        BoxAnswerer boxes;  // "No VQS devices found" should not happen, but must not hang
        tab->on_pushButton_scanPorts_clicked();
        ok = ok && button("pushButton_start")->isEnabled();
    }
    ~Bench() {
        tab.reset();
        PortLister::setSource({});
        sim.close();
    }

    static vqssim::Options fastOptions() {
        vqssim::Options options;
        options.samplePeriodMs = 200;
        return options;
    }

    QPushButton* button(const char* name) const { return tab->findChild<QPushButton*>(name); }
    QString label(const char* name) const { return tab->findChild<QLabel*>(name)->text(); }
    VQS* sensor() const { return tab->sensorObject(); }

    // Presses Start and waits for `rows` recorded cycles.
    bool record(uint32_t rows) {
        button("pushButton_start")->setChecked(true);
        return waitFor([&] { return tab->recordedCycles() >= rows; }, 30000);
    }
    // Presses Stop and waits until the page reports the end of the run.
    bool stop() {
        button("pushButton_start")->setChecked(false);
        return waitFor([&] { return button("pushButton_start")->isEnabled() && !tab->runActive(); }, 30000);
    }
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    QTemporaryDir links;
    vqssim::Simulator sim;
    std::unique_ptr<TarnLiteSystemTab> tab;
    bool ok = false;
};

}  // namespace rec
