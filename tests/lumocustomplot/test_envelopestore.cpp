// A long curve's store and the graph that shows it: the envelope keeps every
// extreme, a zoomed-in view and the full-resolution accessor keep every point.
#include <QtTest>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "envelopestore.h"
#include "lumocustomplot.h"
#include "storedgraph.h"

namespace {

using Point = EnvelopeStore::Point;

// Irregular keys (with repeats and a long pause, past a chunk's span), noisy
// values with spikes, and a few gaps.
std::vector<Point> makeRun(int count) {
    std::mt19937 rng(7);
    std::vector<Point> points;
    double key = 100.0;
    for (int i = 0; i < count; ++i) {
        key += (i % 997 == 0) ? 0.0 : 0.001 * double(1 + rng() % 1500);
        if (i == count / 2)
            key += 5000;  // the sensor paused
        double value = std::sin(i / 500.0) * 20 + double(rng() % 1000) / 100.0;
        if (rng() % 5000 == 0)
            value += 400;
        if (rng() % 7000 == 0)
            value = std::numeric_limits<double>::quiet_NaN();
        points.push_back({key, double(float(value))});
    }
    return points;
}

bool sameValue(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

}  // namespace

class TestEnvelopeStore : public QObject {
    Q_OBJECT

private slots:
    void fullResolutionBetweenTwoKeys() {
        const std::vector<Point> run = makeRun(30000);
        EnvelopeStore store;
        for (const Point& p : run)
            store.append(p.key, p.value);
        QCOMPARE(store.size(), run.size());
        QVERIFY(store.bytes() < run.size() * 9);  // two floats a point, and a little
        const double ranges[][2] = {{run[10].key, run[12000].key},
                                    {run[14990].key - 1, run[15010].key + 1},  // across the pause
                                    {0, 1e9},
                                    {run[5].key + 1e-5, run[5].key + 2e-5},  // between two points
                                    {run.back().key, run.back().key}};
        for (const auto& range : ranges) {
            std::vector<Point> expected;
            for (const Point& p : run)
                if (p.key >= range[0] - 1e-6 && p.key <= range[1] + 1e-6)
                    expected.push_back(p);
            const std::vector<Point> got = store.between(range[0], range[1]);
            // Keys are kept to the microsecond; a point that close to an end
            // may fall either side of it.
            QVERIFY(got.size() <= expected.size() && got.size() + 2 >= expected.size());
            size_t j = 0;
            for (const Point& p : got) {
                QVERIFY(p.key >= range[0] && p.key <= range[1]);
                while (j < expected.size() && expected[j].key < p.key - 1e-6)
                    ++j;
                QVERIFY(j < expected.size());
                QVERIFY(std::abs(expected[j].key - p.key) < 1e-6);
                QVERIFY(sameValue(expected[j].value, p.value));
                ++j;
            }
        }
        // Keys in milliseconds, as the run clock gives them, come back as the same doubles.
        EnvelopeStore clocked;
        for (qint64 ms = 0; ms < 9000000; ms += 997)
            clocked.append(double(ms) / 1000.0, 1.0);
        for (size_t i = 0; i < clocked.size(); ++i)
            QCOMPARE(clocked.at(i).key, double(qint64(i) * 997) / 1000.0);
        // A key that goes back is held at the last one.
        store.append(run.back().key - 10, 1.0);
        QCOMPARE(store.at(store.size() - 1).key, store.at(store.size() - 2).key);
        store.clear();
        QVERIFY(store.isEmpty() && store.between(0, 1e9).empty());
    }

