// bench_many_sensors: sixteen sensor pages in one main window, each running a
// simulated sensor (half UART, half USB framing, one sample a second), as a
// bench with many sensors runs. Prints, for the GUI thread, the event latency
// (how late a 10 ms timer fires: median and 99th percentile) and its busy share
// while all sixteen run; the memory each running page costs (RSS growth / 16);
// and the longest GUI stall while one of the sixteen stops answering for good
// (its run then goes through recovery and ends). The "All sensors" panel is
// open throughout (its sixteen rows and curves follow every cycle) unless the
// third argument is 0.
//
// Publishing, in the same run: after the steady stretch with publishing off,
// the same stretch with every page publishing to a private local mosquitto,
// then one more with the lab view also on (the panel shows the sixteen again
// as another bench's, from the broker). The timer lateness p99 of each is
// printed beside the one with publishing off. Skipped without /usr/sbin/mosquitto.
//
//   bench_many_sensors [steady seconds, default 150] [silent seconds, default 90] [panel 1|0, default 1]
//
// Run with QT_QPA_PLATFORM=offscreen. Run files go where the program keeps
// them (TempData beside the executable) and are removed afterwards.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include <unistd.h>

#include "allsensorspanel.h"
#include "benchpublishing.h"
#include "labsensors.h"
#include "lumocustomplot.h"
#include "mainwindow.h"
#include "mqtt_broker.h"
#include "portlister.h"
#include "simulator.h"
#include "startup.h"
#include "subscriber.h"
#include "pagedriver.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

#include "residentmemory.h"

namespace {

using pagedriver::part;
using pagedriver::runLoop;
using pagedriver::startSensor;

constexpr int kSensors = 16;
constexpr int kProbeMs = 10;

double rssMiB() { return residentBytes() / (1024.0 * 1024.0); }

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Lateness of a 10 ms timer and the share of time the GUI thread is not
// waiting for events (its CPU time), over one measured stretch.
class GuiProbe : public QObject {
public:
    GuiProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kProbeMs);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last >= 0)
                lateness.push_back(double(std::max<qint64>(0, now - last - kProbeMs * 1000000LL)) / 1e6);
            last = now;
        });
        clock.start();
        timer.start();
    }
    void restart() {
        lateness.clear();
        last = -1;
        from = clock.nsecsElapsed();
        cpuFrom = threadCpuSeconds();
    }
    double percentile(double p) const {
        if (lateness.empty())
            return 0;
        std::vector<double> sorted = lateness;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
    }
    double longest() const { return lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end()); }
    // CPU time the GUI thread used over the wall time.
    double busyShare() const {
        const double wall = double(clock.nsecsElapsed() - from) / 1e9;
        return wall > 0 ? (threadCpuSeconds() - cpuFrom) / wall : 0;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    std::vector<double> lateness;
    qint64 last = -1, from = 0;
    double cpuFrom = 0;
};

