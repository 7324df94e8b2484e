// The live display: plots, value labels, status line, and what the page shows
// when a run starts and ends.
#include <QFormLayout>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "alarmcontrols.h"
#include "lumocustomplot.h"
#include "pageanalysis.h"
#include "presentation.h"
#include "runplots.h"
#include "runregistry.h"
#include "sensoridentity.h"
#include "tarnlitesystemtab.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

namespace {

constexpr int kPlotMinimumHeight = 80;

// Curves of the environment plot (shared with the run's pictures).
using runplots::kEnviroCurves;

// Fills an opaque widget with its background colour before it paints itself.
class PlainBackground : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* widget = static_cast<QWidget*>(watched);
            QPainter painter(widget);
            painter.fillRect(static_cast<QPaintEvent*>(event)->rect(), widget->palette().brush(QPalette::Window));
        }
        return false;
    }
};

// Keeps a scroll area as wide as its content asks, plus its scroll bar while
// that is shown: the content widens with a long port or version text but
// never takes the scroll bar's room (its value labels would keep it).
class ColumnWidth : public QObject {
public:
    explicit ColumnWidth(QScrollArea* area) : QObject(area), host(area) {
        area->widget()->installEventFilter(this);
        barHolder(area)->installEventFilter(this);
        fit(area);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The area's children still send events while it is being destroyed;
        // by then it is no longer a scroll area and there is nothing to fit.
        QScrollArea* area = qobject_cast<QScrollArea*>(host);
        if (!area)
            return false;
        const QEvent::Type type = event->type();
        if (watched == barHolder(area)) {
            if (type == QEvent::Show || type == QEvent::Hide)
                fit(area);
            return false;
        }
        if (type == QEvent::LayoutRequest || type == QEvent::Resize || type == QEvent::Show)
            fit(area);
        // Resized by the scroll area while its page was hidden, the content can
        // be shown with its layout still at the old size; lay it out again.
        QLayout* layout = area->widget()->layout();
        if (type == QEvent::Show && layout && layout->geometry() != area->widget()->rect())
            layout->invalidate();
        return false;
    }

private:
    // The scroll area shows and hides the bar's container, not the bar.
    static QWidget* barHolder(QScrollArea* area) { return area->verticalScrollBar()->parentWidget(); }
    static void fit(QScrollArea* area) {
        QWidget* content = area->widget();
        int width = std::max(content->sizeHint().width(), content->minimumSizeHint().width());
        if (!barHolder(area)->isHidden())
            width += area->verticalScrollBar()->sizeHint().width();
        area->setFixedWidth(width + 2 * area->frameWidth());
    }
    QWidget* const host;  // as a plain widget, so asking what it still is stays valid
};

}  // namespace

void TarnLiteSystemTab::setupPlots() {
    concAxisMax = runplots::kConcAxisStart;

    // Both plots paint every pixel from their buffers; nothing to erase first.
    ui->plot_conc->setAttribute(Qt::WA_OpaquePaintEvent);
    ui->plot_enviro->setAttribute(Qt::WA_OpaquePaintEvent);
    runplots::setUpConcPlot(ui->plot_conc);
    runplots::setUpEnviroPlot(ui->plot_enviro);
    QLabel* legends[] = {ui->label_tempLegend, ui->label_pressureLegend, ui->label_humidityLegend};
    for (int i = 0; i < 3; ++i)
        legends[i]->setStyleSheet(QStringLiteral("QLabel{color:%1;}").arg(QLatin1String(kEnviroCurves[i].colour)));
}

void TarnLiteSystemTab::setupValueLabels() {
    // The value labels change every cycle. Their style sheet background is a
    // white rounded rectangle on the page's white frames, which costs more to
    // draw than the text: they are made opaque and filled with plain white
    // (the same pixels), so a new text repaints just the label.
    auto* fill = new PlainBackground(this);
    fill->setObjectName(QStringLiteral("valueLabelBackground"));
    for (QLabel* label : {ui->label_flamID, ui->label_flamConc, ui->label_temp, ui->label_pressure,
                          ui->label_humidity, ui->label_time, ui->label_cycles, ui->label_status}) {
        label->setAttribute(Qt::WA_OpaquePaintEvent);
        label->installEventFilter(fill);
    }
}