    void envelopeHoldsEveryExtremeInKeyOrder() {
        const std::vector<Point> run = makeRun(50000);
        EnvelopeStore store;
        for (const Point& p : run)
            store.append(p.key, p.value);
        const int columnCounts[] = {1, 37, 800};
        const double ranges[][2] = {{run.front().key, run.back().key}, {run[3000].key + 0.5, run[41000].key}};
        for (int columns : columnCounts) {
            for (const auto& range : ranges) {
                std::vector<Point> envelope;
                store.envelope(range[0], range[1], columns, &envelope);
                QVERIFY(envelope.size() <= size_t(5 * columns + 2));
                for (size_t i = 1; i < envelope.size(); ++i)
                    QVERIFY(envelope[i].key >= envelope[i - 1].key);
                // Per column, from the stored points: lowest, highest, and whether it has a gap.
                const double width = (range[1] - range[0]) / columns;
                auto columnOf = [&](double key) {  // the last column whose edge is at or before the key
                    int c = 0;
                    while (c + 1 < columns && key >= range[0] + width * (c + 1))
                        ++c;
                    return c;
                };
                std::vector<double> low(size_t(columns), 1e300), high(size_t(columns), -1e300);
                std::vector<bool> gap(size_t(columns), false), any(size_t(columns), false);
                for (size_t i = store.lowerBound(range[0]); i < store.upperBound(range[1]); ++i) {
                    const Point p = store.at(i);
                    const size_t c = size_t(columnOf(p.key));
                    any[c] = true;
                    if (std::isnan(p.value)) {
                        gap[c] = true;
                        continue;
                    }
                    low[c] = std::min(low[c], p.value);
                    high[c] = std::max(high[c], p.value);
                }
                std::vector<double> gotLow(size_t(columns), 1e300), gotHigh(size_t(columns), -1e300);
                std::vector<bool> gotGap(size_t(columns), false);
                for (const Point& p : envelope) {
                    if (p.key < range[0] || p.key > range[1])
                        continue;  // the neighbours outside the range
                    const size_t c = size_t(columnOf(p.key));
                    if (std::isnan(p.value)) {
                        gotGap[c] = true;
                        continue;
                    }
                    gotLow[c] = std::min(gotLow[c], p.value);
                    gotHigh[c] = std::max(gotHigh[c], p.value);
                }
                for (size_t c = 0; c < size_t(columns); ++c) {
                    if (!any[c])
                        continue;
                    QCOMPARE(gotLow[c], low[c]);
                    QCOMPARE(gotHigh[c], high[c]);
                    QCOMPARE(gotGap[c], gap[c]);
                }
            }
        }
        // Ranges far beyond the keys, or narrower than a microsecond, give the neighbours alone.
        std::vector<Point> edges;
        store.envelope(-1e300, 1e300, 500, &edges);
        QVERIFY(!edges.empty());
        store.envelope(run[100].key + 1e-9, run[100].key + 2e-9, 500, &edges);
        QVERIFY(edges.size() <= 2);
        // The whole run's value range, as the axes rescale to it.
        double lo = 0, hi = 0, wantLo = 1e300, wantHi = -1e300;
        for (const Point& p : run)
            if (!std::isnan(p.value)) {
                wantLo = std::min(wantLo, p.value);
                wantHi = std::max(wantHi, p.value);
            }
        QVERIFY(store.valueRange(0, store.size(), &lo, &hi));
        QCOMPARE(lo, wantLo);
        QCOMPARE(hi, wantHi);
    }

    void graphShowsPointsZoomedInAndEnvelopeZoomedOut() {
        LumoCustomPlot plot;
        plot.resize(400, 300);
        auto* graph = new StoredGraph(plot.xAxis, plot.yAxis);
        const std::vector<Point> run = makeRun(20000);
        for (const Point& p : run)
            graph->addPoint(p.key, p.value);

        // Double click: the axes take the whole store, not the data in view.
        plot.rescaleAxes();
        QCOMPARE(plot.xAxis->range().lower, graph->store().firstKey());
        QCOMPARE(plot.xAxis->range().upper, graph->store().lastKey());
        double lo = 0, hi = 0;
        graph->store().valueRange(0, graph->store().size(), &lo, &hi);
        QCOMPARE(plot.yAxis->range().upper, hi);

        QPixmap picture = plot.toPixmap(400, 300);
        QVERIFY(graph->showsEnvelope());
        QVERIFY(graph->data()->size() <= 5 * plot.axisRect()->width() + 2);

        // Zoomed in to a hundred points: those, and one beyond each end.
        const EnvelopeStore& store = graph->store();
        plot.xAxis->setRange(store.at(5000).key, store.at(5099).key);
        picture = plot.toPixmap(400, 300);
        QVERIFY(!graph->showsEnvelope());
        QCOMPARE(graph->data()->size(), 102);
        for (int i = 0; i < 102; ++i)
            QVERIFY(sameValue(graph->data()->at(i)->value, run[size_t(4999 + i)].value));
        QCOMPARE(graph->pointsBetween(store.at(5000).key, store.at(5099).key).size(), size_t(100));
        QCOMPARE(curvePointsBetween(graph, store.at(0).key, store.at(19999).key).size(), size_t(20000));

        // Cleared, it takes points again and data() follows them at once.
        graph->clearPoints();
        QVERIFY(graph->data()->isEmpty());
        graph->addPoint(1, 2);
        graph->addPoint(2, 3);
        QCOMPARE(graph->data()->size(), 2);

        // A graph never fed through the store is a plain graph.
        auto* plain = new StoredGraph(plot.xAxis, plot.yAxis);
        plain->setData({1, 2, 3}, {4, 5, 6});
        picture = plot.toPixmap(400, 300);
        QCOMPARE(plain->data()->size(), 3);
        const std::vector<Point> plainPoints = curvePointsBetween(plain, 2, 3);
        QCOMPARE(plainPoints.size(), size_t(2));
        QCOMPARE(plainPoints[0].value, 5.0);
    }
};

QTEST_MAIN(TestEnvelopeStore)
#include "test_envelopestore.moc"
