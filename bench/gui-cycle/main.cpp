// bench_gui_cycle: per recorded cycle, the page's own GUI work (the cycle
// hand-off: labels, one point per curve, axis rules, both replots, and the
// layout and painting the event loop then does for them) against a bare
// QCustomPlot replot of the same curves, shown and painted the same way, at
// 10k, 100k and 1M recorded cycles; and the memory one recorded cycle holds
// (a point on each curve).
//
// Run with QT_QPA_PLATFORM=offscreen. Optional arguments: cycles per timed round
// (30), largest run length (1000000).
#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "lumocustomplot.h"
#include "runplots.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace {

// The sensor's waveform shape, so ranges and curves look like a real run.
void sample(long n, double* conc, double* t, double* p, double* rh) {
    const long phase = n % 60;
    *conc = phase < 20 ? 0 : phase < 40 ? 2.5 * (phase - 20) : 50 - 2.5 * (phase - 40);
    *t = 25.0 + 0.1 * (n % 50);
    *p = 101.3 + 0.01 * (n % 10);
    *rh = 40.0 + (n % 20);
}

// Fills the plots as recorded cycles from..to would have (one point per curve
// each), their keys spread evenly over keyFrom..keyTo seconds.
void prefill(QCustomPlot* conc, QCustomPlot* enviro, long from, long to, double keyFrom, double keyTo) {
    for (long n = from; n < to; ++n) {
        double c, t, p, rh;
        sample(n, &c, &t, &p, &rh);
        const double key = keyFrom + (keyTo - keyFrom) * double(n - from) / double(to - from);
        runplots::addPoint(conc, 0, key, c);
        runplots::addPoint(enviro, 0, key, t);
        runplots::addPoint(enviro, 1, key, p);
        runplots::addPoint(enviro, 2, key, rh);
    }
}

constexpr int kRounds = 7;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // small blocks and mmapped large ones
}

