// bench_soak: a day of runs in ten minutes. Eight sensor pages in one main
// window record eight simulated sensors (four UART, four USB) sampling as fast
// as the simulator can, while their links suffer random faults (lost, garbled,
// cut and late replies) and hang-ups, half of them power cycles, a quarter of
// them coming back under another port name. Prints the growth of resident
// memory per 10,000 recorded cycles beside what the pages keep of each cycle,
// open fds and threads at start and end, and rows lost, doubled, or taken from
// a sensor that was not measuring.
//
//   bench_soak [seconds, default 600]
//
// Run with QT_QPA_PLATFORM=offscreen (at low priority if others share the
// machine). Run files go where the program keeps them (TempData beside the
// executable) and are removed afterwards.
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include <unistd.h>

#include "mainwindow.h"
#include "portlister.h"
#include "simulator.h"
#include "startup.h"
#include "pagedriver.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

#include "residentmemory.h"

namespace {

using pagedriver::part;
using pagedriver::runLoop;
using pagedriver::startSensor;

constexpr int kSensors = 8;
constexpr double kFaultProbability = 0.02;  // per request
constexpr int kHangUpEverySeconds = 15;     // one sensor at a time, in turn
// What the program keeps of every recorded cycle: a point of a little over 8
// bytes (a key offset and a float value, with its share of the summaries the
// envelopes are drawn from) on each of five curves, four on the page and one
// on the All sensors panel.
constexpr double kKeptPerCycle = 42.0;

double rssBytes() { return residentBytes(); }

int entriesIn(const char* directory) {
    return QDir(QString::fromLatin1(directory)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

QString sensorName(int i) {
    return QStringLiteral("SOAK%1-%2").arg(QCoreApplication::applicationPid() % 100000).arg(i, 2, 10, QChar('0'));
}

// What one sensor's worker handed over as new answers, seen on its thread.
struct Taken {
    QMutex mutex;
    QByteArray last;
    long fresh = 0;
    long doubled = 0;    // a new answer identical to the one before
    long notMeasuring = 0;  // taken while the sensor was idle
};

// One sensor's link: where it is, and a hang-up waiting for its replug.
struct Link {
    std::unique_ptr<vqssim::Simulator> sim;
    QString paths[2];
    int at = 0;
    qint64 replugAtMs = -1;
    vqssim::Simulator::Replug how = vqssim::Simulator::Replug::Restarted;
    bool move = false;
};

// Data rows of a customer table (header excluded).
long rowsIn(const QString& csv) {
    QFile file(csv);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    long rows = -1;
    while (!file.atEnd())
        if (!file.readLine().trimmed().isEmpty())
            ++rows;
    return std::max(0L, rows);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int soakSeconds = argc > 1 ? std::max(20, std::atoi(argv[1])) : 600;
    registerApplicationFonts();
    prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());

    QTemporaryDir linkDir;
    std::vector<Link> links(kSensors);
    QList<PortCandidate> ports;
    for (int i = 0; i < kSensors; ++i) {
        const bool uart = i % 2 == 0;
        vqssim::Identity id;
        id.name = sensorName(i).toStdString();
        vqssim::Options options;
        options.samplePeriodMs = 1;  // the shortest the simulator keeps a clock at
        links[size_t(i)].sim =
            std::make_unique<vqssim::Simulator>(uart ? vqssim::Framing::Uart : vqssim::Framing::Usb, id, options);
        // Each sensor may come back under a second name.
        for (int n = 0; n < 2; ++n) {
            const QString portName = QString(uart ? "ttyUSB%1" : "ttyACM%1").arg(i + n * kSensors);
            links[size_t(i)].paths[n] = linkDir.filePath(portName);
            PortCandidate port;
            port.name = portName;
            port.path = links[size_t(i)].paths[n];
            port.hasIds = true;
            port.vendorId = uart ? 0x0403 : 0x0483;
            port.productId = uart ? 0x6001 : 0x5740;
            port.driver = uart ? QStringLiteral("ftdi_sio") : QStringLiteral("cdc_acm");
            ports.append(port);
        }
        if (!linkDir.isValid() || !links[size_t(i)].sim->openPty(links[size_t(i)].paths[0].toStdString())) {
            std::fprintf(stderr, "cannot open a pseudo-terminal\n");
            return 1;
        }
        links[size_t(i)].sim->start();
    }
    PortLister::setSource([ports] { return ports; });

    // The box of a run that ends by failure is answered (and counted).
    int failureBoxes = 0;
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [&failureBoxes] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++failureBoxes;
            box->done(QMessageBox::Ok);
        }
    });
    boxCloser.start(200);

    auto window = std::make_unique<MainWindow>();
    window->resize(1100, 720);
    window->show();
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    std::vector<TarnLiteSystemTab*> pages;
    std::vector<std::unique_ptr<Taken>> taken;
    for (int i = 0; i < kSensors; ++i) {
        if (i > 0)
            window->addSystem();
        TarnLiteSystemTab* page = qobject_cast<TarnLiteSystemTab*>(tabs->currentWidget());
        pages.push_back(page);
        taken.push_back(std::make_unique<Taken>());
        Taken* seen = taken.back().get();
        VQS* sensor = page->sensorObject();
        vqssim::Simulator* sim = links[size_t(i)].sim.get();
        // On the worker thread, between the answer and the page's turn.
        QObject::connect(
            sensor, &VQS::VQSWorkComplete, sensor,
            [seen, sensor, sim] {
                if (!sensor->freshAnswer)
                    return;
                QByteArray identity;
                if (sensor->transport == 1)
                    identity = QByteArray::number(sensor->sensorCycle);
                else
                    identity = QCryptographicHash::hash(
                        QByteArray(reinterpret_cast<const char*>(&sensor->answer), sizeof(sensor->answer)),
                        QCryptographicHash::Sha1);
                QMutexLocker lock(&seen->mutex);
                ++seen->fresh;
                if (identity == seen->last)
                    ++seen->doubled;
                if (sim->idleSincePowerUp() || sim->state() != 2)
                    ++seen->notMeasuring;
                seen->last = identity;
            },
            Qt::DirectConnection);
        if (!startSensor(page, sensorName(i))) {
            std::fprintf(stderr, "%s did not start\n", qPrintable(sensorName(i)));
            return 1;
        }
    }
    auto cycles = [&] {
        long total = 0;
        for (TarnLiteSystemTab* page : pages)
            total += long(page->recordedCycles());
        return total;
    };

    // Past every run's start, and past the idle expiry (30 s) of the threads the
    // start-up lookups used, so start and end count the same kind of things.
    runLoop(45000);
    // The simulators share this process and log every request they receive:
    // emptied now and every few seconds, so their logs are not counted as the
    // program's growth.
    auto clearSimulatorLogs = [&links] {
        for (Link& link : links)
            link.sim->clearLog();
    };
    clearSimulatorLogs();
    QTimer logClearer;
    QObject::connect(&logClearer, &QTimer::timeout, clearSimulatorLogs);
    logClearer.start(5000);
    runLoop(6000);
    const double rssStart = rssBytes();
    const int fdsStart = entriesIn("/proc/self/fd");
    const int threadsStart = entriesIn("/proc/self/task");
    const long cyclesStart = cycles();

    for (int i = 0; i < kSensors; ++i) {
        std::vector<vqssim::FaultKind> kinds = {vqssim::FaultKind::NoReply,         vqssim::FaultKind::BadCrc,
                                                vqssim::FaultKind::WrongCommand,    vqssim::FaultKind::TruncatedHeader,
                                                vqssim::FaultKind::TruncatedPayload, vqssim::FaultKind::Delay,
                                                vqssim::FaultKind::Garbage,         vqssim::FaultKind::GarbledHeader};
        links[size_t(i)].sim->setRandomFaults(uint32_t(1000 + i), kFaultProbability, kinds);
    }
    std::mt19937 rng(20240115);
    QElapsedTimer clock;
    clock.start();
    int hangUps = 0, powerCycles = 0, moves = 0, next = 0;
    qint64 nextHangUpMs = kHangUpEverySeconds * 1000;
    auto replugDue = [&](Link& link, bool now) {
        if (link.replugAtMs < 0 || (!now && clock.elapsed() < link.replugAtMs) || link.sim->isOpen())
            return;
        if (link.move)
            link.at = 1 - link.at;
        link.sim->replug(link.paths[link.at].toStdString(), link.how);
        link.replugAtMs = -1;
    };
    while (clock.elapsed() < qint64(soakSeconds) * 1000) {
        runLoop(250);
        for (Link& link : links)
            replugDue(link, false);
        if (clock.elapsed() >= nextHangUpMs) {
            nextHangUpMs += kHangUpEverySeconds * 1000;
            Link& link = links[size_t(next++ % kSensors)];
            if (link.replugAtMs >= 0 || !link.sim->isOpen())
                continue;
            vqssim::Fault cut;
            cut.kind = vqssim::FaultKind::HangUp;
            link.sim->addFault(cut);
            link.how = rng() % 2 ? vqssim::Simulator::Replug::PowerCycled : vqssim::Simulator::Replug::Restarted;
            link.move = rng() % 4 == 0;
            link.replugAtMs = clock.elapsed() + 1000 + qint64(rng() % 4000);
            ++hangUps;
            powerCycles += link.how == vqssim::Simulator::Replug::PowerCycled;
            moves += link.move;
        }
    }

    // Settle: no more faults, every sensor back, every run past a new cycle.
    for (Link& link : links) {
        link.sim->clearRandomFaults();
        link.sim->clearFaults();
    }
    runLoop(6000, [&] {
        for (Link& link : links)
            replugDue(link, true);
        return std::all_of(links.begin(), links.end(), [](const Link& l) { return l.replugAtMs < 0; });
    });
    std::vector<uint32_t> settledAt;
    for (TarnLiteSystemTab* page : pages)
        settledAt.push_back(page->recordedCycles());
    runLoop(40000, [&] {
        for (size_t i = 0; i < pages.size(); ++i)
            if (pages[i]->runActive() && pages[i]->recordedCycles() < settledAt[i] + 3)
                return false;
        return true;
    });
    runLoop(3000);
    const double rssEnd = rssBytes();
    const int fdsEnd = entriesIn("/proc/self/fd");
    const int threadsEnd = entriesIn("/proc/self/task");
    const long cyclesSoaked = cycles() - cyclesStart;
    int runsEnded = 0;
    for (TarnLiteSystemTab* page : pages)
        runsEnded += !page->runActive();

    // Stop every run, then compare each table with what its page recorded.
    for (TarnLiteSystemTab* page : pages)
        if (page->runActive())
            part<QPushButton>(page, "pushButton_start")->click();
    runLoop(30000, [&] {
        return std::none_of(pages.begin(), pages.end(), [](TarnLiteSystemTab* p) { return p->runActive(); });
    });
    long recorded = 0, rows = 0, fresh = 0, doubled = 0, notMeasuring = 0;
    QDir temp(QCoreApplication::applicationDirPath() + "/TempData");
    for (int i = 0; i < kSensors; ++i) {
        recorded += long(pages[size_t(i)]->recordedCycles());
        for (const QString& dir : temp.entryList({"* " + sensorName(i)}, QDir::Dirs | QDir::NoDotAndDotDot))
            rows += rowsIn(temp.filePath(dir) + "/vqsData.csv");
        QMutexLocker lock(&taken[size_t(i)]->mutex);
        fresh += taken[size_t(i)]->fresh;
        doubled += taken[size_t(i)]->doubled;
        notMeasuring += taken[size_t(i)]->notMeasuring;
    }

    const double perCycle = cyclesSoaked > 0 ? (rssEnd - rssStart) / double(cyclesSoaked) : 0;
    std::printf("sensors: %d (%d UART, %d USB), 1 ms sample period; soak %d s, %ld cycles recorded\n", kSensors,
                kSensors / 2, kSensors / 2, soakSeconds, cyclesSoaked);
    std::printf("faults: %.0f %% of requests at random; %d hang-ups (%d power cycles, %d under another name)\n",
                kFaultProbability * 100, hangUps, powerCycles, moves);
    std::printf("resident memory per 10,000 cycles: %.0f KiB (RSS %.1f -> %.1f MiB)\n", perCycle * 10000 / 1024,
                rssStart / 1048576, rssEnd / 1048576);
    std::printf("beyond the recorded data (%.0f B/cycle the pages keep): %.0f KiB per 10,000 cycles (goal ~0)\n",
                kKeptPerCycle, (perCycle - kKeptPerCycle) * 10000 / 1024);
    std::printf("open fds: %d at start, %d at end (goal: equal)\n", fdsStart, fdsEnd);
    std::printf("threads: %d at start, %d at end (goal: equal)\n", threadsStart, threadsEnd);
    std::printf("rows: %ld written, %ld recorded by the pages, %ld new answers: %ld lost (goal 0)\n", rows, recorded,
                fresh, std::max(0L, recorded - rows) + std::max(0L, fresh - recorded));
    std::printf("rows duplicated: %ld (goal 0); taken from a sensor not measuring: %ld (goal 0)\n", doubled,
                notMeasuring);
    std::printf("runs ended by failure: %d (failure boxes %d)\n", runsEnded, failureBoxes);

    for (TarnLiteSystemTab* page : pages)
        page->shutdown();
    window.reset();
    PortLister::setSource({});
    for (int i = 0; i < kSensors; ++i)
        for (const QString& dir : temp.entryList({"* " + sensorName(i)}, QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(temp.filePath(dir)).removeRecursively();
    return 0;
}
