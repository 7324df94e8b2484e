// Runs in the real window that must hold up under real faults: a cycle the
// sensor never answered adds nothing to the run files, and sixteen sensors of
// both framings run side by side while their links drop, garble and delay
// replies, each run file staying whole and in order.
#include <QFileInfo>
#include <QPushButton>

#include "cipher.h"
#include "record_pieces.h"
#include "startup.h"
#include "tab_fixture.h"
#include "vqs.h"

namespace {

// Names unique to this test process, so its run directories are its own.
QString sensorName(int index) {
    return QStringLiteral("VQS-M%1-%2").arg(QCoreApplication::applicationPid() % 100000).arg(index, 2, 10, QChar('0'));
}

// The run directory of a sensor: "<date> <name>" under TempData.
QString runDir(const QString& name) {
    QDir temp(QCoreApplication::applicationDirPath() + "/TempData");
    const QStringList dirs = temp.entryList({"* " + name}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    return dirs.isEmpty() ? QString() : temp.filePath(dirs.first());
}

QStringList fileLines(const QString& path, const char* separator) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1String(separator), Qt::SkipEmptyParts);
}

// Scans on the page, picks the named sensor and presses Start; true once a
// cycle is recorded.
bool startSensor(TarnLiteSystemTab* tab, const QString& name) {
    part<QPushButton>(tab, "pushButton_scanPorts")->click();
    auto* ports = part<QComboBox>(tab, "comboBox_ports");
    const int index = ports->findText(name + " - ", Qt::MatchStartsWith);
    if (index < 0)
        return false;
    ports->setCurrentIndex(index);
    auto* start = part<QPushButton>(tab, "pushButton_start");
    if (!start->isEnabled())
        return false;
    start->click();
    return QTest::qWaitFor([&] { return tab->recordedCycles() >= 1; }, 20000);
}

// What a run left in its customer file, checked row by row: every row whole,
// times strictly increasing, no sample recorded twice in a row (UART by the
// sample number, USB by the sample's temperature and humidity, which repeat
// only after a hundred samples). Returns the number of rows, -1 when broken.
int checkCustomerRows(const QString& path, bool uart, QString* why) {
    const QStringList lines = fileLines(path, "\n");
    if (lines.isEmpty() || !lines.first().startsWith("Time [s], Cycle ")) {
        *why = path + ": no header";
        return -1;
    }
    double lastTime = -1;
    QStringList lastFields;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(", ");
        bool timeOk = false;
        const double time = fields.value(0).toDouble(&timeOk);
        if (fields.size() != 7 || !timeOk || !fields[6].contains('.')) {
            *why = QString("%1 row %2 not whole: %3").arg(path).arg(i).arg(lines[i]);
            return -1;
        }
        const bool repeated = !lastFields.isEmpty() &&
                              (uart ? fields[1].toInt() <= lastFields[1].toInt()
                                    : fields[2] == lastFields[2] && fields[4] == lastFields[4]);
        if (time <= lastTime || repeated) {
            *why = QString("%1 row %2 out of order: %3 after %4").arg(path).arg(i).arg(lines[i], lines[i - 1]);
            return -1;
        }
        lastTime = time;
        lastFields = fields;
    }
    return lines.size() - 1;
}

// Engineering rows, deciphered; the analog output ends each one.
QStringList engineeringRows(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {"<missing>"};
    QByteArray text;
    for (const QByteArray& piece : decipherPieces(file.readAll(), builtInPassPhrase))
        text += piece;
    QStringList rows = QString::fromLatin1(text).split(QLatin1String("\r\n"), Qt::SkipEmptyParts);
    if (!rows.isEmpty())
        rows.removeFirst();  // the header
    return rows;
}

}  // namespace

