// Finding sensors on the serial ports and identifying the selected one.
#include <QCoreApplication>
#include <QDebug>
#include <QTabWidget>

#include "alarmcontrols.h"
#include "portlister.h"
#include "presentation.h"
#include "runregistry.h"
#include "sensoridentity.h"
#include "tarnlitesystemtab.h"
#include "testnotedialog.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

QString TarnLiteSystemTab::portNameOfEntry(const QString& entry) const {
    const int at = entry.isEmpty() ? -1 : ui->comboBox_ports->findText(entry);
    return at < 0 ? QString() : ui->comboBox_ports->itemData(at, PortNameRole).toString();
}

QString TarnLiteSystemTab::sensorNameOfEntry(const QString& entry) const {
    const int at = entry.isEmpty() ? -1 : ui->comboBox_ports->findText(entry);
    return at < 0 ? QString() : ui->comboBox_ports->itemData(at, SensorNameRole).toString();
}

bool TarnLiteSystemTab::swCompatible() {
    const uint8_t* v = sensor->firmwareVersion;
    qInfo() << "firmware version" << v[0] << v[1] << v[2] << v[3];
    return firmwareCompatible(v);
}

bool TarnLiteSystemTab::swCompatibleIEC() {
    const uint8_t* v = sensor->firmwareVersion;
    qInfo() << "firmware version" << v[0] << v[1] << v[2] << v[3];
    return firmwareCompatibleIEC(v);
}

bool TarnLiteSystemTab::selfTestPassed() const {
    return ::selfTestPassed(sensor->lastReplyHeader.status);
}

void TarnLiteSystemTab::usePort(const PortEntry& port) {
    if (port.portName.startsWith(QLatin1String("COM"))) {
        comPort = port.portName.mid(3);
        sensor->portNumber = comPort.toInt();
        sensor->portPath.clear();
    } else {
        // No COM number here: the sensor object opens the device path.
        comPort = port.portName;
        sensor->portNumber = -1;
        sensor->portPath = port.path.toStdString();
    }
    sensor->transport = port.transport;
}

bool TarnLiteSystemTab::selectPortFromEntry(const QString& entry) {
    const QString portName = portNameOfEntry(entry);
    for (const PortEntry& port : qAsConst(portEntries)) {
        if (!portName.isEmpty() && port.portName == portName) {
            usePort(port);
            return true;
        }
    }
    return false;
}

void TarnLiteSystemTab::on_pushButton_scanPorts_clicked() {
    if (shutDown || runInProgress)  // the worker owns the link during a run
        return;
    ui->pushButton_scanPorts->setEnabled(false);
    QCoreApplication::processEvents();

    for (int i = ui->comboBox_ports->count(); i >= 0; --i)
        ui->comboBox_ports->removeItem(i);
    portEntries.clear();

    sensor->retryCount = 0;
    const QList<PortCandidate> ports = PortLister::availablePorts();
    for (const PortCandidate& port : ports) {
        const int transport = PortLister::classify(port);
        if (transport < 0)
            continue;
        // Another page's run owns this port: a probe would cut into its cycles.
        if (RunRegistry::portHeldByOther(port.name, this))
            continue;
        PortEntry entry;
        entry.portName = port.name;
        entry.path = port.path;
        entry.transport = transport;
        usePort(entry);

        if (sensor->connect() != VQS_SUCCESS) {
            qInfo().noquote() << "Error opening COM" << comPort << "during scan";
            continue;
        }
        probingPort = port.name;
        // Each probe starts clean: no field of the port probed before may
        // stand in for one this sensor does not send.
        sensor->resetIdentity();
        if (sensor->getVersion() == VQS_SUCCESS && sensor->getSensorName() == VQS_SUCCESS) {
            const QString sensorName = QString::fromLatin1(sensor->sensorName);
            portEntries.append(entry);
            // The port goes in with the item: adding the first item already selects it.
            ui->comboBox_ports->addItem(QStringLiteral("%1 - %2").arg(sensorName, port.name), port.name);
            ui->comboBox_ports->setItemData(ui->comboBox_ports->count() - 1, sensorName, SensorNameRole);
            ui->comboBox_ports->setEnabled(true);
            ui->comboBox_ports->model()->sort(0, Qt::AscendingOrder);
        }
        probingPort.clear();
        sensor->disconnect();
        sensor->portNumber = 0;
        sensor->portPath.clear();
    }
    sensor->retryCount = 3;
    ui->pushButton_scanPorts->setEnabled(true);

    if (!ui->comboBox_ports->isEnabled()) {
        messageBox(QStringLiteral("No VQS devices found"), QStringLiteral("Please check connections and try again."),
                   "QLabel{min-width: 250px;}");
        return;
    }
    // The probes that followed the shown entry's identification left the
    // last probed sensor in the sensor object: read the shown one again, so a
    // Start right after the scan runs the sensor the page shows.
    const QString shown = ui->comboBox_ports->currentText();
    if (selectPortFromEntry(shown) && sensor->connect() == VQS_SUCCESS) {
        sensor->identify();
        sensor->disconnect();
        identifiedEntry = shown;
    }
}

