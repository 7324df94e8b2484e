// bench_gui_cycle: per recorded cycle, the page's own GUI work (the cycle
// hand-off: labels, one point per curve, axis rules, both replots) against a
// bare QCustomPlot replot of the same curves, at 10k, 100k and 1M recorded
// cycles; and the memory one recorded cycle holds (plot points and the two
// per-cycle history lists).
//
// Run with QT_QPA_PLATFORM=offscreen. Optional argument: cycles timed per size.
#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>

#include <malloc.h>

#include <cstdio>
#include <vector>

#include "lumocustomplot.h"
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

// Fills the plots as `cycles` recorded cycles would have (one point per curve
// each, two seconds apart).
void prefill(QCustomPlot* conc, QCustomPlot* enviro, long from, long to) {
    for (long n = from; n < to; ++n) {
        double c, t, p, rh;
        sample(n, &c, &t, &p, &rh);
        const double key = n * 2.0;
        conc->graph(0)->addData(key, c);
        enviro->graph(0)->addData(key, t);
        enviro->graph(1)->addData(key, p);
        enviro->graph(2)->addData(key, rh);
    }
}

size_t heapInUse() {
    return mallinfo2().uordblks;
}

// A plain QCustomPlot pair with the page's curves on the same data and size.
struct BarePlots {
    QCustomPlot conc, enviro;
    BarePlots(QCustomPlot* pageConc, QCustomPlot* pageEnviro) {
        conc.resize(pageConc->size());
        enviro.resize(pageEnviro->size());
        conc.addGraph();
        conc.graph(0)->setData(pageConc->graph(0)->data());
        enviro.yAxis2->setVisible(true);
        enviro.addGraph(enviro.xAxis, enviro.yAxis);
        enviro.addGraph(enviro.xAxis, enviro.yAxis2);
        enviro.addGraph(enviro.xAxis, enviro.yAxis);
        for (int i = 0; i < 3; ++i)
            enviro.graph(i)->setData(pageEnviro->graph(i)->data());
        conc.rescaleAxes();
        enviro.rescaleAxes();
    }
    void replot() {
        conc.replot();
        enviro.replot();
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int timed = argc > 1 ? std::atoi(argv[1]) : 20;

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

    std::printf("gui-cycle: page %dx%d, plots %dx%d and %dx%d, %d cycles timed per size\n", tab->width(),
                tab->height(), conc->width(), conc->height(), enviro->width(), enviro->height(), timed);
    std::printf("%10s %14s %14s %8s\n", "cycles", "page ms/cycle", "bare ms/replot", "ratio");

    long filled = 0;
    for (long size : {10000L, 100000L, 1000000L}) {
        prefill(conc, enviro, filled, size);
        filled = size;
        sensor->cycleCount = uint32_t(filled);

        QElapsedTimer clock;
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
        }
        const double pageMs = clock.nsecsElapsed() / 1e6 / timed;
        QApplication::processEvents();  // the queued cycle requests
        filled += timed;

        BarePlots bare(conc, enviro);
        clock.restart();
        for (int i = 0; i < timed; ++i)
            bare.replot();
        const double bareMs = clock.nsecsElapsed() / 1e6 / timed;
        std::printf("%10ld %14.3f %14.3f %8.2f\n", size, pageMs, bareMs, pageMs / bareMs);
    }

    // Memory held per recorded cycle: what the page keeps for each one, one
    // point on each of the four curves and one entry in each history list.
    {
        const long cycles = 1000000;
        QCustomPlot c, e;
        c.addGraph();
        for (int i = 0; i < 3; ++i)
            e.addGraph();
        QList<float> mid, max;
        const size_t before = heapInUse();
        prefill(&c, &e, 0, cycles);
        for (long n = 0; n < cycles; ++n) {
            mid.append(float(n));
            max.append(float(n));
        }
        const size_t after = heapInUse();
        const size_t plotBytes = size_t(c.graph(0)->data()->size()) * 0;  // silence unused warnings on some Qt builds
        (void)plotBytes;
        std::printf("memory: %.1f bytes per recorded cycle (%ld cycles, %.1f MB heap)\n",
                    double(after - before) / cycles, cycles, double(after - before) / 1e6);
    }
    return 0;
}
