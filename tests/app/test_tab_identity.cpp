// The identity a page shows is the identity its run uses: a sensor on its own
// USB cable, a USB sensor after a UART one on the same page, a Start right
// after a scan that found two sensors, and two pages that never share a run.
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>

#include "cipher.h"
#include "record_pieces.h"
#include "startup.h"
#include "tab_fixture.h"
#include "vqs.h"

namespace {

vqssim::Options quickOptions() {
    vqssim::Options options;
    options.samplePeriodMs = 300;
    return options;
}

QString runDirectoryOf(const QString& sensorName) {
    QDir temp(QCoreApplication::applicationDirPath() + "/TempData");
    const QStringList dirs =
        temp.entryList({QStringLiteral("* ") + sensorName}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    return dirs.isEmpty() ? QString() : temp.filePath(dirs.first());
}

QStringList csvRows(const QString& runDir) {
    QFile file(runDir + "/vqsData.csv");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
}

// The Cycle column of every row after the header.
QList<int> cycleColumn(const QStringList& rows) {
    QList<int> cycles;
    for (const QString& row : rows.mid(1))
        cycles << row.section(", ", 1, 1).toInt();
    return cycles;
}

// Engineering rows as deciphered text lines (the header first).
QStringList engineeringRows(const QString& runDir) {
    QFile file(runDir + "/enc/vqsData.enc");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(decipherPieces(file.readAll(), builtInPassPhrase).join())
        .split("\r\n", Qt::SkipEmptyParts);
}

bool recordCycles(TarnLiteSystemTab* tab, uint32_t cycles) {
    auto* start = part<QPushButton>(tab, "pushButton_start");
    if (!start->isEnabled())
        return false;
    start->click();
    if (!QTest::qWaitFor([&] { return tab->recordedCycles() >= cycles; }, 30000))
        return false;
    start->click();
    return QTest::qWaitFor([&] { return labelText(tab, "label_status") == "Idle"; }, 10000);
}

}  // namespace

class TestTabIdentity : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
    }

    void usbSensorOnItsOwnCableAfterAUartSensor() {
        SimulatedPorts ports;
        vqssim::Identity uartId = sensorIdentity("VQS-ID-UART", 5, {{4, 1, 0, 0}});
        uartId.sku = "VQS-FL-100";
        uartId.calibrationDate = "2024-01-31";
        vqssim::Identity usbId = sensorIdentity("VQS-ID-USB", 5, {{4, 1, 0, 0}});
        usbId.sku = "VQS-ME-100";
        QVERIFY(ports.add("ttyUSB0", uartId, vqssim::Framing::Uart, quickOptions()));
        vqssim::Simulator* usb = ports.add("ttyACM0", usbId, vqssim::Framing::Usb, quickOptions());
        QVERIFY(usb);
        MainWindow window;
        window.resize(1100, 720);
        window.show();
        TarnLiteSystemTab* tab = currentTab(window);
        VQS* sensor = tab->sensorObject();
        BoxAnswerer boxes;
        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        QCOMPARE(combo->count(), 2);

        // A UART run first, so the page holds everything a UART sensor tells.
        combo->setCurrentIndex(combo->findText("VQS-ID-UART - ttyUSB0"));
        QCOMPARE(labelText(tab, "label_calDate"), QString("2024-01-31"));
        QVERIFY(recordCycles(tab, 2));
        const QString uartRun = runDirectoryOf("VQS-ID-UART");
        QVERIFY(!uartRun.isEmpty());
        QVERIFY(sensor->analogOut != 0.0f);

        // The USB sensor shows its own identity and nothing of the UART one.
        combo->setCurrentIndex(combo->findText("VQS-ID-USB - ttyACM0"));
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-ID-USB"));
        // USB tells no type: what is known instead, never a word that reads as a fault.
        QCOMPARE(labelText(tab, "label_SensorType"), QString("Not reported by the sensor (configured for PPM)"));
        QCOMPARE(labelText(tab, "label_sku"), QString("VQS-ME-100"));
        QCOMPARE(labelText(tab, "label_calDate"), QString());
        QVERIFY(labelText(tab, "label_fwVersion").startsWith("Firmware: 4.1.0.0"));
        QCOMPARE(sensor->firmwareVersion[0], uint8_t(4));
        QCOMPARE(sensor->analogOut, 0.0f);
        // Configured for PPM, so PPM is what it is offered.
        QVERIFY(part<QRadioButton>(tab, "radioButton_unit2")->isChecked());
        QCOMPARE(part<QRadioButton>(tab, "radioButton_unit2")->text(), QString("PPM"));
        QVERIFY(!part<QRadioButton>(tab, "radioButton_lel2")->isEnabled());
        QCOMPARE(labelText(tab, "label_flamConcUnit"), QString("PPM"));
        auto* start = part<QPushButton>(tab, "pushButton_start");
        QVERIFY(start->isEnabled());
        saveScreenshot(&window, "tab-usb-identified.png");

        // The UART run was not saved: Start asks, and Cancel keeps it and starts nothing.
        boxes.answer = QMessageBox::Cancel;
        start->click();
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(boxes.seen[0].text, QString("Unsaved Data"));
        QCOMPARE(boxes.seen[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(boxes.seen[0].defaultButton, QMessageBox::Cancel);
        QVERIFY(!start->isChecked());
        QVERIFY(!tab->runActive());
        QVERIFY(QFile::exists(uartRun + "/vqsData.csv"));
        QVERIFY(QFile::exists(uartRun + "/enc/vqsData.enc"));

        // OK discards it and the USB run goes on.
        boxes.answer = QMessageBox::Ok;
        QVERIFY(recordCycles(tab, 3));
        QCOMPARE(boxes.seen.size(), 2);
        QVERIFY(!QFile::exists(uartRun + "/vqsData.csv"));
        QCOMPARE(usb->unit(), uint8_t(3));
        const QString usbRun = runDirectoryOf("VQS-ID-USB");
        const QStringList rows = csvRows(usbRun);
        QVERIFY(rows.size() >= 4);
        QVERIFY(rows[0].endsWith("Gas ID , Conc [PPM]"));
        // The run's own cycle count: 1, 2, 3, ... never -1 nor the UART sample numbers.
        const QList<int> cycles = cycleColumn(rows);
        for (int i = 0; i < cycles.size(); ++i)
            QCOMPARE(cycles[i], i + 1);
        QCOMPARE(labelText(tab, "label_cycles"), QString::number(cycles.size()));
        const QStringList engineering = engineeringRows(usbRun);
        QCOMPARE(engineering.size(), rows.size());
        for (const QString& row : engineering.mid(1))
            QVERIFY2(row.endsWith(",0.000000") || row.endsWith(", 0.000000"), qPrintable(row));
        QFile info(usbRun + "/enc/testInfo.enc");
        QVERIFY(info.open(QIODevice::ReadOnly));
        const QByteArray infoText = decipherPieces(info.readAll(), builtInPassPhrase).join();
        QVERIFY(infoText.contains("Sensor Name: VQS-ID-USB"));
        QVERIFY(!infoText.contains("VQS-ID-UART"));
    }

    void startRightAfterAScanRunsTheShownSensorAndPagesNeverShareARun() {
        SimulatedPorts ports;
        vqssim::Simulator* shown =
            ports.add("ttyUSB0", sensorIdentity("VQS-SHOWN", 3, {{4, 1, 0, 0}}), vqssim::Framing::Uart, quickOptions());
        vqssim::Simulator* other =
            ports.add("ttyUSB1", sensorIdentity("VQS-OTHER", 5, {{3, 2, 0, 0}}), vqssim::Framing::Uart, quickOptions());
        QVERIFY(shown && other);
        MainWindow window;
        TarnLiteSystemTab* first = currentTab(window);
        BoxAnswerer boxes;

        // The scan probes VQS-OTHER last but shows VQS-SHOWN: Start runs VQS-SHOWN.
        part<QPushButton>(first, "pushButton_scanPorts")->click();
        QCOMPARE(part<QComboBox>(first, "comboBox_ports")->currentText(), QString("VQS-SHOWN - ttyUSB0"));
        part<QPushButton>(first, "pushButton_start")->click();
        QVERIFY(QTest::qWaitFor([&] { return first->recordedCycles() >= 2; }, 30000));
        QCOMPARE(QString::fromLatin1(first->sensorObject()->sensorName), QString("VQS-SHOWN"));
        QCOMPARE(shown->state(), uint8_t(2));
        QCOMPARE(shown->unit(), uint8_t(0));  // %LEL(ISO), not the methane sensor's PPM
        QCOMPARE(other->state(), uint8_t(0));
        const QString firstRun = runDirectoryOf("VQS-SHOWN");
        QVERIFY(!firstRun.isEmpty());

        // A second page does not probe the running sensor and runs the other one.
        window.addSystem();
        tabWidgetOf(window)->setCurrentIndex(1);
        TarnLiteSystemTab* second = currentTab(window);
        QVERIFY(second != first);
        const size_t probesBefore = shown->requestCount(vqssim::cmd::UartVersion);
        part<QPushButton>(second, "pushButton_scanPorts")->click();
        QCOMPARE(shown->requestCount(vqssim::cmd::UartVersion), probesBefore);
        auto* combo = part<QComboBox>(second, "comboBox_ports");
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->currentText(), QString("VQS-OTHER - ttyUSB1"));
        QVERIFY(recordCycles(second, 2));
        QVERIFY(runDirectoryOf("VQS-OTHER") != firstRun);

        // The first page's run went on untouched: every row whole and in order.
        part<QPushButton>(first, "pushButton_start")->click();
        QVERIFY(QTest::qWaitFor([&] { return labelText(first, "label_status") == "Idle"; }, 10000));
        const QStringList rows = csvRows(firstRun);
        QCOMPARE(rows.size(), int(first->recordedCycles()) + 1);
        const QList<int> cycles = cycleColumn(rows);
        for (int i = 1; i < cycles.size(); ++i)
            QVERIFY(cycles[i] > cycles[i - 1]);
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
    }
};

QTEST_MAIN(TestTabIdentity)
#include "test_tab_identity.moc"
