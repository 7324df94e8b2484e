// "All sensors": one row per sensor page (identity, run state, last values)
// and one plot of the concentration of every run, one value axis per unit.
// Fed only by the pages' snapshots, so it never asks a sensor anything.
#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QMap>
#include <QTimer>
#include <QWidget>

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
};
