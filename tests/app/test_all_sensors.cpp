// The "All sensors" panel over two simulated sensors running side by side, one
// in %LEL and one in PPM: rows and curves follow their cycles, one sensor's
// recovery and the other's loss show in their rows, a row click shows its page.
#include <QDockWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QToolBar>

#include <limits>

#include "allsensorspanel.h"
#include "lumocustomplot.h"
#include "startup.h"
#include "tab_fixture.h"
#include "vqs.h"

namespace {

using Col = AllSensorsPanel::Column;

// Unique to this process: run directories of concurrent tests stay apart.
QString sensorName(const char* stem) {
    return QStringLiteral("%1-%2").arg(QLatin1String(stem)).arg(QCoreApplication::applicationPid() % 100000);
}

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

QString cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

QCPGraph* curveNamed(QCustomPlot* plot, const QString& name) {
    for (int i = 0; i < plot->graphCount(); ++i)
        if (plot->graph(i)->name().startsWith(name + " ("))
            return plot->graph(i);
    return nullptr;
}

}  // namespace

class TestAllSensors : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
    }

    void panelFollowsTwoSensorsThroughRecoveryAndLoss() {
        SimulatedPorts ports;
        vqssim::Options options;
        options.samplePeriodMs = 300;
        const QString flam = sensorName("PANEL-FL"), methane = sensorName("PANEL-ME");
        vqssim::Simulator* uart =
            ports.add("ttyUSB0", sensorIdentity(flam.toLatin1().constData(), 3), vqssim::Framing::Uart, options);
        vqssim::Simulator* usb =
            ports.add("ttyACM1", sensorIdentity(methane.toLatin1().constData(), 5), vqssim::Framing::Usb, options);
        QVERIFY(uart && usb);
        // Well into the waveform's rising part, so both curves climb at once.
        uart->setSampleNumber(25);
        usb->setSampleNumber(30);

        MainWindow window;
        window.resize(1280, 1100);
        window.show();
        BoxAnswerer boxes;
        QTabWidget* tabs = tabWidgetOf(window);
        TarnLiteSystemTab* first = currentTab(window);
        window.addSystem();
        TarnLiteSystemTab* second = currentTab(window);

        // Opened by its tool bar button before anything runs: a row per tab.
        auto* dock = window.findChild<QDockWidget*>(QStringLiteral("dockWidget_allSensors"));
        auto* bar = window.findChild<QToolBar*>(QStringLiteral("toolBar_sensors"));
        auto* toggle = window.findChild<QAction*>(QStringLiteral("action_allSensors"));
        QVERIFY(dock && bar && toggle);
        QVERIFY(!dock->isVisible());
        QTest::mouseClick(bar->widgetForAction(toggle), Qt::LeftButton);
        QVERIFY(dock->isVisible());
        auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_allSensors"));
        auto* plot = window.findChild<LumoCustomPlot*>(QStringLiteral("plot_allSensors"));
        QVERIFY(table && plot);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(cell(table, 0, Col::ColState), QStringLiteral("idle"));
        QCOMPARE(cell(table, 1, Col::ColName), QStringLiteral("New Tab"));

        QVERIFY(startSensor(first, flam));
        QVERIFY(startSensor(second, methane));

        // Rows in tab order, each with its sensor's identity and last cycle.
        QTRY_VERIFY_WITH_TIMEOUT(cell(table, 0, Col::ColRows).toInt() >= 3 && cell(table, 1, Col::ColRows).toInt() >= 3,
                                 15000);
        QCOMPARE(cell(table, 0, Col::ColName), flam);
        QCOMPARE(cell(table, 0, Col::ColPort), QStringLiteral("ttyUSB0"));
        QCOMPARE(cell(table, 0, Col::ColState), QStringLiteral("running"));
        QVERIFY2(cell(table, 0, Col::ColConcentration).endsWith(QStringLiteral(" %LEL(ISO)")),
                 qPrintable(cell(table, 0, Col::ColConcentration)));
        QCOMPARE(cell(table, 1, Col::ColName), methane);
        QCOMPARE(cell(table, 1, Col::ColPort), QStringLiteral("ttyACM1"));
        QCOMPARE(cell(table, 1, Col::ColState), QStringLiteral("running"));
        QVERIFY2(cell(table, 1, Col::ColConcentration).endsWith(QStringLiteral(" PPM")),
                 qPrintable(cell(table, 1, Col::ColConcentration)));
        QVERIFY2(QStringList({"Methane", "None"}).contains(cell(table, 1, Col::ColGas)),
                 qPrintable(cell(table, 1, Col::ColGas)));
        const double temperature = cell(table, 0, Col::ColTemperature).toDouble();
        QVERIFY2(temperature >= 25.0 && temperature < 30.0, qPrintable(cell(table, 0, Col::ColTemperature)));
        QVERIFY(cell(table, 0, Col::ColPressure).startsWith(QStringLiteral("101.")));
        QCOMPARE(cell(table, 0, Col::ColStatus), QStringLiteral("Sensor OK"));
        QVERIFY(QRegularExpression(QStringLiteral("^00h:00m:\\d\\ds$"))
                    .match(cell(table, 1, Col::ColRunTime))
                    .hasMatch());

        // One curve each, named in the legend, never sharing a unit's axis.
        QCPGraph* flamCurve = curveNamed(plot, flam);
        QCPGraph* methaneCurve = curveNamed(plot, methane);
        QVERIFY(flamCurve && methaneCurve);
        QCOMPARE(plot->graphCount(), 2);
        QCOMPARE(plot->legend->itemCount(), 2);
        QVERIFY(flamCurve->valueAxis() != methaneCurve->valueAxis());
        QCOMPARE(flamCurve->valueAxis()->label(), QStringLiteral("%LEL(ISO)"));
        QCOMPARE(methaneCurve->valueAxis()->label(), QStringLiteral("PPM"));
        QVERIFY(methaneCurve->valueAxis()->visible());
        QVERIFY(methaneCurve->data()->size() >= 3);
        // The PPM curve climbs far above the %LEL axis, which does not follow it.
        QTRY_VERIFY_WITH_TIMEOUT(methaneCurve->valueAxis()->range().upper > 2000, 20000);
        QVERIFY(flamCurve->valueAxis()->range().upper < 100);

        // The UART sensor stops answering, then answers again: its row shows
        // the recovery and carries on recording; the other row keeps running.
        vqssim::Fault silent;
        silent.kind = vqssim::FaultKind::NoReply;
        silent.times = 0;
        uart->addFault(silent);
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 0, Col::ColState), QStringLiteral("recovering"), 20000);
        QCOMPARE(cell(table, 1, Col::ColState), QStringLiteral("running"));
        const int rowsAtFault = cell(table, 0, Col::ColRows).toInt();
        const int pointsAtFault = flamCurve->data()->size();
        uart->clearFaults();
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 0, Col::ColState), QStringLiteral("running"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(cell(table, 0, Col::ColRows).toInt() > rowsAtFault, 10000);
        QVERIFY(flamCurve->data()->size() > pointsAtFault);
        QCOMPARE(curveNamed(plot, flam), flamCurve);

        // A click on a row shows that sensor's page.
        QCOMPARE(tabs->currentWidget(), second);
        const QRect firstRow = table->visualRect(table->model()->index(0, Col::ColName));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, firstRow.center());
        QCOMPARE(tabs->currentWidget(), first);
        // Identified while hidden, its button column is laid out at its new size when shown.
        auto* column = part<QWidget>(first, "frame_connection");
        QCoreApplication::sendPostedEvents(column, QEvent::LayoutRequest);
        QCOMPARE(column->layout()->geometry(), column->rect());
        saveScreenshot(&window, QStringLiteral("all-sensors-recovered.png"));
        // Mid-run, on a 1366x768 laptop screen (less task bar and title bar).
        // The column's content keeps its width when it starts to scroll.
        const int columnWidth = column->width();
        const QSize laptop(1350, 680);
        window.resize(laptop);
        QTRY_COMPARE(window.size(), laptop);
        saveScreenshot(&window, QStringLiteral("all-sensors-1366x768.png"));
        QCOMPARE(column->width(), columnWidth);

        // The USB sensor goes for good: lost, until its run's box is answered.
        usb->addFault(vqssim::Fault::onCommand(vqssim::FaultKind::HangUp, vqssim::cmd::UsbAnswer));
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 1, Col::ColState), QStringLiteral("lost"), 40000);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 5000);
        QCOMPARE(cell(table, 0, Col::ColState), QStringLiteral("running"));

        // The other run ends by its Stop button: idle, with every row counted.
        part<QPushButton>(first, "pushButton_start")->click();
        QTRY_COMPARE_WITH_TIMEOUT(cell(table, 0, Col::ColState), QStringLiteral("idle"), 15000);
        QCOMPARE(cell(table, 0, Col::ColRows).toUInt(), first->recordedCycles());
        QCOMPARE(cell(table, 1, Col::ColRows).toUInt(), second->recordedCycles());
        QCOMPARE(cell(table, 1, Col::ColState), QStringLiteral("lost"));
        QCOMPARE(cell(table, 1, Col::ColStatus), QStringLiteral("Communication failed"));
        QCOMPARE(cell(table, 0, Col::ColStatus), QStringLiteral("Idle"));
        // The ended runs' curves stay for comparison.
        QCOMPARE(plot->graphCount(), 2);
        saveScreenshot(&window, QStringLiteral("all-sensors-ended.png"));

        // Closing a tab takes its row and curve away.
        second->shutdown();
        delete second;
        QTRY_COMPARE(table->rowCount(), 1);
        QCOMPARE(cell(table, 0, Col::ColName), flam);
        QCOMPARE(plot->graphCount(), 1);
        QVERIFY(!curveNamed(plot, methane));
    }

    // A concentration that is no number is a gap: as a run's first value it
    // must not hold its unit's axis, which still follows the values after it.
    void aConcentrationThatIsNoNumberLeavesItsAxisFree() {
        MainWindow window;
        auto* panel = window.findChild<AllSensorsPanel*>(QStringLiteral("allSensorsPanel"));
        QVERIFY(panel);
        TarnLiteSystemTab* page = currentTab(window);
        SensorSnapshot snap;
        snap.state = SensorSnapshot::State::Running;
        snap.run = 1;
        snap.name = QStringLiteral("NAN-1");
        snap.unit = QStringLiteral("PPM");
        snap.hasSample = true;
        for (const double value : {std::numeric_limits<double>::quiet_NaN(), 5000.0}) {
            ++snap.rows;
            snap.runMs = snap.rows * 1000;
            snap.concentration = value;
            emit page->snapshotChanged(snap);
        }
        panel->refresh();
        QCPGraph* curve = curveNamed(panel->plot(), QStringLiteral("NAN-1"));
        QVERIFY(curve);
        QCOMPARE(curve->data()->size(), 2);
        const QCPRange range = curve->valueAxis()->range();
        QVERIFY2(range.upper > 5000 && range.lower <= 0,
                 qPrintable(QStringLiteral("%1 .. %2").arg(range.lower).arg(range.upper)));
    }
};

QTEST_MAIN(TestAllSensors)
#include "test_all_sensors.moc"
