#include "allsensorspanel.h"

#include <QAction>
#include <QDockWidget>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenuBar>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "lumocustomplot.h"
#include "presentation.h"
#include "runplots.h"
#include "storedgraph.h"
#include "tarnlitesystemtab.h"

namespace {

// Sixteen curves that can be told apart on white.
const char* const kCurveColours[] = {"#CC483D", "#1F77B4", "#2CA02C", "#FF7F0E", "#9467BD", "#8C564B",
                                     "#E377C2", "#17BECF", "#BCBD22", "#7F7F7F", "#1FB8A1", "#FFAD2B",
                                     "#393B79", "#AD494A", "#637939", "#D6616B"};

QBrush alarmTint(presentation::AlarmState alarm) {
    if (alarm == presentation::AlarmState::None)
        return QBrush();
    QColor tint(presentation::colourName(presentation::alarmTone(alarm)));
    tint.setAlpha(70);
    return QBrush(tint);
}

// The page's status colours.
QColor stateColour(SensorSnapshot::State state) {
    return QColor(presentation::colourName(presentation::stateTone(state)));
}

// Legend rows per column; sixteen sensors fit in two columns.
constexpr int kLegendRows = 8;
// Room a cell needs around its text (margins, focus frame).
constexpr int kCellPadding = 12;

}  // namespace

AllSensorsPanel::AllSensorsPanel(QTabWidget* tabs, QWidget* parent)
    : QWidget(parent), tabs(tabs), rows(new QTableWidget(0, ColumnCount)), concPlot(new LumoCustomPlot) {
    rows->setObjectName(QStringLiteral("tableWidget_allSensors"));
    rows->setHorizontalHeaderLabels({"Sensor", "Port", "State", "Gas", "Concentration", "Response",
                                     "Temp. (°C)", "Pressure (kPa)", "Humidity (%)", "Status", "Rows", "Run Time"});
    rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows->setSelectionMode(QAbstractItemView::SingleSelection);
    rows->verticalHeader()->setVisible(false);
    // Sizing to contents measures every cell of a column on each change, which
    // with sixteen rows changing every refresh costs the GUI thread more than
    // everything else the panel does: rows have one fixed height, and a column
    // is widened only when a new text does not fit (fillRow).
    rows->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    rows->verticalHeader()->setDefaultSectionSize(rows->fontMetrics().height() + 8);
    rows->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    rows->horizontalHeader()->setStretchLastSection(true);
    rows->resizeColumnsToContents();
    rows->setAlternatingRowColors(true);
    connect(rows, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (TarnLiteSystemTab* page = pageAt(row))
            this->tabs->setCurrentWidget(page);
    });

    concPlot->setObjectName(QStringLiteral("plot_allSensors"));
    runplots::applyLightLook(concPlot);
    concPlot->xAxis->setLabel(QStringLiteral("Run time (s)"));
    concPlot->xAxis->setRange(0, 10);
    concPlot->yAxis->setRange(-10, runplots::kConcAxisStart);
    concPlot->legend->setVisible(true);
    QFont legendFont = font();
    legendFont.setPointSize(8);
    concPlot->legend->setFont(legendFont);
    concPlot->legend->setBorderPen(Qt::NoPen);
    concPlot->legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
    concPlot->legend->setWrap(kLegendRows);
    // Beside the axes, not over the curves, and at the top: an empty element
    // below it takes the height the legend does not need.
    auto* legendColumn = new QCPLayoutGrid;
    concPlot->plotLayout()->addElement(0, 1, legendColumn);
    concPlot->plotLayout()->setColumnStretchFactor(1, 0.001);
    legendColumn->addElement(0, 0, concPlot->legend);
    legendColumn->addElement(1, 0, new QCPLayoutElement(concPlot));
    legendColumn->setRowStretchFactor(0, 0.001);

    split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("splitter_allSensors"));
    split->addWidget(rows);
    split->addWidget(concPlot);
    split->setChildrenCollapsible(false);
    // Small enough that the docked panel and a page fit a 768-pixel screen.
    rows->setMinimumHeight(60);
    concPlot->setMinimumHeight(120);
    connect(split, &QSplitter::splitterMoved, this, [this] { userSplit = true; });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    // Replots are coalesced: sixteen sensors each finish a cycle a second, and
    // one replot of all curves per cycle would keep the GUI thread busy.
    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(kRefreshMs);
    connect(&refreshTimer, &QTimer::timeout, this, &AllSensorsPanel::refresh);

    connect(tabs->tabBar(), &QTabBar::tabMoved, this, [this] { syncRows(); });
    for (int i = 0; i < tabs->count(); ++i)
        if (auto* page = qobject_cast<TarnLiteSystemTab*>(tabs->widget(i)))
            track(page);
}

