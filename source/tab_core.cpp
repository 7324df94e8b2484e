// Construction, wiring, the worker thread, the cycle hand-off and teardown.
#include <QDebug>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QThread>
#include <QProgressDialog>

#include "lumocustomplot.h"
#include "messagebox.h"
#include "pageanalysis.h"
#include "portlister.h"
#include "sensoridentity.h"
#include "runregistry.h"
#include "tarnlitesystemtab.h"
#include "testnotedialog.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

namespace {

// How long teardown waits for the worker to finish its cycle and stop the
// sensor. A cycle ends within one poll once a stop is requested; this also
// covers one framing retry sequence.
constexpr unsigned long kWorkerStopWaitMs = 15000;

}  // namespace

TarnLiteSystemTab::TarnLiteSystemTab(QWidget* parent) : QWidget(parent), ui(new Ui::TarnLiteSystemTab) {
    ui->setupUi(this);
    tabWidget = qobject_cast<QTabWidget*>(parent);

    setupPlots();
    setupValueLabels();
    // A type the sensor does not report is said in words that need two lines,
    // not a wider panel.
    ui->label_SensorType->setWordWrap(true);
    setupButtonColumn();

    testNoteDialog = new TestNoteDialog();
    networkManager = new QNetworkAccessManager();
    elapsedTimer = new QElapsedTimer();
    session = new RunSession(&recorder, elapsedTimer);
    sensor = session->sensor();
    setupAlarms();

    // The page is one subscriber of its run: samples, state and the end.
    connect(session, &RunSession::sampleArrived, this, &TarnLiteSystemTab::onSample);
    connect(session, &RunSession::runEnded, this, &TarnLiteSystemTab::onRunEnded);
    connect(session, &RunSession::stateChanged, this, [this](RunSession::State state) {
        if (state == RunSession::State::Recovering && !shutDown && runInProgress)
            publishSnapshot(SensorSnapshot::State::Recovering);
    });
    connect(session, &RunSession::markMade, this,
            [this](double seconds, const QString&, const QString& label) { showMark(seconds, label); });
    connect(session, &RunSession::portMoved, this, &TarnLiteSystemTab::onSensorPortMoved);
    analysis = new PageAnalysis(this, ui->plot_conc, ui->gridLayout_4, 3, 1, session);
    connect(analysis, &PageAnalysis::responseChanged, this, [this](const QString& text) {
        shown.response = text;
        publishSnapshot(shown.state);
    });
    connect(sensor, &VQS::VQSFWChunkWritten, this, &TarnLiteSystemTab::onVQSFWChunkWritten);
    connect(networkManager, &QNetworkAccessManager::finished, this, &TarnLiteSystemTab::onReplyFinished);

    // What the form shows before any sensor or run.
    shown.unit = ui->label_flamConcUnit->text();
    shown.gas = ui->label_flamID->text();
    shown.concentrationText = ui->label_flamConc->text();
    statusShown = ui->label_status->text();

    ui->radioButton_unit2->setVisible(false);
}

TarnLiteSystemTab::~TarnLiteSystemTab() {
    shutdown();
    delete ui;
}

void TarnLiteSystemTab::shutdown() {
    if (shutDown)
        return;
    shutDown = true;

    // Nothing the worker still reports may reach this page any more.
    QObject::disconnect(session, nullptr, this, nullptr);
    QObject::disconnect(sensor, nullptr, this, nullptr);

    session->shutDown(kWorkerStopWaitMs);
    delete session;
    session = nullptr;
    sensor = nullptr;

    closeRunFiles();

    delete testNoteDialog;
    testNoteDialog = nullptr;
    delete progressDialog;
    progressDialog = nullptr;
    delete networkManager;
    networkManager = nullptr;
    delete elapsedTimer;
    elapsedTimer = nullptr;
}

bool TarnLiteSystemTab::runActive() const {
    return runInProgress;
}

int TarnLiteSystemTab::messageBox(const QString& text, const QString& informativeText, const char* styleSheet,
                                  bool withCancel, bool information) {
    const QMessageBox::Icon icon = withCancel    ? QMessageBox::Question
                                   : information ? QMessageBox::Information
                                                 : QMessageBox::Warning;
    return showMessageBox(this, icon, text, informativeText, QLatin1String(styleSheet), withCancel);
}