QString sensorName(int i) {
    return QStringLiteral("BENCH%1-%2").arg(QCoreApplication::applicationPid() % 100000).arg(i, 2, 10, QChar('0'));
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int steadySeconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 150;
    const int silentSeconds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 90;
    const bool panelOpen = argc > 3 ? std::atoi(argv[3]) != 0 : true;
    registerApplicationFonts();
    prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());

    // The simulated sensors, listed to the pages as their own kind of port.
    QTemporaryDir links;
    std::vector<std::unique_ptr<vqssim::Simulator>> sims;
    QList<PortCandidate> ports;
    for (int i = 0; i < kSensors; ++i) {
        const bool uart = i % 2 == 0;
        vqssim::Identity id;
        id.name = sensorName(i).toStdString();
        id.sensorType = uart ? 3 : 5;
        auto sim = std::make_unique<vqssim::Simulator>(uart ? vqssim::Framing::Uart : vqssim::Framing::Usb, id);
        const QString portName = QString(uart ? "ttyUSB%1" : "ttyACM%1").arg(i);
        if (!links.isValid() || !sim->openPty(links.filePath(portName).toStdString())) {
            std::fprintf(stderr, "cannot open a pseudo-terminal\n");
            return 1;
        }
        sim->start();
        PortCandidate port;
        port.name = portName;
        port.path = QString::fromStdString(sim->path());
        port.hasIds = true;
        port.vendorId = uart ? 0x0403 : 0x0483;
        port.productId = uart ? 0x6001 : 0x5740;
        port.driver = uart ? QStringLiteral("ftdi_sio") : QStringLiteral("cdc_acm");
        ports.append(port);
        sims.push_back(std::move(sim));
    }
    PortLister::setSource([ports] { return ports; });

    // Whatever box a run raises (the failed sensor's) is answered.
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    boxCloser.start(200);

    const double rssBefore = rssMiB();
    auto window = std::make_unique<MainWindow>();
    window->resize(1100, 720);
    window->show();
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    if (panelOpen) {
        auto* toggle = window->findChild<QAction*>(QStringLiteral("action_allSensors"));
        if (!toggle) {
            std::fprintf(stderr, "no All sensors action\n");
            return 1;
        }
        toggle->trigger();
    }
    std::vector<TarnLiteSystemTab*> pages;
    for (int i = 0; i < kSensors; ++i) {
        if (i > 0)
            window->addSystem();
        pages.push_back(qobject_cast<TarnLiteSystemTab*>(tabs->currentWidget()));
        if (!startSensor(pages.back(), sensorName(i))) {
            std::fprintf(stderr, "%s did not start\n", qPrintable(sensorName(i)));
            return 1;
        }
    }

    GuiProbe probe;
    runLoop(5000);  // past the start-up of the last run
    probe.restart();
    runLoop(steadySeconds * 1000);
    const double median = probe.percentile(0.5), p99 = probe.percentile(0.99), steadyLongest = probe.longest();
    const double busy = probe.busyShare();
    const double rssRunning = rssMiB();

    // The same stretch publishing, then with the lab view too. The cycles reaching
    // the broker are counted by a subscriber on a thread of its own.
    double publishingP99 = -1, labP99 = -1;
    int labRows = 0;
    std::atomic<long> cyclesAtBroker{0};
    QString publishStatus;
    if (MqttBroker::available()) {
        MqttBroker broker;
        if (!broker.start()) {
            std::fprintf(stderr, "the broker did not start\n");
            return 1;
        }
        BrokerSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = broker.port();
        settings.clientId = QStringLiteral("bench-many");
        QThread counterThread;
        counterThread.start();
        BrokerSettings counting = settings;
        counting.clientId = QStringLiteral("bench-many-count");
        auto* counter = new Subscriber(counting);
        QObject::connect(counter, &Subscriber::received, [&cyclesAtBroker](const BrokerMessage& m) {
            if (m.kind == QLatin1String("cycle"))
                ++cyclesAtBroker;
        });
        counter->moveToThread(&counterThread);
        counter->start();
        settings.enabled = true;
        window->benchPublishing()->apply(settings);
        runLoop(3000);
        probe.restart();
        runLoop(steadySeconds * 1000);
        publishingP99 = probe.percentile(0.99);
        publishStatus = window->benchPublishing()->lastStatus();

        BrokerSettings viewer = settings;
        viewer.clientId = QStringLiteral("bench-viewer");  // another bench's view: the sixteen are not its own
        viewer.showLab = true;
        window->labSensors()->apply(viewer);
        runLoop(3000);
        probe.restart();
        runLoop(steadySeconds * 1000);
        labP99 = probe.percentile(0.99);
        if (auto* panel = window->findChild<AllSensorsPanel*>(QStringLiteral("allSensorsPanel")))
            labRows = panel->table()->rowCount();

        window->labSensors()->stop();
        window->benchPublishing()->stop();
        QMetaObject::invokeMethod(counter, [counter] { delete counter; }, Qt::BlockingQueuedConnection);
        counterThread.quit();
        counterThread.wait();
    }

    // One sensor (a UART one, whose cycle also asks for the analog output)
    // stops answering anything from now on.
    vqssim::Fault silent;  // from the next request on, every one
    silent.kind = vqssim::FaultKind::NoReply;
    silent.times = 0;
    sims[2]->addFault(silent);
    probe.restart();
    runLoop(silentSeconds * 1000);
    const double silentLongest = probe.longest();
    const double silentP99 = probe.percentile(0.99);
    const bool silentEnded = !pages[2]->sensorObject()->isRunning();

    std::printf("sensors: %d (%d UART, %d USB), one sample a second; steady %d s, one silent %d s\n", kSensors,
                kSensors / 2, kSensors / 2, steadySeconds, silentSeconds);
    if (auto* panel = window->findChild<AllSensorsPanel*>(QStringLiteral("allSensorsPanel")); panel && panelOpen)
        std::printf("All sensors panel: open, %d rows, %d curves\n", panel->table()->rowCount(),
                    panel->plot()->graphCount());
    else
        std::printf("All sensors panel: closed\n");
    std::printf("event latency (10 ms timer lateness) median: %.2f ms\n", median);
    std::printf("event latency (10 ms timer lateness) p99: %.2f ms (goal < 50 ms)\n", p99);
    if (publishingP99 >= 0) {
        std::printf("event latency p99 with publishing on: %.2f ms (off: %.2f ms, same run; %ld cycles at the "
                    "broker; %s)\n",
                    publishingP99, p99, cyclesAtBroker.load(), qPrintable(publishStatus));
        std::printf("event latency p99 with publishing and the lab view on: %.2f ms (off: %.2f ms; panel %d rows)\n",
                    labP99, p99, labRows);
    } else {
        std::printf("event latency p99 with publishing on: n/a (no /usr/sbin/mosquitto)\n");
    }
    std::printf("longest GUI stall, all running: %.1f ms\n", steadyLongest);
    std::printf("GUI thread busy share: %.1f %%\n", busy * 100.0);
    std::printf("memory per tab: %.2f MiB (RSS %.1f -> %.1f MiB, growth / %d)\n", (rssRunning - rssBefore) / kSensors,
                rssBefore, rssRunning, kSensors);
    std::printf("longest GUI stall, one sensor silent: %.1f ms (goal < 200 ms; p99 %.2f ms; its run %s)\n",
                silentLongest, silentP99, silentEnded ? "ended" : "still recovering");

    for (TarnLiteSystemTab* page : pages)
        page->shutdown();
    window.reset();
    PortLister::setSource({});
    // This bench's run directories only.
    QDir temp(QCoreApplication::applicationDirPath() + "/TempData");
    for (int i = 0; i < kSensors; ++i)
        for (const QString& dir : temp.entryList({"* " + sensorName(i)}, QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(temp.filePath(dir)).removeRecursively();
    return 0;
}