AllSensorsPanel* AllSensorsPanel::addTo(QMainWindow* window, QTabWidget* tabs) {
    auto* dock = new QDockWidget(QStringLiteral("All sensors"), window);
    dock->setObjectName(QStringLiteral("dockWidget_allSensors"));
    auto* panel = new AllSensorsPanel(tabs, dock);
    panel->setObjectName(QStringLiteral("allSensorsPanel"));
    dock->setWidget(panel);
    window->addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();
    // A dock first opens at its contents' size hint, a strip under the page:
    // the first time, give it a third of the window for a table and a plot,
    // leaving the page most of the height of a short (a laptop's) window.
    auto* sized = new QObject(dock);
    QObject::connect(dock, &QDockWidget::visibilityChanged, sized, [window, dock, sized](bool visible) {
        if (!visible || dock->isFloating())
            return;
        window->resizeDocks({dock}, {std::max(dock->minimumSizeHint().height(), window->height() * 35 / 100)},
                            Qt::Vertical);
        delete sized;
    });

    QAction* toggle = dock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("action_allSensors"));
    toggle->setText(QStringLiteral("All sensors"));
    toggle->setToolTip(QStringLiteral("Every sensor's state, values and concentration curve"));
    QMenu* view = window->menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("menuView"));
    view->addAction(toggle);
    // Its one button sits at the end of the menu bar rather than on a row of
    // its own, which a short screen needs for the page.
    auto* bar = new QToolBar(QStringLiteral("Sensors"), window->menuBar());
    bar->setObjectName(QStringLiteral("toolBar_sensors"));
    bar->setMovable(false);
    bar->addAction(toggle);
    window->menuBar()->setCornerWidget(bar, Qt::TopRightCorner);
    return panel;
}

void AllSensorsPanel::track(TarnLiteSystemTab* page) {
    if (!page || entries.contains(page))
        return;
    Entry& entry = entries[page];
    entry.page = page;
    entry.snap = page->snapshot();
    entry.colour = freeColour();
    connect(page, &TarnLiteSystemTab::snapshotChanged, this,
            [this, page](const SensorSnapshot& snap) { onSnapshot(page, snap); });
    connect(page, &QObject::destroyed, this, [this](QObject* gone) {
        // Only the pointer is used: the page is half destroyed by now.
        auto it = entries.find(static_cast<QWidget*>(gone));
        if (it == entries.end())
            return;
        dropCurve(*it);
        entries.erase(it);
        // The tab widget may be in its own teardown: leave it alone.
        const int row = order.indexOf(static_cast<QWidget*>(gone));
        order.removeAt(row);
        rows->removeRow(localFirst() + row);
        plotDirty = true;
        scheduleRefresh();
    });
    syncRows();
}

TarnLiteSystemTab* AllSensorsPanel::pageAt(int row) const {
    row -= localFirst();
    if (row < 0 || row >= order.size())
        return nullptr;
    return entries.value(order.at(row)).page;
}

void AllSensorsPanel::onSnapshot(QWidget* page, const SensorSnapshot& snap) {
    auto it = entries.find(page);
    if (it == entries.end())
        return;
    Entry& entry = *it;
    const bool renamed = snap.name != entry.snap.name;
    entry.snap = snap;
    entry.rowDirty = true;
    if (snap.state == SensorSnapshot::State::Running && snap.run != entry.curveRun) {
        // A new run: its curve starts empty, on the axis of its unit.
        entry.curveRun = snap.run;
        entry.plottedRows = 0;
        entry.hasRange = false;
        entry.lastKey = 0;
        if (entry.curve && entry.curveUnit != snap.unit)
            dropCurve(entry);
        if (entry.curve)
            entry.curve->clearPoints();
        plotDirty = true;
    }
    if (snap.hasSample && snap.rows != entry.plottedRows && snap.run == entry.curveRun)
        addPoint(entry, snap);
    if (renamed && entry.curve) {
        entry.curve->setName(curveName(entry));
        plotDirty = true;
    }
    scheduleRefresh();
}

