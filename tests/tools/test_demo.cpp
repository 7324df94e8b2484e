// vqs-demo: its two simulated sensors in the port list, found by the program's
// own scan, upgraded through the demo's flasher, and the built demo started.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "box_answerer.h"
#include "demosensors.h"
#include "offscreen_program.h"
#include "mainwindow.h"
#include "simulator.h"
#include "startup.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    void listsBothSensorsWithTheSystemPorts() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        {
            DemoSensors sensors(dir.path());
            QVERIFY(sensors.start());
            const QList<PortCandidate> ports = PortLister::availablePorts();
            QCOMPARE(ports.size(), PortLister::systemPorts().size() + 2);
            QCOMPARE(ports.at(0).name, QStringLiteral("sim-uart"));
            QCOMPARE(ports.at(1).name, QStringLiteral("sim-usb"));
            QCOMPARE(PortLister::classify(ports.at(0), PortRules::Linux), 1);
            QCOMPARE(PortLister::classify(ports.at(1), PortRules::Linux), 0);
            QCOMPARE(ports.at(0).path, QString::fromStdString(sensors.uartSensor().path()));
            QVERIFY(QFileInfo(ports.at(1).path).exists());

            // The image beside the program is newer than the sensors' own firmware.
            QCOMPARE(readAll(dir.filePath("ondiskfwv.bin")), QByteArray("4.2.0.0\n"));
            QVERIFY(readAll(dir.filePath("ondiskfw.bin")).startsWith("VQSDEMOFW 4.2.0.0\n"));
            if (!QStandardPaths::findExecutable("stm32flash").isEmpty())
                QVERIFY(QFileInfo(dir.filePath("stm32flash")).isExecutable());
        }
        // Gone with the demo: the port list is the system's again.
        for (const PortCandidate& port : PortLister::availablePorts())
            QVERIFY(!port.name.startsWith(QLatin1String("sim-")));
    }

    void keepsAUsersOwnImage() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile image(dir.filePath("ondiskfw.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write("mine");
        image.close();
        QFile version(dir.filePath("ondiskfwv.bin"));
        QVERIFY(version.open(QIODevice::WriteOnly));
        version.write("9.0.0.0\n");
        version.close();
        QVERIFY(placeOnDiskFirmware(dir.path(), DemoSensors::kOnDiskFirmware));
        QCOMPARE(readAll(dir.filePath("ondiskfw.bin")), QByteArray("mine"));
        QCOMPARE(readAll(dir.filePath("ondiskfwv.bin")), QByteArray("9.0.0.0\n"));

        FirmwareVersion v{};
        const QByteArray head = demoFirmwareImage({{4, 2, 0, 7}}).left(32);
        QVERIFY(demoImageVersion(std::vector<uint8_t>(head.begin(), head.end()), &v));
        QCOMPARE(int(v[3]), 7);
        const std::vector<uint8_t> erased(32, 0xFF);
        QVERIFY(!demoImageVersion(erased, &v));
    }

    void programScanFindsBoth() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        DemoSensors sensors(dir.path());
        QVERIFY(sensors.start());
        BoxAnswerer boxes;  // a box the test did not expect fails the test instead of blocking it
        boxes.closeOtherModals = true;

        MainWindow window;
        auto* tab = window.findChild<TarnLiteSystemTab*>();
        QVERIFY(tab);
        // Keep the firmware lookup on this machine: nothing listens there.
        tab->setFirmwareServer(QStringLiteral("https://127.0.0.1:9"), {});
        window.show();

        auto* scan = tab->findChild<QPushButton*>("pushButton_scanPorts");
        auto* ports = tab->findChild<QComboBox*>("comboBox_ports");
        QVERIFY(scan && ports);
        scan->click();
        QCOMPARE(ports->count(), 2);
        QCOMPARE(ports->itemText(0), QStringLiteral("VQS-DEMO-0301 - sim-uart"));
        QCOMPARE(ports->itemText(1), QStringLiteral("VQS-DEMO-0502 - sim-usb"));
        // The UART sensor, found first, is identified.
        QCOMPARE(tab->findChild<QLabel*>("label_SensorType")->text(), QStringLiteral("VQS Flam. Gas"));
        QVERIFY(tab->findChild<QPushButton*>("pushButton_start")->isEnabled());

        // The USB sensor, once chosen, shows its own identity: no type over USB,
        // its own SKU, and the PPM it is configured for.
        ports->setCurrentIndex(1);
        QCOMPARE(tab->findChild<QLabel*>("label_SensorName")->text(), QStringLiteral("VQS-DEMO-0502"));
        QCOMPARE(tab->findChild<QLabel*>("label_SensorType")->text(),
                 QStringLiteral("Not reported by the sensor (configured for PPM)"));
        QCOMPARE(tab->findChild<QLabel*>("label_sku")->text(), QStringLiteral("VQS-ME-100"));
        QCOMPARE(tab->findChild<QLabel*>("label_flamConcUnit")->text(), QStringLiteral("PPM"));
        QVERIFY(tab->findChild<QPushButton*>("pushButton_start")->isEnabled());
        QCOMPARE(window.findChild<QTabWidget*>("tabWidget")->tabText(0), QStringLiteral("VQS-DEMO-0502 - sim-usb"));
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
    }

    // Each simulated sensor runs from a fresh tab: rows reach the customer
    // table, one per sensor cycle (about one a second), never a flood.
    void programRunsBoth() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        DemoSensors sensors(dir.path());
        QVERIFY(sensors.start());
        BoxAnswerer boxes;
        boxes.closeOtherModals = true;
        MainWindow window;
        window.show();
        // What the program's start-up makes beside it; the runs go there.
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
        const QDir tempData(QCoreApplication::applicationDirPath() + "/TempData");
        const QString name = QStringLiteral("VQS-DEMO-0*");
        for (int entry = 0; entry < 2; ++entry) {
            window.addSystem();
            auto* tabs = window.findChild<QTabWidget*>("tabWidget");
            auto* tab = qobject_cast<TarnLiteSystemTab*>(tabs->widget(tabs->count() - 1));
            QVERIFY(tab);
            tab->setFirmwareServer(QStringLiteral("https://127.0.0.1:9"), {});
            tab->findChild<QPushButton*>("pushButton_scanPorts")->click();
            auto* ports = tab->findChild<QComboBox*>("comboBox_ports");
            auto* start = tab->findChild<QPushButton*>("pushButton_start");
            QCOMPARE(ports->count(), 2);
            ports->setCurrentIndex(entry);
            QVERIFY(start->isEnabled());
            QElapsedTimer running;
            running.start();
            start->click();
            QVERIFY2(start->isChecked(), qPrintable(boxes.summary()));
            auto rows = [&] {
                const QStringList runs = tempData.entryList({"* " + name}, QDir::Dirs);
                return runs.isEmpty() ? 0 : readAll(tempData.filePath(runs.last() + "/vqsData.csv")).count('\n');
            };
            QTRY_VERIFY_WITH_TIMEOUT(rows() >= 4, 20000);  // header and three cycles
            start->click();
            QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled() && !start->isChecked(), 20000);
            // A sensor measures once a second: at most one row per 0.9 s of run.
            const int cycles = rows() - 1;
            QVERIFY2(cycles <= running.elapsed() / 900 + 1,
                     qPrintable(QString("%1 rows in %2 ms").arg(cycles).arg(running.elapsed())));
            for (const QString& run : tempData.entryList({"* " + name}, QDir::Dirs))
                QVERIFY(QDir(tempData.filePath(run)).removeRecursively());
        }
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));
    }

    // The program's own UART upgrade, through the flasher the demo places, into the
    // simulated bootloader; afterwards the sensor reports the image's version.
    void upgradeThroughTheDemoFlasher() {
        if (QStandardPaths::findExecutable("stm32flash").isEmpty())
            QSKIP("stm32flash is not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        DemoSensors sensors(dir.path());
        QVERIFY(sensors.start());
        // Nothing lies beside this test program, so the flasher is looked up on the path.
        QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + "/stm32flash"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", dir.path().toLocal8Bit() + ':' + path);

        VQS vqs;
        vqs.transport = 1;
        vqs.portPath = sensors.uartSensor().path();
        QList<int> progress;
        connect(&vqs, &VQS::VQSFWChunkWritten, this, [&progress](int p) { progress << p; });
        QByteArray image = dir.filePath("ondiskfw.bin").toLatin1();
        const int result = vqs.updateFirmware(image.data());
        qputenv("PATH", path);
        QCOMPARE(result, 0);
        QCOMPARE(progress.last(), 100);
        QVERIFY(!sensors.uartSensor().inBootloader());

        sensors.followFirmwareWrites();
        QCOMPARE(sensors.uartSensor().identity().firmware, DemoSensors::kOnDiskFirmware);
        QCOMPARE(int(vqs.connect()), 0);
        QCOMPARE(int(vqs.getVersion()), 0);
        vqs.disconnect();
        QCOMPARE(int(vqs.firmwareVersion[1]), 2);
    }

    void builtDemoStartsOffscreen() {
        OffscreenProgram program;
        const QString failure = program.start(QStringLiteral(VQS_BINARY_DIR "/demo/vqs-demo"));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));

        QTRY_VERIFY_WITH_TIMEOUT(program.logText().contains("Demo: simulated USB sensor VQS-DEMO-0502"), 20000);
        QVERIFY(program.logText().startsWith("Info: VQS Sensor Interface 1.8.0.3 started\n"));
        QVERIFY(program.logText().contains("Demo: simulated UART sensor VQS-DEMO-0301 on /dev/pts/"));
        QTRY_VERIFY(QFileInfo(program.filePath("ondiskfwv.bin")).isFile());
        QTest::qWait(500);
        QCOMPARE(program.process.state(), QProcess::Running);
        program.stop();
        // The plain program's directory holds none of the demo's files.
        QVERIFY(!QFileInfo::exists(QStringLiteral(VQS_BINARY_DIR "/bin/ondiskfwv.bin")));
    }
};

QTEST_MAIN(TestDemo)
#include "test_demo.moc"
