// bench_week: a week of runs in a few minutes. Sixteen sensor pages in one main
// window, with the All sensors panel shown, each take 604,800 cycles (a week at
// one a second) as fast as the GUI thread hands them over: every cycle goes
// through the page's own hand-off (the session, the display, the snapshot the
// panel plots) as the worker's would, with no serial link and no run files.
// The pages are out of sight during the feed (a page in view redraws its plots
// on each cycle: its normal work at a cycle a second, the whole cost at the
// feed's pace); the panel stays in view and refreshes every second.
// Then a minute of the program's end state at the real pace of one cycle a
// second per sensor. Prints resident memory (whole program) and what it grew
// per cycle, the GUI timer's lateness at the end (p99, worst), and the time of
// one tab's replot (both plots, following the run, zoomed in, as a picture)
// and of the panel's.
//
//   bench_week [cycles per sensor, default 604800] [sensors, default 16] [end seconds, default 20]
//              [directory to keep the first tab's pictures and the panel's in]
//
// Run with QT_QPA_PLATFORM=offscreen (at low priority if others share the machine).
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "allsensorspanel.h"
#include "lumocustomplot.h"
#include "mainwindow.h"
#include "pagedriver.h"
#include "runplots.h"
#include "startup.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"
#if __has_include("storedgraph.h")
#include "storedgraph.h"
#define HAVE_STORE 1
#endif

#include "residentmemory.h"

namespace {

using pagedriver::runLoop;

double rssBytes() { return residentBytes(); }

double percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

// A gas step every ten minutes of cycles, slow drifts and a little noise, so
// envelopes and ranges look like a real run's.
void feedCycle(TarnLiteSystemTab* page, long n, int sensor) {
    VQS* s = page->sensorObject();
    const long phase = (n + sensor * 37) % 600;
    const double noise = double((n * 7919 + sensor * 104729) % 1000) / 1000.0 - 0.5;
    s->answer.concentration = float((phase < 300 ? 0.0 : 50.0) + noise);
    s->answer.temperature = float(25.0 + 2.0 * std::sin(double(n) / 3600.0) + 0.1 * noise);
    s->answer.pressure = float(101.3 + 0.2 * std::cos(double(n) / 7200.0));
    s->answer.humidity = float(40.0 + 10.0 * std::sin(double(n) / 86400.0) + noise);
    s->sensorCycle = int32_t(n);
    s->freshAnswer = true;
    page->onVQSWorkComplete();
}

// Ticks every kTickMs on the GUI thread and keeps how late each came.
struct LatenessProbe {
    static constexpr int kTickMs = 20;
    QTimer timer;
    QElapsedTimer clock;
    std::vector<double> late;
    LatenessProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const double ms = clock.nsecsElapsed() / 1e6;
            clock.restart();
            late.push_back(std::max(0.0, ms - kTickMs));
        });
    }
    void start() {
        late.clear();
        clock.start();
        timer.start(kTickMs);
    }
    void stop() { timer.stop(); }
};