void AllSensorsPanel::addPoint(Entry& entry, const SensorSnapshot& snap) {
    if (!entry.curve) {
        entry.curveUnit = snap.unit;
        // Kept whole in a compact store; the plot gets what it can show.
        entry.curve = new StoredGraph(concPlot->xAxis, axisForUnit(snap.unit));
        entry.curve->setPen(runplots::curvePen(curveColourOf(entry)));
        entry.curve->setName(curveName(entry));
    }
    const double key = double(snap.runMs) / 1000.0;
    entry.curve->addPoint(key, snap.concentration);
    entry.plottedRows = snap.rows;
    entry.lastKey = std::max(entry.lastKey, key);
    // A value that is no number is a gap in the curve; kept in the range it
    // would stick there and hold the axis still.
    const double value = snap.concentration;
    if (std::isfinite(value)) {
        entry.low = entry.hasRange ? std::min(entry.low, value) : value;
        entry.high = entry.hasRange ? std::max(entry.high, value) : value;
        entry.hasRange = true;
    }
    plotDirty = true;
}

void AllSensorsPanel::dropCurve(Entry& entry) {
    if (entry.curve)
        concPlot->removeGraph(entry.curve);
    entry.curve = nullptr;
    entry.curveUnit.clear();
}

QCPAxis* AllSensorsPanel::axisForUnit(const QString& unit) {
    if (QCPAxis* axis = unitAxes.value(unit))
        return axis;
    QCPAxis* axis = nullptr;
    // An axis whose unit no curve uses any more is taken over.
    for (auto it = unitAxes.begin(); it != unitAxes.end(); ++it) {
        if (it.value()->graphs().isEmpty()) {
            axis = it.value();
            unitAxes.erase(it);
            break;
        }
    }
    if (!axis) {
        if (unitAxes.isEmpty()) {
            axis = concPlot->yAxis;
        } else if (unitAxes.size() == 1) {
            axis = concPlot->yAxis2;
        } else {
            axis = concPlot->axisRect()->addAxis(QCPAxis::atRight);
            runplots::applyLightLook(axis);
        }
    }
    axis->setVisible(true);
    axis->setLabel(unit);
    axis->setRange(-10, runplots::kConcAxisStart);
    unitAxes.insert(unit, axis);
    return axis;
}

QString AllSensorsPanel::curveName(const Entry& entry) const {
    const QString name = entry.snap.name.isEmpty() ? QStringLiteral("?") : entry.snap.name;
    if (!entry.bench.isEmpty())
        return QStringLiteral("%1: %2 (%3)").arg(entry.bench, name, entry.curveUnit);
    return QStringLiteral("%1 (%2)").arg(name, entry.curveUnit);
}

QColor AllSensorsPanel::curveColourOf(const Entry& entry) {
    if (entry.snap.alarm == presentation::AlarmState::None)
        return entry.colour;
    return QColor(presentation::colourName(presentation::alarmTone(entry.snap.alarm)));
}

QColor AllSensorsPanel::freeColour() const {
    for (const char* colour : kCurveColours) {
        const QColor candidate(colour);
        const auto same = [&](const Entry& e) { return e.colour == candidate; };
        const bool taken = std::any_of(entries.begin(), entries.end(), same) ||
                           std::any_of(remote.begin(), remote.end(), same);
        if (!taken)
            return candidate;
    }
    return QColor(kCurveColours[(entries.size() + remote.size()) % std::size(kCurveColours)]);
}

void AllSensorsPanel::syncRows() {
    order.clear();
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget* page = tabs->widget(i);
        if (entries.contains(page))
            order.append(page);
    }
    // Pages not (or no longer) in the tab widget keep a row at the end.
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (!order.contains(it.key()))
            order.append(it.key());
    if (labShown) {  // header rows span the table: its rows are laid out afresh
        rows->clearSpans();
        rows->clearContents();
    }
    rows->setRowCount(localFirst() + order.size() + labRows.size());
    for (int row = 0; row < order.size(); ++row) {
        Entry& entry = entries[order.at(row)];
        fillRow(localFirst() + row, entry);
        entry.rowDirty = false;
    }
    fillLabRows(true);
}