void TarnLiteSystemTab::on_pushButton_testNotes_clicked() {
    testNoteDialog->show();
}

void TarnLiteSystemTab::on_pushButton_gasOn_clicked() {
    session->mark(QLatin1String(RunSession::kGasOn));
}

void TarnLiteSystemTab::on_pushButton_gasOff_clicked() {
    session->mark(QLatin1String(RunSession::kGasOff));
}

void TarnLiteSystemTab::on_pushButton_start_toggled(bool checked) {
    if (shutDown)
        return;
    if (!checked) {
        ui->pushButton_start->setEnabled(false);
        enableGasMarkButtons(false);
        requestStop();
        return;
    }
    if (startRun() != 0) {
        // Abandoned before anything started: uncheck without asking for a stop.
        const QSignalBlocker blocker(ui->pushButton_start);
        ui->pushButton_start->setChecked(false);
        return;
    }
    applyRunUnit();
    showRunStarted();
    runInProgress = true;
    session->begin();
    enableGasMarkButtons(true);
    ui->plot_conc->userControlled = false;
    ui->plot_enviro->userControlled = false;
    publishRunStart();
}

void TarnLiteSystemTab::requestStop() {
    session->requestStop();
}

void TarnLiteSystemTab::onSensorPortMoved(QString portPath) {
    if (shutDown || !runInProgress)
        return;
    const QString name = PortLister::nameOfPath(portPath);
    if (name.isEmpty() || name == runPort.name())
        return;
    // The run now holds the new port, so other pages' scans and selections
    // leave it alone, and frees the old one.
    RunRegistry::Reservation hold = RunRegistry::reservePort(name, this);
    if (!hold)
        qWarning().noquote() << "run moved to" << name << "which another page holds";
    runPort = std::move(hold);

    // The run's entry names the port its sensor answers at. An entry of the
    // scan that named that port is stale: its sensor is this one now.
    const QString oldPort = portNameOfEntry(identifiedEntry);
    const QString moved = QStringLiteral("%1 - %2").arg(sensorNameOfEntry(identifiedEntry), name);
    {
        const QSignalBlocker blocker(ui->comboBox_ports);
        for (int i = ui->comboBox_ports->count() - 1; i >= 0; --i) {
            if (ui->comboBox_ports->itemText(i) != identifiedEntry &&
                ui->comboBox_ports->itemData(i, PortNameRole).toString() == name)
                ui->comboBox_ports->removeItem(i);
        }
        const int at = ui->comboBox_ports->findText(identifiedEntry);
        if (at >= 0) {
            ui->comboBox_ports->setItemText(at, moved);
            ui->comboBox_ports->setItemData(at, name, PortNameRole);
        }
    }
    for (int i = portEntries.size() - 1; i >= 0; --i) {
        PortEntry& entry = portEntries[i];
        if (!oldPort.isEmpty() && entry.portName == oldPort) {
            entry.portName = name;
            entry.path = portPath;
        } else if (entry.portName == name) {
            portEntries.removeAt(i);
        }
    }
    if (tabWidget && tabWidget->indexOf(this) >= 0 && tabWidget->tabText(tabWidget->indexOf(this)) == identifiedEntry)
        tabWidget->setTabText(tabWidget->indexOf(this), moved);
    identifiedEntry = moved;
    comPort = name.startsWith(QLatin1String("COM")) ? name.mid(3) : name;
}

void TarnLiteSystemTab::onVQSWorkComplete() {
    if (shutDown)
        return;
    // The idle object's own unit settings stand for the run's.
    session->setUnit(sensor->concUnit, reportsInPpm(*sensor));
    session->deliver(sensor->takeSample());
}

void TarnLiteSystemTab::onVQSStopped() {
    if (shutDown)
        return;
    session->finish(sensor->commFailed != 0);
}

void TarnLiteSystemTab::onSample(const Sample& sample) {
    // Only a cycle that brought a new, good answer is shown: a failed one
    // would repeat the last sample.
    if (shutDown || !sample.recorded())
        return;
    // The compensated signals go to the run's files only: nothing on the page
    // reads them back, and a list of every cycle's would grow for as long as
    // the run.
    updateDisplay(sample);
    showTimeAndCycles(sample.cycle);
    publishCycle(sample);
}