// Median and worst of `rounds` timings of `work`, in ms.
template <typename F>
std::pair<double, double> timed(int rounds, F work) {
    std::vector<double> ms;
    QElapsedTimer clock;
    for (int i = 0; i < rounds; ++i) {
        clock.start();
        work(i);
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    return {percentile(ms, 0.5), *std::max_element(ms.begin(), ms.end())};
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const long perSensor = argc > 1 ? std::max(1000L, std::atol(argv[1])) : 604800L;
    const int sensors = argc > 2 ? std::max(1, std::atoi(argv[2])) : 16;
    const int endSeconds = argc > 3 ? std::max(5, std::atoi(argv[3])) : 20;
    registerApplicationFonts();
    prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());

    auto window = std::make_unique<MainWindow>();
    window->resize(1400, 900);
    window->show();
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    std::vector<TarnLiteSystemTab*> pages;
    for (int i = 0; i < sensors; ++i) {
        if (i > 0)
            window->addSystem();
        auto* page = qobject_cast<TarnLiteSystemTab*>(tabs->currentWidget());
        VQS* sensor = page->sensorObject();
        sensor->sensorInfo.sensorType = 3;
        sensor->answer.gasId = 3;
        page->runClock()->start();
        pages.push_back(page);
    }
    auto* panel = window->findChild<AllSensorsPanel*>();
    for (QWidget* w = panel; w; w = w->parentWidget())
        if (auto* dock = qobject_cast<QDockWidget*>(w))
            dock->show();
    tabs->setCurrentIndex(0);
    runLoop(1500);
    // A first cycle on every page, so the start figure holds what any run holds.
    for (int i = 0; i < sensors; ++i)
        feedCycle(pages[size_t(i)], 0, i);
    runLoop(1500);
    malloc_trim(0);
    const double rssStart = rssBytes();

    tabs->hide();
    // The feed: each turn of the event loop gives every page `batch` cycles.
    LatenessProbe probe;
    probe.start();
    QElapsedTimer feedClock;
    feedClock.start();
    long fed = 1;
    const int batch = 40;
    std::vector<double> feedLate;
    QTimer feeder;
    QEventLoop feeding;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        const long until = std::min(perSensor, fed + batch);
        for (int i = 0; i < sensors; ++i)
            for (long n = fed; n < until; ++n)
                feedCycle(pages[size_t(i)], n, i);
        fed = until;
        if (fed >= perSensor)
            feeding.quit();
    });
    feeder.start(0);
    feeding.exec();
    feeder.stop();
    const double feedSeconds = feedClock.nsecsElapsed() / 1e9;
    const double feedLateP99 = percentile(probe.late, 0.99);

    // The end: a cycle a second per sensor, spread over the second, as the
    // sensors would bring them, with the first page in view.
    tabs->show();
    tabs->setCurrentIndex(0);
    runLoop(500);
    probe.start();
    QTimer pace;
    int next = 0;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const int i = next++ % sensors;
        feedCycle(pages[size_t(i)], fed + next / sensors, i);
    });
    pace.start(1000 / sensors);
    runLoop(endSeconds * 1000);
    pace.stop();
    probe.stop();
    const double endLateP99 = percentile(probe.late, 0.99);
    const double endLateMax = probe.late.empty() ? 0 : *std::max_element(probe.late.begin(), probe.late.end());
    const size_t endTicks = probe.late.size();
    const long cycles = long(sensors) * (fed + next / sensors);
    malloc_trim(0);
    const double rssEnd = rssBytes();

    // One tab's replot: the axes following the run a second further, both
    // plots drawn; and the page's whole cycle (labels, points, both replots,
    // the paint that follows).
    TarnLiteSystemTab* page = pages[0];
    auto* conc = page->findChild<LumoCustomPlot*>(QStringLiteral("plot_conc"));
    auto* enviro = page->findChild<LumoCustomPlot*>(QStringLiteral("plot_enviro"));
    long n = fed + next / sensors;
    const auto follow = timed(20, [&](int i) {
        for (QCustomPlot* plot : {static_cast<QCustomPlot*>(conc), static_cast<QCustomPlot*>(enviro)}) {
            plot->xAxis->setRange(0, plot->xAxis->range().upper + 1 + i);
            plot->replot(QCustomPlot::rpImmediateRefresh);
        }
    });
    const auto cycle = timed(20, [&](int) {
        feedCycle(page, ++n, 0);
        QApplication::processEvents();
    });
    // Zoomed in on the last ten minutes: points at full resolution.
    const double last = conc->xAxis->range().upper;
    const double span = conc->xAxis->range().size() * 600.0 / double(n);
    conc->userControlled = enviro->userControlled = true;
    const auto zoomed = timed(20, [&](int i) {
        conc->xAxis->setRange(last - span - i, last - i);
        enviro->xAxis->setRange(last - span - i, last - i);
        conc->replot(QCustomPlot::rpImmediateRefresh);
        enviro->replot(QCustomPlot::rpImmediateRefresh);
    });
    conc->userControlled = enviro->userControlled = false;
    feedCycle(page, ++n, 0);
    QTemporaryDir pictures;
    const QString pictureDir = argc > 4 ? QString::fromLocal8Bit(argv[4]) : pictures.path();
    const auto saved = timed(1, [&](int) { runplots::writePictures(conc, enviro, pictureDir); });
    LumoCustomPlot* panelPlot = panel->plot();
    // The panel's turn each second: rows and axes, then its plot drawn.
    std::pair<double, double> panelReplot{0, 0};
    double panelRows = 0;
    for (int i = 0; i < 10; ++i) {
        for (int s = 0; s < sensors; ++s)
            feedCycle(pages[size_t(s)], n + 1 + i, s);
        panelRows += timed(1, [&](int) { panel->refresh(); }).first / 10;
        const auto one = timed(1, [&](int) { panelPlot->replot(QCustomPlot::rpImmediateRefresh); });
        panelReplot.first += one.first / 10;
        panelReplot.second = std::max(panelReplot.second, one.second);
    }

    if (argc > 4)
        panelPlot->savePng(QDir(pictureDir).filePath(QStringLiteral("panel.png")), 1200, 480);

    size_t storeBytes = 0, points = 0, shown = 0;