void TarnLiteSystemTab::resetIdentification() {
    comPort.clear();
    identifiedEntry.clear();
    sensor->resetIdentity();
    ui->label_fwVersion->clear();
    ui->label_calDate->clear();
    ui->label_SensorName->clear();
    shown.name.clear();
    alarmControls->setSensorName(QString());
    ui->label_SensorType->clear();
    ui->label_sku->clear();
    ui->pushButton_start->setEnabled(false);
    ui->pushButton_updateFirmware->setEnabled(false);
    ui->pushButton_updateFirmware->setText(QStringLiteral("Firmware Unknown"));
    if (tabWidget && tabWidget->indexOf(this) >= 0)
        tabWidget->setTabText(tabWidget->indexOf(this), QStringLiteral("New Tab"));
    testNoteDialog->setWindowTitle(QStringLiteral("Test Notes"));
    publishSnapshot(SensorSnapshot::State::Idle);
}

void TarnLiteSystemTab::on_comboBox_ports_currentIndexChanged(int) {
    if (shutDown || runInProgress)  // the worker owns the link during a run
        return;
    const QString entry = ui->comboBox_ports->currentText();
    // During a scan only the entry just added is identified, over the port the
    // scan holds open; re-sorting the list must not open another port meanwhile.
    if (!probingPort.isEmpty() && portNameOfEntry(entry) != probingPort)
        return;
    if (!selectPortFromEntry(entry)) {
        resetIdentification();
        return;
    }
    if (RunRegistry::portHeldByOther(portNameOfEntry(entry), this)) {
        qInfo().noquote() << "sensor on" << portNameOfEntry(entry) << "is running on another page";
        resetIdentification();
        return;
    }
    if (sensor->connect() != VQS_SUCCESS) {
        qDebug() << "problem connecting to sensor";
        return;
    }
    // A sensor that stops answering half way is shown with what it said;
    // nothing of an earlier sensor fills the gaps.
    if (sensor->identify() != VQS_SUCCESS)
        qInfo().noquote() << "identification of" << entry << "incomplete";
    sensor->disconnect();
    identifiedEntry = entry;

    const QString name = QString::fromLatin1(sensor->sensorName);
    ui->label_SensorName->setText(name);
    shown.name = name;
    alarmControls->setSensorName(name);
    ui->label_SensorType->setText(sensorTypeDescription(*sensor));
    ui->label_sku->setText(QString::fromLatin1(sensor->sensorSku));
    if (tabWidget && tabWidget->indexOf(this) >= 0)
        tabWidget->setTabText(tabWidget->indexOf(this), entry);
    publishSnapshot(SensorSnapshot::State::Idle);
    ui->label_fwVersion->setText(QString::fromLatin1(sensor->versionText));
    ui->label_calDate->setText(QString::fromLatin1(sensor->sensorInfo.calibrationDate,
                                                   qstrnlen(sensor->sensorInfo.calibrationDate,
                                                            sizeof(sensor->sensorInfo.calibrationDate))));
    testNoteDialog->setWindowTitle(QStringLiteral("%1 - Test Notes").arg(name));

    const presentation::StatusLine line =
        presentation::identifiedLine(selfTestPassed(), QString::fromLatin1(sensor->statusText));
    ui->label_status->setStyleSheet(presentation::labelStyle(line.tone));
    statusShown = line.text;
    ui->label_status->setText(line.text);
    if (line.kind == presentation::StatusKind::Fault) {
        ui->pushButton_start->setEnabled(false);
        messageBox(QStringLiteral("Sensor Failure"), QStringLiteral("Failed 'Power On Self Test' (POST)."),
                   "QLabel{min-width: 300px;}");
        return;
    }
    if (swCompatible()) {
        ui->pushButton_start->setEnabled(true);
    } else {
        ui->pushButton_start->setEnabled(false);
        messageBox(QStringLiteral("Incompatible Firmware Version"),
                   QStringLiteral("This application requires sensor firmware Ver. 3.0.0.0 or higher.  "
                                  "Please upgrade sensor firmware."),
                   "QLabel{min-width: 300px;}");
    }
    offerUnits();

    ui->pushButton_updateFirmware->setEnabled(false);
    ui->pushButton_updateFirmware->setText(QStringLiteral("Checking New Firmware"));
    checkFirmware();
}

void TarnLiteSystemTab::offerUnits() {
    const uint32_t type = sensor->sensorInfo.sensorType;
    if (reportsInPpm(*sensor)) {
        ui->radioButton_lel->setEnabled(false);
        ui->radioButton_lel2->setEnabled(false);
        ui->radioButton_unit2->setText(QLatin1String(presentation::unitName(presentation::UnitPpm)));
        ui->radioButton_unit2->setEnabled(true);
        ui->radioButton_unit2->setChecked(true);
        ui->radioButton_unit2->setVisible(true);
        ui->label_flamConcUnit->setText(QLatin1String(presentation::unitName(presentation::UnitPpm)));
        shown.unit = QLatin1String(presentation::unitName(presentation::UnitPpm));
    } else {
        ui->radioButton_lel->setEnabled(true);
        ui->radioButton_lel->setChecked(true);
        // Only firmware that knows the IEC scale may be offered it, whatever
        // an earlier sensor on this page could do.
        ui->radioButton_lel2->setEnabled(type == 3 && swCompatibleIEC());
        ui->radioButton_unit2->setEnabled(false);
        ui->radioButton_unit2->setText(QLatin1String(presentation::unitName(presentation::UnitVol)));
        ui->radioButton_unit2->setVisible(false);
    }
    sensor->useVolUnit = false;
}
