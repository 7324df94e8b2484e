// Shared pieces of the recording and saving tests: a page on a simulated
// sensor, runs of a few rows, message-box answers and the deciphered files.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

#include "cipher.h"
#include "portlister.h"
#include "simulator.h"
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
    const QByteArray file = readAll(path);
    auto cipher = createRecordCipher();
    cipher->init(builtInPassPhrase);
    QByteArray text;
    int offset = 0;
    while (offset + 4 <= file.size()) {
        uint8_t length[4];
        std::memcpy(length, file.constData() + offset, 4);
        decipher(*cipher, length, 4);
        const uint32_t n = uint32_t(length[0]) | uint32_t(length[1]) << 8 | uint32_t(length[2]) << 16 |
                           uint32_t(length[3]) << 24;
        if (n > 508 || offset + 4 + int(n) > file.size())
            break;
        QByteArray piece = file.mid(offset + 4, int(n));
        decipher(*cipher, reinterpret_cast<uint8_t*>(piece.data()), n);
        text += piece;
        offset += 4 + int(n);
    }
    if (offset != file.size())
        text += "<broken>";
    return text;
}

// The one directory in `parent` whose name ends with `suffix`.
inline QString findDir(const QString& parent, const QString& suffix) {
    const QStringList names = QDir(parent).entryList({"*" + suffix}, QDir::Dirs | QDir::NoDotAndDotDot);
    return names.size() == 1 ? parent + '/' + names.first() : QString();
}

// Answers each modal message box, pressing `answer` (OK when it has no such button).
class BoxAnswerer : public QObject {
public:
    struct Seen {
        QString text, informativeText, styleSheet;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        bool parentless = false;
    };
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer(answer) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start();
    }
    QStringList texts() const {
        QStringList out;
        for (const Seen& s : seen)
            out << s.text;
        return out;
    }
    QList<Seen> seen;
    QMessageBox::StandardButton answer;

private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        Seen s{box->text(), box->informativeText(), box->styleSheet(), box->standardButtons(),
               box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton,
               box->parentWidget() == nullptr};
        seen.append(s);
        QAbstractButton* button = box->button(answer);
        (button ? button : box->button(QMessageBox::Ok))->click();
    }
    QTimer timer;
};

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
        ok = sim.openPty();
        sim.start();
        PortCandidate port;
        port.name = "ttyUSB7";
        port.path = QString::fromStdString(sim.slavePath());
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
        return waitFor([&] { return sensor()->cycleCount >= rows; }, 30000);
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

    vqssim::Simulator sim;
    std::unique_ptr<TarnLiteSystemTab> tab;
    bool ok = false;
};

}  // namespace rec
