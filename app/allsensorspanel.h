// "All sensors": one row per sensor page (identity, run state, last values)
// and one plot of the concentration of every run, one value axis per unit.
// Fed only by the pages' snapshots, so it never asks a sensor anything.
// With the lab view on, the other benches' sensors from the broker follow,
// grouped by bench under a header row each (allsensorslab.cpp).
#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QMap>
#include <QTimer>
#include <QWidget>

#include "labsensors.h"
#include "sensorsnapshot.h"

class QCPAxis;
class QMainWindow;
class QSplitter;
class QTabWidget;
class QTableWidget;
class LumoCustomPlot;
class StoredGraph;
class TarnLiteSystemTab;

class AllSensorsPanel : public QWidget {
    Q_OBJECT

public:
    enum Column {
        ColName,
        ColPort,
        ColState,
        ColGas,
        ColConcentration,
        ColResponse,  // the latest gas step's response times
        ColTemperature,
        ColPressure,
        ColHumidity,
        ColStatus,
        ColRows,
        ColRunTime,
        ColumnCount
    };

    // The panel follows the pages of `tabs`; a click on a row shows its page.
    explicit AllSensorsPanel(QTabWidget* tabs, QWidget* parent = nullptr);

    // Puts the panel into a dock of the window (hidden at first) and its
    // show/hide action into a "View" menu and a tool button at the end of the
    // menu bar.
    static AllSensorsPanel* addTo(QMainWindow* window, QTabWidget* tabs);

    // Adds the page's row and follows its snapshots until it is destroyed.
    void track(TarnLiteSystemTab* page);

    QTableWidget* table() const { return rows; }
    LumoCustomPlot* plot() const { return concPlot; }
    // The page a row stands for (rows follow the tab order).
    TarnLiteSystemTab* pageAt(int row) const;

    // Shows the lab's other benches below this bench's pages while `lab` follows a broker.
    void setLab(LabSensors* lab);

    // Rows and plot catch up with the snapshots received; otherwise done at
    // most every kRefreshMs while the panel is shown.
    void refresh();
    static constexpr int kRefreshMs = 1000;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Entry {
        TarnLiteSystemTab* page = nullptr;
        SensorSnapshot snap;
        bool rowDirty = true;
        QColor colour;
        StoredGraph* curve = nullptr;
        QString curveUnit;
        quint64 curveRun = 0;
        quint32 plottedRows = 0;
        // Value range and last key of the curve, kept as points arrive.
        double low = 0, high = 0, lastKey = 0;
        bool hasRange = false;
        QString bench;  // another bench's sensor (lab view); empty for a page
    };
    // A row of the lab view below the pages: a bench's header or one of its sensors.
    struct LabRow {
        bool header = false;
        LabKey key;
    };

    void onSnapshot(QWidget* page, const SensorSnapshot& snap);
    void addPoint(Entry& entry, const SensorSnapshot& snap);
    void dropCurve(Entry& entry);
    QCPAxis* axisForUnit(const QString& unit);
    QString curveName(const Entry& entry) const;
    void syncRows();
    void fillRow(int row, const Entry& entry);
    void refreshPlot();
    void scheduleRefresh();
    QColor freeColour() const;
    // The curve's own colour, or its alarm's while one is raised.
    static QColor curveColourOf(const Entry& entry);
    // The lab view (allsensorslab.cpp).
    int localFirst() const { return labShown ? 1 : 0; }
    void takeLab();
    void takeRemote(Entry& entry, const LabSensor& sensor);
    void fillLabRows(bool all);
    void fillHeader(int row, const QString& text);

    QTabWidget* tabs;
    QTableWidget* rows;
    LumoCustomPlot* concPlot;
    QHash<QWidget*, Entry> entries;
    QList<QWidget*> order;  // row order
    // Value axis of each unit: the first on the left, the second on the right,
    // any further one added beside the right axis.
    QMap<QString, QCPAxis*> unitAxes;
    QSplitter* split = nullptr;
    bool userSplit = false;
    QTimer refreshTimer;
    bool plotDirty = false;

    LabSensors* lab = nullptr;
    bool labShown = false;  // this bench's header row first, other benches after its pages
    QString ownBench;
    QMap<LabKey, Entry> remote;
    QMap<QString, bool> benchOnline;
    QVector<LabRow> labRows;  // after the pages' rows
};