void AllSensorsPanel::fillRow(int row, const Entry& entry) {
    const SensorSnapshot& s = entry.snap;
    QString name = s.name;
    if (name.isEmpty()) {
        const int index = tabs->indexOf(entry.page);
        name = index >= 0 ? tabs->tabText(index) : QString();
    }
    const auto number = [&](double value) { return s.hasSample ? QString::number(value, 'f', 1) : QString(); };
    const QString texts[ColumnCount] = {
        name,
        s.port,
        SensorSnapshot::stateText(s.state),
        s.hasSample ? s.gas : QString(),
        s.hasSample ? QStringLiteral("%1 %2").arg(s.concentrationText, s.unit) : QString(),
        s.response,
        number(s.temperature),
        number(s.pressure),
        number(s.humidity),
        s.statusText,
        QString::number(s.rows),
        s.run ? TarnLiteSystemTab::elapsedText(s.runMs) : QString(),
    };
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem* item = rows->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            if (column >= ColConcentration && column != ColStatus && column != ColResponse)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            rows->setItem(row, column, item);
        }
        // An unchanged text must not make the view lay its columns out again.
        if (item->text() == texts[column])
            continue;
        item->setText(texts[column]);
        if (rows->fontMetrics().horizontalAdvance(texts[column]) + kCellPadding > rows->columnWidth(column) &&
            column != ColumnCount - 1)
            rows->resizeColumnToContents(column);
    }
    // A raised alarm tints the row and draws the curve in its colour.
    const QBrush rowTint = alarmTint(s.alarm);
    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem* item = rows->item(row, column);
        if (item->background() != rowTint)
            item->setBackground(rowTint);
    }
    const QColor curveColour = curveColourOf(entry);
    if (entry.curve && entry.curve->pen().color() != curveColour) {
        entry.curve->setPen(runplots::curvePen(curveColour));
        plotDirty = true;
    }
    QTableWidgetItem* name0 = rows->item(row, ColName);
    if (entry.curve && name0->foreground().color() != curveColour)
        name0->setForeground(curveColour);
    QTableWidgetItem* state = rows->item(row, ColState);
    if (state->foreground().color() != stateColour(s.state))
        state->setForeground(stateColour(s.state));
}

void AllSensorsPanel::scheduleRefresh() {
    if (isVisible() && !refreshTimer.isActive())
        refreshTimer.start();
}

void AllSensorsPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The table's size hint would take most of the height: the plot gets
    // three fifths until the user moves the divider.
    if (!userSplit && height() > 0)
        split->setSizes({height() * 2 / 5, height() * 3 / 5});
}

void AllSensorsPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void AllSensorsPanel::refresh() {
    refreshTimer.stop();
    takeLab();
    for (int row = 0; row < order.size(); ++row) {
        Entry& entry = entries[order.at(row)];
        if (entry.rowDirty) {
            fillRow(localFirst() + row, entry);
            entry.rowDirty = false;
        }
    }
    fillLabRows(false);
    if (plotDirty)
        refreshPlot();
}

void AllSensorsPanel::refreshPlot() {
    plotDirty = false;
    for (QCPAxis* axis : qAsConst(unitAxes))
        if (axis != concPlot->yAxis)
            axis->setVisible(!axis->graphs().isEmpty());
    if (!concPlot->userControlled) {
        double lastKey = 0;
        QHash<QCPAxis*, QCPRange> ranges;
        const auto include = [&](const Entry& entry) {
            if (!entry.curve || !entry.hasRange)
                return;
            lastKey = std::max(lastKey, entry.lastKey);
            QCPAxis* axis = entry.curve->valueAxis();
            auto it = ranges.find(axis);
            if (it == ranges.end())
                ranges.insert(axis, QCPRange(entry.low, entry.high));
            else
                it->expand(QCPRange(entry.low, entry.high));
        };
        for (const Entry& entry : qAsConst(entries))
            include(entry);
        for (const Entry& entry : qAsConst(remote))
            include(entry);
        concPlot->xAxis->setRange(0, std::max(lastKey, 10.0));
        // Zero stays in sight; a flat curve still gets a span to sit in.
        for (auto it = ranges.begin(); it != ranges.end(); ++it) {
            const double low = std::min(it->lower, 0.0), high = std::max(it->upper, 0.0);
            const double margin = std::max((high - low) * 0.1, 1.0);
            it.key()->setRange(low - margin, high + margin);
        }
    }
    concPlot->replot(QCustomPlot::rpQueuedReplot);
}