void TarnLiteSystemTab::setupButtonColumn() {
    // On a short screen the column scrolls instead of making the page (and the
    // window) taller than the screen; a keyboard user tabbing through it has
    // the focused button scrolled into view. Its width follows its content.
    new ColumnWidth(ui->scrollArea_connection);
    ui->scrollArea_connection->viewport()->setAutoFillBackground(false);
    // Below this a plot is all axes and no curve; the page stops shrinking there.
    ui->plot_conc->setMinimumHeight(kPlotMinimumHeight);
    ui->plot_enviro->setMinimumHeight(kPlotMinimumHeight);
}

void TarnLiteSystemTab::setupAlarms() {
    alarmControls = new AlarmControls(*session, ui->frame_connection);
    alarmControls->setUnitSource([this] { return runInProgress ? session->unitCode() : nextRunUnit(); });
    int row = -1;
    QFormLayout::ItemRole role;
    ui->formLayout->getLayoutPosition(ui->horizontalLayout_gasMarks, &row, &role);
    ui->formLayout->insertRow(row + 1, alarmControls);
    // Tab walks the column top to bottom: the alarm row's buttons come after Gas off.
    QWidget* previous = ui->pushButton_gasOff;
    for (const char* name : {"pushButton_alarms", "pushButton_acknowledge"}) {
        QWidget* button = alarmControls->findChild<QWidget*>(QLatin1String(name));
        QWidget::setTabOrder(previous, button);
        previous = button;
    }
    connect(alarmControls, &AlarmControls::stateChanged, this, [this](presentation::AlarmState state) {
        shown.alarm = state;
        if (!shutDown)
            publishSnapshot(shown.state);
    });
}

void TarnLiteSystemTab::enableRunDataButtons(bool enabled) {
    ui->pushButton_saveData->setEnabled(enabled);
    ui->pushButton_clearData->setEnabled(enabled);
}

void TarnLiteSystemTab::enableGasMarkButtons(bool enabled) {
    ui->pushButton_gasOn->setEnabled(enabled);
    ui->pushButton_gasOff->setEnabled(enabled);
}

void TarnLiteSystemTab::showMark(double seconds, const QString& label) {
    runplots::addEventMark(ui->plot_conc, seconds, label, QColor("#808080"));
    ui->plot_conc->replot(QCustomPlot::rpQueuedReplot);
}

double TarnLiteSystemTab::elapsedSeconds() const {
    return elapsedTimer->isValid() ? elapsedTimer->elapsed() / 1000.0 : 0.0;
}

QString TarnLiteSystemTab::elapsedText(qint64 ms) {
    return QStringLiteral("%1h:%2m:%3s")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg((ms / 60000) % 60, 2, 10, QLatin1Char('0'))
        .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'));
}

void TarnLiteSystemTab::showTimeAndCycles(int32_t cycle) {
    setValueText(ui->label_time, elapsedText(elapsedTimer->isValid() ? elapsedTimer->elapsed() : 0));
    setValueText(ui->label_cycles, QString::number(cycle));
}

void TarnLiteSystemTab::setValueText(QLabel* label, const QString& text) {
    if (label->text() == text)
        return;
    if (!label->isVisible()) {  // a hidden page lays nothing out
        label->setText(text);
        return;
    }
    if (!heldLabels.contains(label)) {
        if (heldLabels.isEmpty() && layout())
            setMinimumSize(layout()->totalMinimumSize());
        label->setFixedSize(label->size());
        heldLabels.append(label);
    }
    label->setText(text);
    const QSize need = label->sizeHint().expandedTo(label->size());
    if (need != label->size())
        label->setFixedSize(need);
}

void TarnLiteSystemTab::releaseValueLabels() {
    if (heldLabels.isEmpty())
        return;
    for (QLabel* label : qAsConst(heldLabels)) {
        label->setMinimumSize(0, 0);
        label->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    heldLabels.clear();
    setMinimumSize(0, 0);
}

void TarnLiteSystemTab::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (heldLabels.isEmpty())
        return;
    releaseValueLabels();
    if (layout())
        layout()->activate();  // place them before anything is painted
}