#ifdef HAVE_STORE
    std::vector<QCustomPlot*> plots = {panelPlot};
    for (TarnLiteSystemTab* p : pages)
        for (const char* name : {"plot_conc", "plot_enviro"})
            plots.push_back(p->findChild<LumoCustomPlot*>(QLatin1String(name)));
    for (QCustomPlot* plot : plots)
        for (int g = 0; g < plot->graphCount(); ++g) {
            shown += size_t(plot->graph(g)->data()->size());
            if (StoredGraph* stored = StoredGraph::of(plot->graph(g))) {
                storeBytes += stored->store().bytes();
                points += stored->store().size();
            }
        }
#endif

    std::printf("week: %d sensors x %ld cycles (%ld in all), fed straight to the pages in %.0f s (%.0f cycles/s); "
                "All sensors panel shown\n",
                sensors, fed, cycles, feedSeconds, double(long(sensors) * fed) / feedSeconds);
    std::printf("resident memory: %.1f MiB at start, %.1f MiB at the end (goal < 1024); %.1f B per cycle\n",
                rssStart / 1048576, rssEnd / 1048576, (rssEnd - rssStart) / double(cycles));
    if (points)
        std::printf("curve stores: %zu points in %.1f MiB (%.2f B per point); plot data now %zu points\n", points,
                    double(storeBytes) / 1048576, double(storeBytes) / double(points), shown);
    std::printf("GUI timer lateness at the end (%d s, a cycle a second per sensor, %zu ticks of %d ms): p99 %.1f ms, "
                "worst %.1f ms (goal p99 < 50); during the fast feed p99 %.1f ms\n",
                endSeconds, endTicks, LatenessProbe::kTickMs, endLateP99, endLateMax, feedLateP99);
    std::printf("replot of one tab (both plots, after a new cycle, following the run): median %.1f ms, worst %.1f ms "
                "(goal < 20)\n",
                follow.first, follow.second);
    std::printf("one cycle of the tab in view (labels, points, both replots, painting): median %.1f ms, worst %.1f ms\n",
                cycle.first, cycle.second);
    std::printf("replot of one tab zoomed in to ten minutes: median %.1f ms, worst %.1f ms\n", zoomed.first,
                zoomed.second);
    std::printf("All sensors panel (%d curves): rows and axes %.1f ms, replot mean %.1f ms, worst %.1f ms\n",
                sensors, panelRows, panelReplot.first, panelReplot.second);
    std::printf("pictures of one tab (2 PNG, 2 PDF, whole run): %.0f ms\n", saved.first);
    std::fflush(stdout);

    for (TarnLiteSystemTab* p : pages)
        p->shutdown();
    window.reset();
    return 0;
}
