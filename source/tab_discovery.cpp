// Finding sensors on the serial ports and identifying the selected one.
#include <QCoreApplication>
#include <QDebug>
#include <QTabWidget>

#include "portlister.h"
#include "tarnlitesystemtab.h"
#include "testnotedialog.h"
#include "ui_tarnlitesystemtab.h"
#include "vqs.h"

namespace {

const char* const kStyleGreen = "QLabel{color:#26A65B;font-family:Quicksand;}";
const char* const kStyleRed = "QLabel{color:#Ff0000;font-family:Quicksand;}";

// Sensor status codes that still count as a passed power-on self test.
const uint8_t kSelfTestPassCodes[] = {0x00, 0x26, 0x27, 0x28, 0x30, 0x31, 0x33, 0x34, 0x35, 0x36};

struct SensorTypeName {
    uint32_t type;
    const char* text;
};
const SensorTypeName kSensorTypeNames[] = {
    {3, "VQS Flam. Gas"},
    {4, "VQS A2L Refrigerant"},
    {5, "VQS Methane Gas"},
    {6, "VQS A1 Gas"},
};

QString sensorTypeName(uint32_t type) {
    for (const SensorTypeName& entry : kSensorTypeNames)
        if (entry.type == type)
            return QLatin1String(entry.text);
    return QStringLiteral("Unknown Sensor");
}

// "S123 - COM5" -> "COM5"
QString portNameOfEntry(const QString& entry) {
    const QStringList pieces = entry.split(QStringLiteral(" - "));
    return pieces.size() > 1 ? pieces.at(1) : QString();
}

}  // namespace

bool TarnLiteSystemTab::swCompatible() {
    const uint8_t* v = sensor->firmwareVersion;
    qInfo() << "firmware version" << v[0] << v[1] << v[2] << v[3];
    return v[0] >= 3;
}

bool TarnLiteSystemTab::swCompatibleIEC() {
    const uint8_t* v = sensor->firmwareVersion;
    qInfo() << "firmware version" << v[0] << v[1] << v[2] << v[3];
    return v[0] > 3 || (v[0] == 3 && (v[1] > 0 || v[2] > 4));
}

bool TarnLiteSystemTab::selfTestPassed() const {
    const uint8_t code = sensor->lastReplyHeader.status;
    for (uint8_t pass : kSelfTestPassCodes)
        if (code == pass)
            return true;
    return false;
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
    for (const PortEntry& port : qAsConst(portEntries)) {
        if (port.text == entry) {
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
        if (sensor->getVersion() == VQS_SUCCESS && sensor->getSensorName() == VQS_SUCCESS) {
            entry.text = QStringLiteral("%1 - %2").arg(QString::fromLatin1(sensor->sensorName), port.name);
            portEntries.append(entry);
            ui->comboBox_ports->addItem(entry.text);
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
    selectPortFromEntry(ui->comboBox_ports->currentText());
}

void TarnLiteSystemTab::resetIdentification() {
    comPort.clear();
    ui->label_SensorName->clear();
    ui->label_SensorType->clear();
    ui->label_sku->clear();
    ui->pushButton_start->setEnabled(false);
    ui->pushButton_updateFirmware->setEnabled(false);
    ui->pushButton_updateFirmware->setText(QStringLiteral("Firmware Unknown"));
    if (tabWidget && tabWidget->indexOf(this) >= 0)
        tabWidget->setTabText(tabWidget->indexOf(this), QStringLiteral("New Tab"));
    testNoteDialog->setWindowTitle(QStringLiteral("Test Notes"));
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
    if (sensor->connect() != VQS_SUCCESS) {
        qDebug() << "problem connecting to sensor";
        return;
    }
    sensor->getVersion();
    sensor->getSensorName();
    sensor->disconnect();

    const QString name = QString::fromLatin1(sensor->sensorName);
    ui->label_SensorName->setText(name);
    ui->label_SensorType->setText(sensorTypeName(sensor->sensorInfo.sensorType));
    ui->label_sku->setText(QString::fromLatin1(sensor->sensorSku));
    if (tabWidget && tabWidget->indexOf(this) >= 0)
        tabWidget->setTabText(tabWidget->indexOf(this), entry);
    ui->label_fwVersion->setText(QString::fromLatin1(sensor->versionText));
    ui->label_calDate->setText(QString::fromLatin1(sensor->sensorInfo.calibrationDate,
                                                   qstrnlen(sensor->sensorInfo.calibrationDate,
                                                            sizeof(sensor->sensorInfo.calibrationDate))));
    testNoteDialog->setWindowTitle(QStringLiteral("%1 - Test Notes").arg(name));

    if (!selfTestPassed()) {
        ui->pushButton_start->setEnabled(false);
        ui->label_status->setStyleSheet(QLatin1String(kStyleRed));
        ui->label_status->setText(QString::fromLatin1(sensor->statusText));
        messageBox(QStringLiteral("Sensor Failure"), QStringLiteral("Failed 'Power On Self Test' (POST)."),
                   "QLabel{min-width: 300px;}");
        return;
    }
    ui->label_status->setStyleSheet(QLatin1String(kStyleGreen));
    ui->label_status->setText(QStringLiteral("Sensor ready"));
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
    if (type == 5 || type == 6) {
        ui->radioButton_lel->setEnabled(false);
        ui->radioButton_lel2->setEnabled(false);
        ui->radioButton_unit2->setText(QStringLiteral("PPM"));
        ui->radioButton_unit2->setEnabled(true);
        ui->radioButton_unit2->setChecked(true);
        ui->radioButton_unit2->setVisible(true);
        ui->label_flamConcUnit->setText(QStringLiteral("PPM"));
    } else {
        ui->radioButton_lel->setEnabled(true);
        ui->radioButton_lel->setChecked(true);
        // Only firmware that knows the IEC scale may be offered it, whatever
        // an earlier sensor on this page could do.
        ui->radioButton_lel2->setEnabled(type == 3 && swCompatibleIEC());
        ui->radioButton_unit2->setEnabled(false);
        ui->radioButton_unit2->setText(QStringLiteral("%VOL"));
        ui->radioButton_unit2->setVisible(false);
    }
    sensor->useVolUnit = false;
}
