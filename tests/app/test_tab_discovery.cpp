// Finding sensors and identifying the selected one, in the real main window
// with simulated sensors on pseudo-terminals.
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include "startup.h"
#include "tab_fixture.h"
#include "testnotedialog.h"
#include "vqs.h"

class TestTabDiscovery : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { registerApplicationFonts(); }

    void scanListsBothSensorsSortedAndIdentifiesTheFirst() {
        SimulatedPorts ports;
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-B")));
        ports.addForeign("ttyS0");
        QVERIFY(ports.add("ttyUSB1", sensorIdentity("VQS-A")));
        MainWindow window;
        window.resize(1100, 720);
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;

        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        QVERIFY(combo->isEnabled());
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QString("VQS-A - ttyUSB1"));
        QCOMPARE(combo->itemText(1), QString("VQS-B - ttyUSB0"));
        // The first sensor found became current and was identified during the scan.
        QCOMPARE(combo->currentText(), QString("VQS-B - ttyUSB0"));
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-B"));
        QCOMPARE(tabWidgetOf(window)->tabText(0), QString("VQS-B - ttyUSB0"));
        QVERIFY(boxes.seen.isEmpty());
        QVERIFY(part<QPushButton>(tab, "pushButton_scanPorts")->isEnabled());
        // Each sensor was asked for its version and name; the second one only by the scan.
        QVERIFY(ports.sims[0]->requestCount(vqssim::cmd::UartVersion) >= 2);
        QCOMPARE(ports.sims[1]->requestCount(vqssim::cmd::UartVersion), size_t(1));
        // After the scan the link points at the current entry, with its retries back.
        QCOMPARE(tab->sensorObject()->retryCount, uint8_t(3));
        QCOMPARE(QString::fromStdString(tab->sensorObject()->portPath),
                 QString::fromStdString(ports.sims[0]->path()));

        // Choosing the other entry identifies that sensor.
        combo->setCurrentIndex(0);
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-A"));
        QCOMPARE(tabWidgetOf(window)->tabText(0), QString("VQS-A - ttyUSB1"));
    }

    void scanWithoutSensorsSaysSoAndKeepsTheListDisabled() {
        SimulatedPorts ports;
        ports.addForeign("ttyS0");
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;

        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        QCOMPARE(boxes.seen.size(), 1);
        const BoxAnswerer::Seen box = boxes.seen.first();
        QCOMPARE(box.text, QString("No VQS devices found"));
        QCOMPARE(box.informativeText, QString("Please check connections and try again."));
        QCOMPARE(box.styleSheet, QString("QLabel{min-width: 250px;}"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.defaultButton, QMessageBox::Ok);
        // Centred on the program's window, titled, with the warning icon.
        QCOMPARE(box.window, static_cast<QWidget*>(&window));
        QVERIFY(!box.title.isEmpty());
        QCOMPARE(box.icon, QMessageBox::Warning);
        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        QVERIFY(!combo->isEnabled());
        QCOMPARE(combo->count(), 0);
        QVERIFY(part<QPushButton>(tab, "pushButton_scanPorts")->isEnabled());
        QCOMPARE(tabWidgetOf(window)->tabText(0), QString("New Tab"));
    }

    void identificationFillsThePanel() {
        SimulatedPorts ports;
        vqssim::Identity id = sensorIdentity("VQS-SIM-0042", 3, {{4, 1, 0, 0}});
        id.sku = "VQS-FL-777";
        id.calibrationDate = "2024-02-29";
        QVERIFY(ports.add("ttyUSB3", id));
        MainWindow window;
        window.resize(1100, 720);
        window.show();
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;

        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-SIM-0042"));
        QCOMPARE(labelText(tab, "label_SensorType"), QString("VQS Flam. Gas"));
        QCOMPARE(labelText(tab, "label_sku"), QString("VQS-FL-777"));
        QCOMPARE(labelText(tab, "label_calDate"), QString("2024-02-29"));
        QCOMPARE(labelText(tab, "label_fwVersion"), QString::fromLatin1(tab->sensorObject()->versionText));
        QVERIFY(!labelText(tab, "label_fwVersion").isEmpty());
        QCOMPARE(labelText(tab, "label_status"), QString("Sensor ready"));
        QCOMPARE(part<QLabel>(tab, "label_status")->styleSheet(),
                 QString("QLabel{color:#26A65B;font-family:Quicksand;}"));
        QCOMPARE(tabWidgetOf(window)->tabText(0), QString("VQS-SIM-0042 - ttyUSB3"));
        auto* notes = tab->findChild<TestNoteDialog*>();
        Q_UNUSED(notes);  // the notes dialog has no parent; its title is checked through the page
        QVERIFY(part<QPushButton>(tab, "pushButton_start")->isEnabled());
        QVERIFY(!part<QPushButton>(tab, "pushButton_updateFirmware")->isEnabled());
        QVERIFY(!tab->sensorObject()->useVolUnit);
        QCOMPARE(tab->sensorObject()->transport, 1);
        saveScreenshot(&window, "tab-identified.png");
    }

    void selfTestResultDecidesTheStartButton_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("passes");
        QTest::newRow("warm-up 0x28 passes") << 0x28 << true;
        QTest::newRow("0x29 fails") << 0x29 << false;
        QTest::newRow("0x32 fails") << 0x32 << false;
    }
    void selfTestResultDecidesTheStartButton() {
        QFETCH(int, status);
        QFETCH(bool, passes);
        SimulatedPorts ports;
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity("VQS-POST"));
        QVERIFY(sim);
        sim->setSensorStatus(uint8_t(status));
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;

        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        QCOMPARE(part<QPushButton>(tab, "pushButton_start")->isEnabled(), passes);
        if (passes) {
            QVERIFY(boxes.seen.isEmpty());
            QCOMPARE(labelText(tab, "label_status"), QString("Sensor ready"));
            QVERIFY(part<QPushButton>(tab, "pushButton_updateFirmware")->text() != QString("Firmware Unknown"));
        } else {
            QCOMPARE(boxes.seen.size(), 1);
            QCOMPARE(boxes.seen[0].text, QString("Sensor Failure"));
            QCOMPARE(boxes.seen[0].informativeText, QString("Failed 'Power On Self Test' (POST)."));
            QCOMPARE(boxes.seen[0].styleSheet, QString("QLabel{min-width: 300px;}"));
            QCOMPARE(part<QLabel>(tab, "label_status")->styleSheet(),
                     QString("QLabel{color:#Ff0000;font-family:Quicksand;}"));
            // The sensor's status text, less its time stamp: a later request in another second
            // stamps the text anew without changing what the page shows.
            const QString shown = labelText(tab, "label_status");
            QVERIFY(!shown.isEmpty());
            QCOMPARE(shown.section('\n', 0, 0), QString::fromLatin1(tab->sensorObject()->statusText).section('\n', 0, 0));
            // Neither units nor the firmware check were set up.
            QCOMPARE(part<QPushButton>(tab, "pushButton_updateFirmware")->text(), QString("Firmware Unknown"));
            QVERIFY(!part<QRadioButton>(tab, "radioButton_lel")->isEnabled());
        }
    }

    void firmwareBelowThreeBlocksStart() {
        SimulatedPorts ports;
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-OLD", 3, {{2, 9, 9, 9}})));
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;

        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        QCOMPARE(boxes.texts(), QStringList{"Incompatible Firmware Version"});
        QCOMPARE(boxes.seen[0].informativeText,
                 QString("This application requires sensor firmware Ver. 3.0.0.0 or higher.  "
                         "Please upgrade sensor firmware."));
        QVERIFY(!part<QPushButton>(tab, "pushButton_start")->isEnabled());
        // The firmware check still runs: it is the way out.
        QVERIFY(part<QPushButton>(tab, "pushButton_updateFirmware")->text() != QString("Firmware Unknown"));
        QCOMPARE(labelText(tab, "label_status"), QString("Sensor ready"));
    }

    void unitChoicesFollowTheSensorType_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<bool>("iso");
        QTest::addColumn<bool>("iec");
        QTest::addColumn<bool>("ppm");
        QTest::newRow("type 6 ppm only") << 6 << QByteArray("\x04\x01\x00\x00", 4) << false << false << true;
        QTest::newRow("type 3 at 3.0.4.9") << 3 << QByteArray("\x03\x00\x04\x09", 4) << true << false << false;
        QTest::newRow("type 3 at 3.0.5.0") << 3 << QByteArray("\x03\x00\x05\x00", 4) << true << true << false;
        QTest::newRow("type 3 at 3.1.0.0") << 3 << QByteArray("\x03\x01\x00\x00", 4) << true << true << false;
        QTest::newRow("type 4 iso only") << 4 << QByteArray("\x04\x01\x00\x00", 4) << true << false << false;
    }
    void unitChoicesFollowTheSensorType() {
        QFETCH(int, type);
        QFETCH(QByteArray, firmware);
        QFETCH(bool, iso);
        QFETCH(bool, iec);
        QFETCH(bool, ppm);
        SimulatedPorts ports;
        std::array<uint8_t, 4> fw{};
        for (int i = 0; i < 4; ++i)
            fw[size_t(i)] = uint8_t(firmware[i]);
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-UNIT", uint32_t(type), fw)));
        MainWindow window;
        window.show();
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;

        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        QVERIFY(boxes.seen.isEmpty());
        auto* lel = part<QRadioButton>(tab, "radioButton_lel");
        auto* lel2 = part<QRadioButton>(tab, "radioButton_lel2");
        auto* unit2 = part<QRadioButton>(tab, "radioButton_unit2");
        QCOMPARE(lel->isEnabled(), iso);
        QCOMPARE(lel2->isEnabled(), iec);
        QCOMPARE(unit2->isEnabled(), ppm);
        QCOMPARE(unit2->isVisible(), ppm);
        if (ppm) {
            QCOMPARE(unit2->text(), QString("PPM"));
            QVERIFY(unit2->isChecked());
            QCOMPARE(labelText(tab, "label_flamConcUnit"), QString("PPM"));
            QCOMPARE(labelText(tab, "label_SensorType"), QString(type == 6 ? "VQS A1 Gas" : "VQS Methane Gas"));
        } else {
            QCOMPARE(unit2->text(), QString("%VOL"));
            QVERIFY(lel->isChecked());
        }
    }

    void olderSensorAfterNewerOneIsNotOfferedIec() {
        SimulatedPorts ports;
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-NEW", 3, {{3, 1, 0, 0}})));
        QVERIFY(ports.add("ttyUSB1", sensorIdentity("VQS-OLD", 3, {{3, 0, 4, 9}})));
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        QVERIFY(part<QRadioButton>(tab, "radioButton_lel2")->isEnabled());

        part<QComboBox>(tab, "comboBox_ports")->setCurrentIndex(1);
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-OLD"));
        QVERIFY(!part<QRadioButton>(tab, "radioButton_lel2")->isEnabled());
    }

    void selectionFollowsEachEntrysFraming() {
        SimulatedPorts ports;
        QVERIFY(ports.add("ttyACM0", sensorIdentity("VQS-USB"), vqssim::Framing::Usb));
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-UART")));
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        part<QPushButton>(tab, "pushButton_scanPorts")->click();

        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        QCOMPARE(combo->count(), 2);
        combo->setCurrentIndex(combo->findText("VQS-UART - ttyUSB0"));
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-UART"));
        QCOMPARE(tab->sensorObject()->transport, 1);
        boxes.seen.clear();

        // The USB sensor is identified over its own framing.
        combo->setCurrentIndex(combo->findText("VQS-USB - ttyACM0"));
        QCOMPARE(tab->sensorObject()->transport, 0);
        QCOMPARE(labelText(tab, "label_SensorName"), QString("VQS-USB"));
        QVERIFY(ports.sims[0]->requestCount(vqssim::cmd::UsbSensorName) >= 2);
    }

    void emptySelectionResetsThePanel() {
        SimulatedPorts ports;
        QVERIFY(ports.add("ttyUSB0", sensorIdentity("VQS-GONE")));
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        QCOMPARE(tabWidgetOf(window)->tabText(0), QString("VQS-GONE - ttyUSB0"));

        // The sensor is unplugged; a new scan finds nothing: no box, the list
        // stays enabled but empty, and the panel is reset.
        ports.ports.clear();
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        QVERIFY(boxes.seen.isEmpty());
        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        QVERIFY(combo->isEnabled());
        QCOMPARE(combo->count(), 0);
        QCOMPARE(tabWidgetOf(window)->tabText(0), QString("New Tab"));
        QCOMPARE(labelText(tab, "label_SensorName"), QString());
        QVERIFY(!part<QPushButton>(tab, "pushButton_start")->isEnabled());
        QCOMPARE(part<QPushButton>(tab, "pushButton_updateFirmware")->text(), QString("Firmware Unknown"));
    }

    void portClassification() {
        PortCandidate port;
        // Windows: the two descriptions, on COM ports only; the sensor's own ids whatever the description.
        port.name = "COM5";
        port.description = "STMicroelectronics Virtual COM Port";
        QCOMPARE(PortLister::classify(port, PortRules::Windows), 0);
        port.description = "USB Serial Port";
        QCOMPARE(PortLister::classify(port, PortRules::Windows), 1);
        port.description = "usb serial port";
        QCOMPARE(PortLister::classify(port, PortRules::Windows), -1);
        port.description = "USB Serial Device";
        QCOMPARE(PortLister::classify(port, PortRules::Windows), -1);
        port.hasIds = true;
        port.vendorId = 0x0483;
        port.productId = 0x5740;
        QCOMPARE(PortLister::classify(port, PortRules::Windows), 0);
        port.name = "\\\\.\\pipe5";
        QCOMPARE(PortLister::classify(port, PortRules::Windows), -1);

        // Linux: by ids and driver.
        PortCandidate linux;
        linux.name = "ttyACM0";
        linux.hasIds = true;
        linux.vendorId = 0x0483;
        linux.productId = 0x5740;
        QCOMPARE(PortLister::classify(linux, PortRules::Linux), 0);
        linux.productId = 0x5741;
        linux.driver = "cdc_acm";
        QCOMPARE(PortLister::classify(linux, PortRules::Linux), 0);
        linux.vendorId = 0x2341;  // another maker's ACM device
        QCOMPARE(PortLister::classify(linux, PortRules::Linux), -1);
        const quint16 adapters[] = {0x0403, 0x10c4, 0x1a86, 0x067b};
        for (quint16 vendor : adapters) {
            linux.vendorId = vendor;
            linux.driver.clear();
            QCOMPARE(PortLister::classify(linux, PortRules::Linux), 1);
        }
        PortCandidate byDriver;
        byDriver.name = "ttyUSB0";
        byDriver.driver = "cp210x";
        QCOMPARE(PortLister::classify(byDriver, PortRules::Linux), 1);
        byDriver.driver = "serial8250";
        QCOMPARE(PortLister::classify(byDriver, PortRules::Linux), -1);
    }
};

QTEST_MAIN(TestTabDiscovery)
#include "test_tab_discovery.moc"
