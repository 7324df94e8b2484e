// A plot curve for long runs: every point goes into an EnvelopeStore, and the
// graph's own data holds only what the plot can show. Before each drawing
// (on screen or into a picture) it is rebuilt for the key axis's range and
// the axis rectangle's width: the points at full resolution while the range
// holds at most two per pixel column, else each column's envelope. Axis
// rescaling (a double click, followRun) sees the whole store.
//
// A graph that was never given a point through addPoint() is a plain
// QCPGraph: setData() and data() work as ever.
#pragma once

#include <qcustomplot.h>

#include <vector>

#include "envelopestore.h"

class StoredGraph : public QCPGraph {
    Q_OBJECT

public:
    StoredGraph(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // The graph of a plot if it is a StoredGraph.
    static StoredGraph* of(QCPGraph* graph) { return qobject_cast<StoredGraph*>(graph); }

    void addPoint(double key, double value);
    // Empties the store and the graph's data.
    void clearPoints();

    // Every point with from <= key <= to at full resolution, whatever the plot
    // shows (for statistics over a stretch of the run).
    std::vector<EnvelopeStore::Point> pointsBetween(double from, double to) const {
        return points.between(from, to);
    }
    const EnvelopeStore& store() const { return points; }
    bool hasStore() const { return fed; }

    // Rebuilds data() for the current key range and width if they changed
    // (done by every drawing; callers need it only to read data() first).
    void syncToView();
    // Whether data() holds the envelope rather than every point in view.
    bool showsEnvelope() const { return built.envelope; }

    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;

private:
    int columns() const;

    EnvelopeStore points;
    bool fed = false;
    // What data() was built from; appends are mirrored into it while it holds
    // every point from the view's start to the store's end and stays small.
    struct Built {
        bool valid = false;
        bool envelope = false;
        bool tail = false;
        double lower = 0, upper = 0;
        int columns = 0;
        size_t size = 0;
    } built;
    std::vector<EnvelopeStore::Point> scratch;
};

// Every point of a curve with from <= key <= to at full resolution: from the
// store of a StoredGraph fed through addPoint(), else from the graph's data.
std::vector<EnvelopeStore::Point> curvePointsBetween(const QCPGraph* graph, double from, double to);