void TarnLiteSystemTab::updateDisplay(const Sample& sample) {
    const answer_t& a = sample.answer;

    const presentation::StatusLine line = presentation::statusLine(sample.status, sample.statusText);
    statusShown = line.text;
    setStatusLine(line);

    shown.gas = presentation::gasText(a.gasId);
    setValueText(ui->label_flamID, shown.gas);
    const double conc = a.concentration;
    shown.concentrationText = RunSession::concentrationText(conc, session->ppm());
    setValueText(ui->label_flamConc, shown.concentrationText);

    const double key = elapsedSeconds();
    LumoCustomPlot* concPlot = ui->plot_conc;
    runplots::addPoint(concPlot, 0, key, conc);
    concAxisMax = runplots::raisedConcAxis(concAxisMax, conc);
    if (!concPlot->userControlled) {
        concPlot->xAxis->setRange(0, key);
        concPlot->yAxis->setRange(-10, concAxisMax);
    }
    concPlot->replotShown(QCustomPlot::rpQueuedRefresh);  // repainted once per cycle with the labels

    setValueText(ui->label_temp, QString::number(a.temperature, 'f', 1));
    setValueText(ui->label_pressure, QString::number(a.pressure, 'f', 1));
    setValueText(ui->label_humidity, QString::number(a.humidity, 'f', 1));

    LumoCustomPlot* enviro = ui->plot_enviro;
    const double values[3] = {a.temperature, a.pressure, a.humidity};
    for (int i = 0; i < 3; ++i) {
        runplots::addPoint(enviro, i, key, values[i]);
        if (std::isnan(values[i]))  // a rescale ignores these too
            continue;
        const int side = kEnviroCurves[i].rightAxis ? 1 : 0;
        if (!enviroHasData[side]) {
            enviroMin[side] = enviroMax[side] = values[i];
            enviroHasData[side] = true;
        } else {
            enviroMin[side] = std::min(enviroMin[side], values[i]);
            enviroMax[side] = std::max(enviroMax[side], values[i]);
        }
    }
    if (!enviro->userControlled) {
        enviro->xAxis->setRange(0, key);
        followEnviroData(0);
        followEnviroData(1);
        enviro->yAxis->scaleRange(1.1);
        enviro->yAxis2->scaleRange(5);
    }
    enviro->replotShown(QCustomPlot::rpQueuedRefresh);
}

void TarnLiteSystemTab::followEnviroData(int side) {
    if (!enviroHasData[side])
        return;
    QCPAxis* axis = side ? ui->plot_enviro->yAxis2 : ui->plot_enviro->yAxis;
    QCPRange range(enviroMin[side], enviroMax[side]);
    if (!QCPRange::validRange(range)) {
        // Constant data: centred on the value with the span a cleared axis has (0 .. 5), as
        // the saved pictures do. The current span already holds the last cycle's widening,
        // so keeping it would widen the axis again every cycle.
        const double centre = (range.lower + range.upper) * 0.5;
        range = QCPRange(centre - 2.5, centre + 2.5);
    }
    axis->setRange(range);
}

void TarnLiteSystemTab::setStatusLine(const presentation::StatusLine& line) {
    // Re-applying an unchanged style sheet re-polishes the label every cycle.
    const QString style = presentation::labelStyle(line.tone);
    if (ui->label_status->styleSheet() != style)
        ui->label_status->setStyleSheet(style);
    setValueText(ui->label_status, line.text);
}

uint8_t TarnLiteSystemTab::nextRunUnit() const {
    // Neither LEL button checked (never so with the form's group): %VOL, as always.
    const bool lelChosen = ui->radioButton_lel->isChecked() || ui->radioButton_lel2->isChecked();
    return RunSession::runUnitCode(reportsInPpm(*sensor), sensor->useVolUnit || !lelChosen,
                                   !ui->radioButton_lel->isChecked());
}

void TarnLiteSystemTab::applyRunUnit() {
    const bool ppm = reportsInPpm(*sensor);
    const uint8_t code = nextRunUnit();
    session->setUnit(code, ppm);
    shown.unit = RunSession::unitText(code);
    ui->label_flamConcUnit->setText(shown.unit);
    runplots::setConcUnit(ui->plot_conc, shown.unit);
}

