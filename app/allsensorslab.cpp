// The All sensors panel's lab view: the other benches' sensors, taken from
// LabSensors at the panel's refresh, below this bench's pages. Rows go by
// bench, each under a header row; this bench's header heads its pages. The
// rows and curves are the pages' own kind (fillRow, addPoint).
#include <QTableWidget>

#include "allsensorspanel.h"
#include "lumocustomplot.h"
#include "storedgraph.h"

void AllSensorsPanel::setLab(LabSensors* source) {
    lab = source;
    connect(lab, &LabSensors::changed, this, &AllSensorsPanel::scheduleRefresh);
}

void AllSensorsPanel::takeLab() {
    if (!lab)
        return;
    LabUpdate update = lab->take();
    bool layout = false;
    if (update.reset) {
        for (Entry& entry : remote)
            dropCurve(entry);
        layout = !remote.isEmpty() || labShown != update.active || ownBench != update.ownBench;
        remote.clear();
        benchOnline.clear();
        labShown = update.active;
        ownBench = update.ownBench;
        plotDirty = true;
    }
    for (auto it = update.benchOnline.cbegin(); it != update.benchOnline.cend(); ++it)
        benchOnline.insert(it.key(), it.value());
    for (auto it = update.sensors.cbegin(); it != update.sensors.cend(); ++it) {
        auto found = remote.find(it.key());
        if (found == remote.end()) {
            found = remote.insert(it.key(), Entry());
            found->colour = freeColour();
            found->bench = it->bench;
            layout = true;
        }
        takeRemote(*found, *it);
    }
    if (!layout)
        return;
    labRows.clear();
    QString bench;
    for (auto it = remote.cbegin(); it != remote.cend(); ++it) {
        if (labRows.isEmpty() || it.key().bench != bench) {
            bench = it.key().bench;
            labRows.append({true, {bench, QString()}});
        }
        labRows.append({false, it.key()});
    }
    // Rows moved: laid out afresh (a new sensor or bench is rare).
    rows->clearSpans();
    rows->clearContents();
    syncRows();
}

void AllSensorsPanel::takeRemote(Entry& entry, const LabSensor& sensor) {
    const SensorSnapshot& snap = sensor.snap;
    if (snap.run != 0 && snap.run != entry.curveRun) {
        // A new run: its curve starts empty.
        entry.curveRun = snap.run;
        entry.plottedRows = 0;
        entry.hasRange = false;
        entry.lastKey = 0;
        if (entry.curve)
            entry.curve->clearPoints();
        plotDirty = true;
    }
    const bool renamed = entry.snap.name != snap.name;
    entry.snap = snap;
    entry.rowDirty = true;
    if (!sensor.points.isEmpty() && entry.curve && entry.curveUnit != snap.unit)
        dropCurve(entry);  // a run in another unit: on that unit's axis
    SensorSnapshot point = snap;
    for (const QPointF& p : sensor.points) {
        point.runMs = qint64(p.x() * 1000.0);
        point.concentration = p.y();
        addPoint(entry, point);
    }
    if (renamed && entry.curve) {
        entry.curve->setName(curveName(entry));
        plotDirty = true;
    }
}

void AllSensorsPanel::fillLabRows(bool all) {
    if (!labShown)
        return;
    if (all)
        fillHeader(0, QStringLiteral("%1 (this computer)").arg(ownBench));
    const int first = localFirst() + order.size();
    for (int i = 0; i < labRows.size(); ++i) {
        const LabRow& row = labRows.at(i);
        if (row.header) {
            const QString& bench = row.key.bench;
            fillHeader(first + i, benchOnline.value(bench, true) ? bench : QStringLiteral("%1 (offline)").arg(bench));
            continue;
        }
        Entry& entry = remote[row.key];
        if (all || entry.rowDirty) {
            fillRow(first + i, entry);
            entry.rowDirty = false;
        }
    }
}

void AllSensorsPanel::fillHeader(int row, const QString& text) {
    QTableWidgetItem* item = rows->item(row, 0);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        QFont bold = rows->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setBackground(palette().window());
        rows->setItem(row, 0, item);
        rows->setSpan(row, 0, 1, ColumnCount);
    }
    if (item->text() != text)
        item->setText(text);
}
