#include "storedgraph.h"

#include <algorithm>

namespace {

// Before the plot is laid out its axis rectangle has no width yet; appends are
// mirrored into data() up to twice this many points until the first drawing.
constexpr int kColumnsBeforeLayout = 1024;

}  // namespace

StoredGraph::StoredGraph(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis) {
    built.valid = true;
    built.tail = true;
}

int StoredGraph::columns() const {
    const QCPAxis* axis = keyAxis();
    const int width = axis && axis->axisRect() ? axis->axisRect()->width() : 0;
    return width > 1 ? width : kColumnsBeforeLayout;
}

void StoredGraph::addPoint(double key, double value) {
    const size_t before = points.size();
    points.append(key, value);
    fed = true;
    if (points.size() == before)
        return;
    // While data() holds the view's tail at full resolution, the point joins it
    // at once, so data() reads as it always did between drawings.
    const int limit = 2 * std::max(built.columns, kColumnsBeforeLayout);
    if (built.valid && !built.envelope && built.tail && built.size == before && mDataContainer->size() < limit) {
        const EnvelopeStore::Point p = points.at(before);
        mDataContainer->add(QCPGraphData(p.key, p.value));
        built.size = points.size();
    }
}

void StoredGraph::clearPoints() {
    points.clear();
    mDataContainer->clear();
    mDataContainer->squeeze(true, true);
    built = Built();
    built.valid = true;
    built.tail = true;
}

void StoredGraph::syncToView() {
    if (!fed)
        return;
    const QCPAxis* axis = keyAxis();
    if (!axis)
        return;
    const QCPRange range = axis->range();
    const int cols = columns();
    const size_t n = points.size();
    if (built.valid && built.lower == range.lower && built.upper == range.upper && built.columns == cols &&
        built.size == n)
        return;
    const size_t first = points.lowerBound(range.lower), last = points.upperBound(range.upper);
    built.envelope = last - first > size_t(2 * cols);
    if (built.envelope) {
        points.envelope(range.lower, range.upper, cols, &scratch);
        built.tail = false;
    } else {
        // One point beyond each end, so the line runs to the edges.
        const size_t to = std::min(n, last + 1);
        points.copy(first > 0 ? first - 1 : 0, to, &scratch);
        built.tail = to == n;
    }
    QVector<QCPGraphData> data(int(scratch.size()));
    for (size_t i = 0; i < scratch.size(); ++i)
        data[int(i)] = QCPGraphData(scratch[i].key, scratch[i].value);
    mDataContainer->set(data, true);
    built.valid = true;
    built.lower = range.lower;
    built.upper = range.upper;
    built.columns = cols;
    built.size = n;
    // The scratch list is as large as the view needs; keep it, it is reused.
}

void StoredGraph::draw(QCPPainter* painter) {
    syncToView();
    // An envelope is a column of short vertical strokes per pixel: smoothing
    // them shows nothing and costs most of a long run's drawing.
    const bool smooth = antialiased();
    if (built.envelope)
        setAntialiased(false);
    QCPGraph::draw(painter);
    setAntialiased(smooth);
}

QCPRange StoredGraph::getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const {
    if (!fed || points.isEmpty() || inSignDomain != QCP::sdBoth)
        return QCPGraph::getKeyRange(foundRange, inSignDomain);
    foundRange = true;
    return QCPRange(points.firstKey(), points.lastKey());
}

QCPRange StoredGraph::getValueRange(bool& foundRange, QCP::SignDomain inSignDomain,
                                    const QCPRange& inKeyRange) const {
    if (!fed || points.isEmpty() || inSignDomain != QCP::sdBoth)
        return QCPGraph::getValueRange(foundRange, inSignDomain, inKeyRange);
    const bool whole = inKeyRange == QCPRange();
    const size_t first = whole ? 0 : points.lowerBound(inKeyRange.lower);
    const size_t last = whole ? points.size() : points.upperBound(inKeyRange.upper);
    double low = 0, high = 0;
    foundRange = points.valueRange(first, last, &low, &high);
    return QCPRange(low, high);
}

std::vector<EnvelopeStore::Point> curvePointsBetween(const QCPGraph* graph, double from, double to) {
    const auto* stored = qobject_cast<const StoredGraph*>(graph);
    if (stored && stored->hasStore())
        return stored->pointsBetween(from, to);
    std::vector<EnvelopeStore::Point> points;
    if (!graph || !(from <= to))
        return points;
    const QSharedPointer<QCPGraphDataContainer> data = graph->data();
    for (auto it = data->findBegin(from, false); it != data->constEnd() && it->key <= to; ++it)
        if (it->key >= from)
            points.push_back({it->key, it->value});
    return points;
}
