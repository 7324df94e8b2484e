// bench_analysis: one million readings (11.6 days at one a second, a first-order
// step every two hours, noise), then the statistics between two times over all
// of them and the response times after every mark; median and worst of several
// repetitions, in milliseconds. Then the same readings fed one by one to the
// page's live analysis (an update per reading), with the marks as they come
// and with a single mark at the start (one step as long as the run): total
// and worst update, in milliseconds. Optional argument: the row count.
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "liveresponse.h"
#include "response.h"
#include "stats.h"

namespace {

struct Figures {
    double median, worst;
};

template <typename Work>
Figures time(Work work, int repeats) {
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const size_t rows = argc > 1 ? size_t(std::strtoull(argv[1], nullptr, 10)) : 1000000;
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 0.2);
    std::vector<double> t(rows);
    std::vector<float> v(rows);
    QList<GasMark> marks;
    constexpr double kStep = 3600.0, kTau = 20.0;
    for (size_t i = 0; i < rows; ++i) {
        t[i] = double(i) + 0.000123 * double(i % 7);
        const double phase = std::fmod(t[i], 2 * kStep);
        const double since = std::fmod(t[i], kStep);
        const double r = phase < kStep ? -std::expm1(-since / kTau) : std::exp(-since / kTau);
        v[i] = float(50.0 * r + noise(rng));
    }
    for (double at = 0.5; at < double(rows); at += kStep) {
        GasMark m;
        m.kind = std::fmod(at, 2 * kStep) < kStep ? GasMark::GasOn : GasMark::GasOff;
        m.seconds = at;
        marks.append(m);
    }

    IntervalStats stats;
    const Figures statsTime = time([&] { stats = statsBetween(t, v, t.front(), t.back()); }, 11);
    const Figures halfTime = time([&] { stats = statsBetween(t, v, t[rows / 4], t[3 * rows / 4]); }, 11);
    QList<StepResponse> steps;
    const Figures stepTime = time([&] { steps = analyseSteps(t, v, marks); }, 5);
    int settled = 0;
    for (const StepResponse& step : steps)
        settled += step.ok() ? 1 : 0;

    std::printf("rows: %zu\n", rows);
    std::printf("statistics over all rows: median %.2f ms, worst %.2f ms (goal < 50 ms)\n", statsTime.median,
                statsTime.worst);
    std::printf("statistics over half the rows: median %.2f ms, worst %.2f ms\n", halfTime.median, halfTime.worst);
    std::printf("response times of %d steps (%d settled): median %.1f ms, worst %.1f ms\n", int(steps.size()), settled,
                stepTime.median, stepTime.worst);
    // As the page does it: every reading, then an update.
    for (bool oneStep : {false, true}) {
        LiveResponse live;
        int next = 0, analysed = 0;
        double worst = 0;
        QElapsedTimer total;
        total.start();
        for (size_t i = 0; i < rows; ++i) {
            while (next < marks.size() && marks[next].seconds <= t[i] && (!oneStep || next == 0))
                live.addMark(marks[next++]);
            live.addReading(t[i], v[i]);
            QElapsedTimer one;
            one.start();
            analysed += live.update() ? 1 : 0;
            worst = std::max(worst, double(one.nsecsElapsed()) / 1e6);
        }
        std::printf("live response times, %s: %d analyses, total %.0f ms, worst update %.2f ms\n",
                    oneStep ? "one step as long as the run" : "a mark every hour", analysed,
                    double(total.nsecsElapsed()) / 1e6, worst);
    }
    std::printf("(half the rows: n %zu, mean %.4f, sd %.4f, drift %.6f per hour [%.6f, %.6f])\n", stats.n, stats.mean, stats.sd,
                stats.driftPerHour, stats.driftLow, stats.driftHigh);
    return 0;
}
