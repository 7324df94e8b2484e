// Alarm set-points on a page running against a simulated sensor whose gas
// steps up and back: the alarm is raised on the cycle whose row crosses the
// level, logged, shown on the page and in the All sensors panel, held while
// latched, acknowledged; the set-points come back for the same sensor.
#include <QCheckBox>
#include <QDialog>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTableWidget>
#include <QToolBar>

#include "alarmsettings.h"
#include "allsensorspanel.h"
#include "lumocustomplot.h"
#include "presentation.h"
#include "startup.h"
#include "tab_fixture.h"

namespace {

// Unique to this process: run directories and stored set-points of concurrent tests stay apart.
QString sensorName() {
    return QStringLiteral("VQS-ALARM-%1").arg(QCoreApplication::applicationPid() % 100000);
}

QStringList timeLog(const QString& sensor) {
    QDir temp(QCoreApplication::applicationDirPath() + "/TempData");
    const QStringList dirs = temp.entryList({"* " + sensor}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    QFile file(dirs.isEmpty() ? QString() : temp.filePath(dirs.first() + "/timelog.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts)
                                          : QStringList();
}

// The time log's line ending in `what` ("High alarm raised"): its cycle, or -1.
int loggedCycle(const QString& sensor, const QString& what) {
    const QRegularExpression form("^\\S+ - \\S+: Cycle (\\d+): " + QRegularExpression::escape(what) +
                                  " \\(\\d+\\.\\d{3} s\\)$");
    for (const QString& line : timeLog(sensor)) {
        const QRegularExpressionMatch m = form.match(line);
        if (m.hasMatch())
            return m.captured(1).toInt();
    }
    return -1;
}

QDialog* openAlarmDialog(TarnLiteSystemTab* tab) {
    part<QPushButton>(tab, "pushButton_alarms")->click();
    QDialog* dialog = nullptr;
    if (!QTest::qWaitFor([&] { return (dialog = tab->findChild<QDialog*>("alarmDialog")) && dialog->isVisible(); },
                         5000))
        return nullptr;
    return dialog;
}

}  // namespace

class TestTabAlarms : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
        // The settings file beside the executable is shared with concurrent tests.
        QVERIFY(settingsDir.isValid());
        AlarmSettings::setProgramSettingsPath(settingsDir.filePath("vqs-sensor-interface.ini"));
    }

    void latchedHighAlarmOnTheCrossingCycle() {
        const QString name = sensorName();
        SimulatedPorts ports;
        vqssim::Options options;
        options.samplePeriodMs = 200;
        // 50 %LEL (22000 PPM on a methane sensor) from 2 s to 5 s of the sample clock.
        options.gasProfile.steps = {{0.0, 0.0}, {2.0, 50.0}, {5.0, 0.0}};
        vqssim::Simulator* sim =
            ports.add("ttyUSB0", sensorIdentity(name.toLatin1().constData(), 5, {{3, 2, 0, 0}}), vqssim::Framing::Uart,
                      options);
        QVERIFY(sim);
        MainWindow window;
        window.show();
        BoxAnswerer boxes;
        QTest::mouseClick(window.findChild<QToolBar*>("toolBar_sensors")
                              ->widgetForAction(window.findChild<QAction*>("action_allSensors")),
                          Qt::LeftButton);
        auto* panel = window.findChild<AllSensorsPanel*>("allSensorsPanel");
        QVERIFY(panel && panel->isVisible());
        TarnLiteSystemTab* tab = currentTab(window);
        auto* alarmsButton = part<QPushButton>(tab, "pushButton_alarms");
        auto* acknowledge = part<QPushButton>(tab, "pushButton_acknowledge");
        QVERIFY(!alarmsButton->isEnabled());  // no sensor, no set-points
        part<QPushButton>(tab, "pushButton_scanPorts")->click();
        QTRY_VERIFY_WITH_TIMEOUT(alarmsButton->isEnabled(), 10000);
        QCOMPARE(labelText(tab, "label_alarm"), QString("Alarms off"));

        QDialog* dialog = openAlarmDialog(tab);
        QVERIFY(dialog);
        QCOMPARE(part<QDoubleSpinBox>(dialog, "spinBox_highLevel")->suffix(), QString(" PPM"));
        part<QGroupBox>(dialog, "groupBox_high")->setChecked(true);
        part<QDoubleSpinBox>(dialog, "spinBox_highLevel")->setValue(10000);
        part<QDoubleSpinBox>(dialog, "spinBox_highHysteresis")->setValue(1000);
        part<QCheckBox>(dialog, "checkBox_highLatching")->setChecked(true);
        dialog->accept();
        QCOMPARE(labelText(tab, "label_alarm"), QString("No alarm"));

        sim->setSampleNumber(1);  // the profile's clock starts with the run
        part<QPushButton>(tab, "pushButton_start")->click();
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_alarm"), QString("High alarm (latched)"), 15000);
        QCOMPARE(part<QLabel>(tab, "label_alarm")->styleSheet(),
                 presentation::labelStyle(presentation::Tone::Red));
        QVERIFY(acknowledge->isEnabled());
        // Raised with the row that first reached the level, at that row's cycle.
        QTRY_VERIFY_WITH_TIMEOUT(loggedCycle(name, "High alarm raised") > 0, 5000);
        const int raisedAt = loggedCycle(name, "High alarm raised");
        QCPGraph* conc = part<LumoCustomPlot>(tab, "plot_conc")->graph(0);
        QVERIFY(raisedAt >= 2 && conc->dataCount() >= raisedAt);
        QVERIFY(conc->data()->at(raisedAt - 1)->value >= 10000);
        QVERIFY(conc->data()->at(raisedAt - 2)->value < 10000);
        QCOMPARE(tab->snapshot().alarm, presentation::AlarmState::High);
        panel->refresh();
        const QColor red(presentation::colourName(presentation::Tone::Red));
        QCOMPARE(panel->table()->item(0, AllSensorsPanel::ColName)->background().color().rgb(), red.rgb());
        QCOMPARE(panel->plot()->graph(0)->pen().color(), red);
        saveScreenshot(&window, "tab-alarm.png");

        // The gas goes: the latched alarm stays until acknowledged, then clears.
        const uint32_t rowsBefore = tab->recordedCycles();
        QTRY_VERIFY_WITH_TIMEOUT(conc->dataCount() > 0 && conc->data()->at(conc->dataCount() - 1)->value == 0, 15000);
        QVERIFY(tab->recordedCycles() > rowsBefore);
        QCOMPARE(labelText(tab, "label_alarm"), QString("High alarm (latched)"));
        QCOMPARE(loggedCycle(name, "High alarm cleared"), -1);
        acknowledge->click();
        QCOMPARE(labelText(tab, "label_alarm"), QString("No alarm"));
        QCOMPARE(part<QLabel>(tab, "label_alarm")->styleSheet(),
                 presentation::labelStyle(presentation::Tone::Green));
        QVERIFY(!acknowledge->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(loggedCycle(name, "High alarm cleared") >= raisedAt, 5000);
        QVERIFY(loggedCycle(name, "High alarm acknowledged") >= raisedAt);
        panel->refresh();
        QCOMPARE(panel->table()->item(0, AllSensorsPanel::ColName)->background().style(), Qt::NoBrush);
        QVERIFY(panel->plot()->graph(0)->pen().color() != red);

        part<QPushButton>(tab, "pushButton_start")->click();
        QTRY_COMPARE_WITH_TIMEOUT(labelText(tab, "label_status"), QString("Idle"), 10000);

        // Another page that identifies the same sensor has its set-points.
        window.addSystem();
        TarnLiteSystemTab* other = currentTab(window);
        QVERIFY(other != tab);
        part<QPushButton>(other, "pushButton_scanPorts")->click();
        QTRY_COMPARE_WITH_TIMEOUT(labelText(other, "label_alarm"), QString("No alarm"), 10000);
        dialog = openAlarmDialog(other);
        QVERIFY(dialog);
        QVERIFY(part<QGroupBox>(dialog, "groupBox_high")->isChecked());
        QCOMPARE(part<QDoubleSpinBox>(dialog, "spinBox_highLevel")->value(), 10000.0);
        QCOMPARE(part<QDoubleSpinBox>(dialog, "spinBox_highHysteresis")->value(), 1000.0);
        QVERIFY(part<QCheckBox>(dialog, "checkBox_highLatching")->isChecked());
        dialog->reject();
        QVERIFY(boxes.seen.isEmpty());
    }

private:
    QTemporaryDir settingsDir;
};

QTEST_MAIN(TestTabAlarms)
#include "test_tab_alarms.moc"