class TestManySensors : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
    }

    void aCycleTheSensorNeverAnsweredRecordsNothing() {
        SimulatedPorts ports;
        vqssim::Options options;
        options.samplePeriodMs = 200;
        const QString name = sensorName(99);
        vqssim::Simulator* sim = ports.add("ttyUSB0", sensorIdentity(name.toLatin1().constData(), 5, {{3, 2, 0, 0}}),
                                           vqssim::Framing::Uart, options);
        QVERIFY(sim);
        MainWindow window;
        TarnLiteSystemTab* tab = currentTab(window);
        BoxAnswerer boxes;
        QVERIFY(startSensor(tab, name));
        QVERIFY(QTest::qWaitFor([&] { return tab->recordedCycles() >= 2; }, 15000));

        // Gone for good: recovery gives up and the run ends.
        sim->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UartEngData));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 15000);

        QString why;
        const int rows = checkCustomerRows(runDir(name) + "/vqsData.csv", true, &why);
        QVERIFY2(rows >= 2, qPrintable(why));
        QCOMPARE(rows, int(tab->recordedCycles()));
        QCOMPARE(engineeringRows(runDir(name) + "/enc/vqsData.enc").size(), rows);
    }

    void sixteenSensorsRunSideBySideUnderFaults() {
        constexpr int kSensors = 16;
        const int runSeconds = qEnvironmentVariableIntValue("VQS_MANY_SENSORS_SECONDS") > 0
                                   ? qEnvironmentVariableIntValue("VQS_MANY_SENSORS_SECONDS")
                                   : 50;
        SimulatedPorts ports;
        vqssim::Options options;
        options.samplePeriodMs = 250;
        std::vector<vqssim::Simulator*> sims;
        for (int i = 0; i < kSensors; ++i) {
            // Alternating framings; the UART ones alternate firmware too
            // (3.x methane cycles every second, 4.x every two).
            const bool uart = i % 2 == 0;
            const QByteArray name = sensorName(i).toLatin1();
            vqssim::Identity id = uart && i % 4 == 0 ? sensorIdentity(name.constData(), 5, {{3, 2, 0, 0}})
                                                     : sensorIdentity(name.constData(), uart ? 3 : 5);
            const QString port = QString(uart ? "ttyUSB%1" : "ttyACM%1").arg(i);
            sims.push_back(ports.add(port, id, uart ? vqssim::Framing::Uart : vqssim::Framing::Usb, options));
            QVERIFY(sims.back());
        }
        MainWindow window;
        window.resize(1100, 720);
        window.show();
        BoxAnswerer boxes;
        QList<TarnLiteSystemTab*> tabs;
        for (int i = 0; i < kSensors; ++i) {
            if (i > 0)
                window.addSystem();
            tabs << currentTab(window);
            QVERIFY2(startSensor(tabs.last(), sensorName(i)), qPrintable(sensorName(i)));
        }

        // Every kind of link fault the simulator has at random, on every sensor.
        for (int i = 0; i < kSensors; ++i)
            sims[size_t(i)]->setRandomFaults(uint32_t(1000 + i), 0.03);
        QTest::qWait(runSeconds * 1000);
        for (vqssim::Simulator* sim : sims)
            sim->clearRandomFaults();

        // Each run stops by its own button.
        for (TarnLiteSystemTab* tab : tabs) {
            tabWidgetOf(window)->setCurrentWidget(tab);
            auto* start = part<QPushButton>(tab, "pushButton_start");
            if (start->isChecked() && start->isEnabled())
                start->click();
        }
        // A reply header garbled into a long payload keeps a UART read waiting
        // for its bytes (40 ms each) before the stop can run: wait long.
        for (int i = 0; i < kSensors; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(labelText(tabs[i], "label_status"), QString("Idle"), 180000);
            auto* start = part<QPushButton>(tabs[i], "pushButton_start");
            QVERIFY(start->isEnabled());
            QVERIFY(!start->isChecked());
            QVERIFY(!tabs[i]->sensorObject()->isRunning());
        }

        for (int i = 0; i < kSensors; ++i) {
            const QString dir = runDir(sensorName(i));
            QString why;
            const int rows = checkCustomerRows(dir + "/vqsData.csv", i % 2 == 0, &why);
            QVERIFY2(rows >= 3, qPrintable(why.isEmpty() ? sensorName(i) + " recorded too little" : why));
            QCOMPARE(rows, int(tabs[i]->recordedCycles()));
            const QStringList engineering = engineeringRows(dir + "/enc/vqsData.enc");
            QCOMPARE(engineering.size(), rows);
            for (const QString& row : engineering) {
                bool analogOk = false;
                row.section(',', -1).toDouble(&analogOk);
                QVERIFY2(analogOk && !row.contains("<broken>"), qPrintable(row));
            }
        }
        qInfo() << "runs ended by failure:" << boxes.seen.size();
    }
};

QTEST_MAIN(TestManySensors)
#include "test_many_sensors.moc"