void TarnLiteSystemTab::showRunStarted() {
    ui->pushButton_start->setText(QStringLiteral("Stop"));
    enableRunDataButtons(false);
    ui->radioButton_lel->setEnabled(false);
    ui->radioButton_lel2->setEnabled(false);
    ui->radioButton_unit2->setEnabled(false);
    // The worker owns the link until the run ends.
    comboEnabledBeforeRun = ui->comboBox_ports->isEnabled();
    ui->pushButton_scanPorts->setEnabled(false);
    ui->comboBox_ports->setEnabled(false);
    if (!elapsedTimer->isValid())
        elapsedTimer->start();
}

void TarnLiteSystemTab::setUnitButtonsAfterRun() {
    const uint32_t type = sensor->sensorInfo.sensorType;
    if (reportsInPpm(*sensor)) {
        ui->radioButton_lel->setEnabled(false);
        ui->radioButton_lel2->setEnabled(false);
        ui->radioButton_unit2->setEnabled(false);
    } else if (type == 3) {
        ui->radioButton_lel->setEnabled(true);
        ui->radioButton_lel2->setEnabled(swCompatibleIEC());
        ui->radioButton_unit2->setEnabled(true);
    } else {
        ui->radioButton_lel->setEnabled(true);
        ui->radioButton_lel2->setEnabled(false);
        ui->radioButton_unit2->setEnabled(false);
    }
}

void TarnLiteSystemTab::onRunEnded(bool failed, bool lost) {
    if (shutDown)
        return;
    // A run the user did not end was lost; shown before the box waits for OK.
    // The run's "Stopped" line is written and its files closed already.
    if (lost)
        publishSnapshot(SensorSnapshot::State::Lost);
    if (failed) {
        messageBox(QString::fromLatin1(sensor->sensorName),
                   QStringLiteral("There was an error getting an answer from the VQS.\r\nPlease restart the VQS."),
                   "QLabel{min-width: 250px;}");
    }
    {
        // A run that ended by itself leaves the button checked; uncheck it
        // quietly so the next press starts instead of asking for a stop.
        const QSignalBlocker blocker(ui->pushButton_start);
        ui->pushButton_start->setChecked(false);
    }
    ui->pushButton_start->setEnabled(true);
    ui->pushButton_start->setText(QStringLiteral("Start"));
    enableRunDataButtons(true);
    enableGasMarkButtons(false);
    ui->radioButton_unit2->setEnabled(false);
    setUnitButtonsAfterRun();
    const presentation::StatusLine idle = presentation::idleLine();
    statusShown = idle.text;
    setStatusLine(idle);
    runPort = {};
    if (runInProgress) {
        runInProgress = false;
        ui->pushButton_scanPorts->setEnabled(true);
        ui->comboBox_ports->setEnabled(comboEnabledBeforeRun);
    }
    releaseValueLabels();
    publishSnapshot(lost ? SensorSnapshot::State::Lost : SensorSnapshot::State::Idle);
}

void TarnLiteSystemTab::resetDisplay() {
    releaseValueLabels();
    shown.concentrationText = QStringLiteral("0");
    shown.gas = QStringLiteral("None");
    ui->label_flamConc->setText(shown.concentrationText);
    ui->label_flamID->setText(shown.gas);
    LumoCustomPlot* conc = ui->plot_conc;
    runplots::clearCurves(conc);
    conc->clearItems();  // the last run's gas marks
    analysis->clear();
    conc->xAxis->setRange(0, 10);
    conc->yAxis->setRange(-10, 120);
    conc->replot();

    ui->label_temp->setText(QStringLiteral("0"));
    ui->label_pressure->setText(QStringLiteral("0"));
    ui->label_humidity->setText(QStringLiteral("0"));
    LumoCustomPlot* enviro = ui->plot_enviro;
    runplots::clearCurves(enviro);
    enviroHasData[0] = enviroHasData[1] = false;
    enviro->xAxis->setRange(0, 10);
    enviro->yAxis->setRange(0, 5);
    enviro->yAxis2->setRange(0, 5);
    enviro->replot();
}