// A plain QCustomPlot pair with the page's curves: same data, pens, size and
// axis ranges, so the comparison shows what the page adds per cycle.
struct BarePlots {
    QCustomPlot conc, enviro;
    BarePlots(QCustomPlot* pageConc, QCustomPlot* pageEnviro) {
        conc.resize(pageConc->size());
        enviro.resize(pageEnviro->size());
        conc.setAttribute(Qt::WA_OpaquePaintEvent);
        enviro.setAttribute(Qt::WA_OpaquePaintEvent);
        conc.addGraph();
        conc.graph(0)->setData(pageConc->graph(0)->data());
        enviro.yAxis2->setVisible(true);
        enviro.addGraph(enviro.xAxis, enviro.yAxis);
        enviro.addGraph(enviro.xAxis, enviro.yAxis2);
        enviro.addGraph(enviro.xAxis, enviro.yAxis);
        for (int i = 0; i < 3; ++i)
            enviro.graph(i)->setData(pageEnviro->graph(i)->data());
        conc.graph(0)->setPen(pageConc->graph(0)->pen());
        for (int i = 0; i < 3; ++i)
            enviro.graph(i)->setPen(pageEnviro->graph(i)->pen());
    }
    void takeRanges(QCustomPlot* pageConc, QCustomPlot* pageEnviro) {
        for (auto pair : {std::make_pair(&conc, pageConc), std::make_pair(&enviro, pageEnviro)}) {
            pair.first->xAxis->setRange(pair.second->xAxis->range());
            pair.first->yAxis->setRange(pair.second->yAxis->range());
            pair.first->yAxis2->setRange(pair.second->yAxis2->range());
        }
    }
    void show() {
        conc.show();
        enviro.show();
        QApplication::processEvents();
    }
    // Both sides flush posted events inside the clock: layout requests and
    // queued repaints are part of a cycle's cost.
    void replot() {
        conc.replot();
        enviro.replot();
        QApplication::processEvents();
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int timed = argc > 1 ? std::atoi(argv[1]) : 30;
    const long largest = argc > 2 ? std::atol(argv[2]) : 1000000L;

    QTabWidget tabs;
    auto* tab = new TarnLiteSystemTab(&tabs);
    tabs.addTab(tab, QStringLiteral("bench"));
    tabs.resize(1100, 720);
    tabs.show();
    QApplication::processEvents();

    auto* conc = tab->findChild<LumoCustomPlot*>(QStringLiteral("plot_conc"));
    auto* enviro = tab->findChild<LumoCustomPlot*>(QStringLiteral("plot_enviro"));
    VQS* sensor = tab->sensorObject();
    sensor->sensorInfo.sensorType = 3;
    sensor->answer.gasId = 3;

    std::printf("gui-cycle: page %dx%d, plots %dx%d and %dx%d, %d rounds of %d cycles per size\n", tab->width(),
                tab->height(), conc->width(), conc->height(), enviro->width(), enviro->height(), kRounds, timed);
    std::printf("%10s %14s %14s %8s %16s\n", "cycles", "page ms/cycle", "bare ms/replot", "ratio",
                "page replots ms");

    // The run clock gives each new point its key; prefilled points lie before
    // "now" on the same axis, as those of a long run would.
    QElapsedTimer* runClock = tab->runClock();
    runClock->start();
    double lastKey = 0;
    long filled = 0;
    for (long size : {10000L, 100000L, 1000000L}) {
        if (size > largest)
            break;
        const double now = runClock->elapsed() / 1000.0;
        prefill(conc, enviro, filled, size, lastKey, now);
        filled = size;
        sensor->cycleCount = uint32_t(filled);
        sensor->freshAnswer = true;  // each handed-off cycle brought a new answer

        // Rounds of page cycles and bare replots in turn, so a busy machine
        // slows both alike; the median round counts.
        BarePlots bare(conc, enviro);
        bare.show();
        std::vector<double> pageRounds, bareRounds, replotRounds;
        QElapsedTimer clock;
        for (int round = 0; round < kRounds; ++round) {
            clock.start();
            for (int i = 0; i < timed; ++i) {
                double c, t, p, rh;
                sample(filled + i, &c, &t, &p, &rh);
                sensor->answer.concentration = float(c);
                sensor->answer.temperature = float(t);
                sensor->answer.pressure = float(p);
                sensor->answer.humidity = float(rh);
                sensor->sensorCycle = int32_t(filled + i);
                tab->onVQSWorkComplete();
                QApplication::processEvents();
            }
            pageRounds.push_back(clock.nsecsElapsed() / 1e6 / timed);
            filled += timed;

            bare.takeRanges(conc, enviro);
            clock.restart();
            for (int i = 0; i < timed; ++i)
                bare.replot();
            bareRounds.push_back(clock.nsecsElapsed() / 1e6 / timed);

            // The page's two replots alone, for where its time goes.
            clock.restart();
            for (int i = 0; i < timed; ++i) {
                conc->replot();
                enviro->replot();
            }
            replotRounds.push_back(clock.nsecsElapsed() / 1e6 / timed);
        }
        lastKey = runClock->elapsed() / 1000.0;
        const double pageMs = median(pageRounds), bareMs = median(bareRounds);
        std::printf("%10ld %14.3f %14.3f %8.2f %16.3f\n", size, pageMs, bareMs, pageMs / bareMs, median(replotRounds));
    }

    // Memory held per recorded cycle: one point on each of the four curves.
    {
        const long cycles = 1000000;
        QCustomPlot c, e;
        runplots::setUpConcPlot(&c);
        runplots::setUpEnviroPlot(&e);
        const size_t before = heapInUse();
        prefill(&c, &e, 0, cycles, 0, cycles * 2.0);
        const size_t after = heapInUse();
        std::printf("memory: %.1f bytes per recorded cycle (%ld cycles, %.1f MB heap)\n",
                    double(after - before) / cycles, cycles, double(after - before) / 1e6);
    }
    return 0;
}
