// The real program, with its port list naming the COM ports given on the command line,
// driven through one run on its first page: find the sensors, start, record cycles,
// stop, take a picture of the window, close the window.
//   vqs-page-check COM5:uart [COM6:usb ...] [--cycles N] [--shot FILE]
// Exit code 0 when every step happened; the steps and any message box go to stdout.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "portlister.h"
#include "startup.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace {

void say(const QString& line) {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    std::printf("page-check: %6.1f s  %s\n", double(clock.elapsed()) / 1000.0, qPrintable(line));
    std::fflush(stdout);
}

// The descriptions Windows' drivers give the two kinds of sensor port.
QList<PortCandidate> portsFrom(const QStringList& portArgs) {
    QList<PortCandidate> ports;
    for (const QString& portArg : portArgs) {
        PortCandidate port;
        port.name = portArg.section(QLatin1Char(':'), 0, 0);
        const bool usb = portArg.section(QLatin1Char(':'), 1) == QLatin1String("usb");
        port.description = usb ? QStringLiteral("STMicroelectronics Virtual COM Port") : QStringLiteral("USB Serial Port");
        port.hasIds = true;
        port.vendorId = usb ? 0x0483 : 0x0403;
        port.productId = usb ? 0x5740 : 0x6001;
        ports.append(port);
    }
    return ports;
}

class Driver : public QObject {
public:
    Driver(int cycles, QString shot) : cycles(cycles), shot(std::move(shot)) {
        connect(&tick, &QTimer::timeout, this, [this] { step(); });
        tick.start(50);
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, this, [this] {
            say(QStringLiteral("FAIL timed out waiting to %1").arg(waitingFor));
            QCoreApplication::exit(2);
        });
        deadline.start(120000);
    }

    int failures = 0;

private:
    QMainWindow* window() const {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* main = qobject_cast<QMainWindow*>(w); main && main->isVisible())
                return main;
        return nullptr;
    }
    TarnLiteSystemTab* page() const {
        QMainWindow* w = window();
        auto* tabs = w ? w->findChild<QTabWidget*>(QStringLiteral("tabWidget")) : nullptr;
        return tabs ? qobject_cast<TarnLiteSystemTab*>(tabs->currentWidget()) : nullptr;
    }
    template <typename T>
    T* part(const char* name) const {
        TarnLiteSystemTab* tab = page();
        return tab ? tab->findChild<T*>(QLatin1String(name)) : nullptr;
    }

    // Message boxes: the close question is expected at the end; any other one is a finding.
    bool answerBoxes() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return false;
        const bool closing = box->text() == QLatin1String("Close Program Requested");
        if (!closing) {
            ++failures;
            say(QStringLiteral("FAIL message box: %1 | %2").arg(box->text(), box->informativeText()));
        }
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        return true;
    }

    void step() {
        if (answerBoxes())
            return;
        switch (stage) {
        case 0:
            waitingFor = QStringLiteral("see the main window");
            if (auto* scan = part<QPushButton>("pushButton_scanPorts"); scan && scan->isEnabled()) {
                say(QStringLiteral("main window shown: %1").arg(window()->windowTitle()));
                scan->click();
                stage = 1;
            }
            break;
        case 1: {
            waitingFor = QStringLiteral("find a sensor");
            auto* ports = part<QComboBox>("comboBox_ports");
            auto* start = part<QPushButton>("pushButton_start");
            if (ports && ports->count() > 0 && start && start->isEnabled()) {
                QStringList found;
                for (int i = 0; i < ports->count(); ++i)
                    found << ports->itemText(i);
                say(QStringLiteral("found: %1").arg(found.join(QStringLiteral("; "))));
                start->click();
                stage = 2;
            }
            break;
        }
        case 2: {
            waitingFor = QStringLiteral("record %1 cycles").arg(cycles);
            if (page()->sensorObject() && page()->recordedCycles() >= uint32_t(cycles)) {
                say(QStringLiteral("recorded %1 cycles").arg(page()->recordedCycles()));
                if (!shot.isEmpty())
                    say(QStringLiteral("picture %1: %2").arg(shot, window()->grab().save(shot) ? "saved" : "not saved"));
                part<QPushButton>("pushButton_start")->click();
                stage = 3;
            }
            break;
        }
        case 3: {
            waitingFor = QStringLiteral("stop");
            auto* start = part<QPushButton>("pushButton_start");
            if (!start->isChecked() && start->text() == QLatin1String("Start") && start->isEnabled()) {
                auto* status = part<QLabel>("label_status");
                say(QStringLiteral("stopped, status: %1").arg(status ? status->text() : QString()));
                stage = 4;
                // Queued: the close question runs a nested loop, and Windows does not
                // deliver a timer's events while its own handler is still running.
                QMetaObject::invokeMethod(window(), &QWidget::close, Qt::QueuedConnection);
            }
            break;
        }
        default:
            waitingFor = QStringLiteral("close the window");
            break;
        }
    }

    int cycles;
    QString shot;
    int stage = 0;
    QString waitingFor;
    QTimer tick, deadline;
};

}  // namespace

int main(int argc, char* argv[]) {
    QStringList portArgs;
    int cycles = 3;
    QString shot;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--cycles") && i + 1 < argc)
            cycles = QString::fromLocal8Bit(argv[++i]).toInt();
        else if (arg == QLatin1String("--shot") && i + 1 < argc)
            shot = QString::fromLocal8Bit(argv[++i]);
        else
            portArgs << arg;
    }
    if (portArgs.isEmpty() || cycles < 1) {
        std::printf("usage: vqs-page-check COMn:uart|usb ... [--cycles N] [--shot FILE]\n");
        return 2;
    }
    PortLister::setSource([portArgs] { return portsFrom(portArgs); });

    Driver* driver = nullptr;
    const int code = runProgram(argc, argv, [&] { driver = new Driver(cycles, shot); });
    const int failures = driver ? driver->failures : 1;
    delete driver;
    say(QStringLiteral("event loop ended with %1, %2 unexpected message boxes").arg(code).arg(failures));
    return code == 0 && failures == 0 ? 0 : 1;
}
