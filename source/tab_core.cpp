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
#include "portlister.h"
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
    sensor = new VQS();
    networkManager = new QNetworkAccessManager();
    elapsedTimer = new QElapsedTimer();
    midCompNormHistory = new QList<float>();
    maxCompNormHistory = new QList<float>();

    connect(this, &TarnLiteSystemTab::start, sensor, &VQS::startVQS);
    connect(this, &TarnLiteSystemTab::stop, sensor, &VQS::stopVQS);
    connect(sensor, &VQS::VQSWorkComplete, this, &TarnLiteSystemTab::onVQSWorkComplete);
    connect(sensor, &VQS::VQSStopped, this, &TarnLiteSystemTab::onVQSStopped);
    connect(sensor, &VQS::VQSFWChunkWritten, this, &TarnLiteSystemTab::onVQSFWChunkWritten);
    // Where a lost sensor was found again belongs in the run's time log.
    connect(sensor, &VQS::VQSUpdateTimeLog, this, &TarnLiteSystemTab::writeTimeLog, Qt::QueuedConnection);
    connect(sensor, &VQS::VQSRecovering, this, [this] {
        if (!shutDown && runInProgress)
            publishSnapshot(SensorSnapshot::State::Recovering);
    });
    connect(sensor, &VQS::VQSPortMoved, this, &TarnLiteSystemTab::onSensorPortMoved, Qt::QueuedConnection);
    connect(networkManager, &QNetworkAccessManager::finished, this, &TarnLiteSystemTab::onReplyFinished);

    // The ports a lost sensor may have moved to: the scan's candidates of the
    // sensor's framing. Asked on the worker thread, during recovery only.
    VQS* device = sensor;
    sensor->candidatePorts = [device]() { return PortLister::candidatePaths(device->transport); };

    workerThread = new QThread();
    sensor->moveToThread(workerThread);
    workerThread->start(QThread::InheritPriority);

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
    QObject::disconnect(sensor, nullptr, this, nullptr);
    QObject::disconnect(this, nullptr, sensor, nullptr);

    if (workerThread) {
        shutDownSensorThread(sensor, workerThread, kWorkerStopWaitMs);
        sensor = nullptr;
        workerThread = nullptr;
    }

    closeRunFiles();

    delete testNoteDialog;
    testNoteDialog = nullptr;
    delete progressDialog;
    progressDialog = nullptr;
    delete networkManager;
    networkManager = nullptr;
    delete elapsedTimer;
    elapsedTimer = nullptr;
    delete midCompNormHistory;
    midCompNormHistory = nullptr;
    delete maxCompNormHistory;
    maxCompNormHistory = nullptr;
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

void TarnLiteSystemTab::on_pushButton_start_toggled(bool checked) {
    if (shutDown)
        return;
    if (!checked) {
        ui->pushButton_start->setEnabled(false);
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
    sensor->stopRequested = false;
    emit start();
    writeTimeLog(QStringLiteral("Started"));
    ui->plot_conc->userControlled = false;
    ui->plot_enviro->userControlled = false;
    publishRunStart();
}

void TarnLiteSystemTab::requestStop() {
    // Raised before the queued stop, so a UART cycle waiting for a new sample
    // ends within one poll and lets the stop run.
    sensor->stopRequested = true;
    emit stop();
}

void TarnLiteSystemTab::onSensorPortMoved(QString portPath) {
    if (shutDown || !runInProgress)
        return;
    const QString name = PortLister::nameOfPath(portPath);
    if (name.isEmpty() || name == runPort)
        return;
    // The run now holds the new port, so other pages' scans and selections
    // leave it alone, and frees the old one.
    RunRegistry::releasePort(runPort, this);
    runPort = name;
    RunRegistry::claimPort(runPort, this);

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
    // Only a cycle that brought a new, good answer is shown and recorded: a
    // failed one would repeat the last sample.
    if (RunRecorder::cycleIsRecordable(*sensor)) {
        ++sensor->cycleCount;
        updateDisplay();
        writeDataRow();
        publishCycle();
    }
    QMetaObject::invokeMethod(sensor, "doWork", Qt::QueuedConnection);
}
