// The cycle hand-off and the live display, driven cycle by cycle from the test
// with no run active (the sensor object's answer is set directly).
#include <QPushButton>
#include <QWheelEvent>

#include <cstring>

#include "lumocustomplot.h"
#include "tab_fixture.h"
#include "vqs.h"

namespace {

void setAnswer(VQS* sensor, float conc, float t, float p, float rh) {
    sensor->answer.concentration = conc;
    sensor->answer.temperature = t;
    sensor->answer.pressure = p;
    sensor->answer.humidity = rh;
    sensor->freshAnswer = true;  // as the worker reports a cycle that brought this answer
}

void wheelOver(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class TestTabDisplay : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> window;
    TarnLiteSystemTab* tab = nullptr;
    VQS* sensor = nullptr;
    LumoCustomPlot* conc = nullptr;
    LumoCustomPlot* enviro = nullptr;

private slots:
    void init() {
        window = std::make_unique<MainWindow>();
        window->resize(1100, 720);
        window->show();
        tab = currentTab(*window);
        sensor = tab->sensorObject();
        conc = part<LumoCustomPlot>(tab, "plot_conc");
        enviro = part<LumoCustomPlot>(tab, "plot_enviro");
        sensor->sensorInfo.sensorType = 3;
    }
    void cleanup() { window.reset(); }

    void initialFormState() {
        QCOMPARE(tab->objectName(), QString("TarnLiteSystemTab"));
        QCOMPARE(tab->windowTitle(), QString("Form"));
        auto* combo = part<QComboBox>(tab, "comboBox_ports");
        QVERIFY(!combo->isEnabled());
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), QString("Please Select a Device..."));
        QVERIFY(part<QPushButton>(tab, "pushButton_scanPorts")->isEnabled());
        QVERIFY(!part<QPushButton>(tab, "pushButton_start")->isEnabled());
        QVERIFY(part<QPushButton>(tab, "pushButton_start")->isCheckable());
        QVERIFY(!part<QPushButton>(tab, "pushButton_saveData")->isEnabled());
        QVERIFY(part<QPushButton>(tab, "pushButton_testNotes")->isEnabled());
        QCOMPARE(part<QPushButton>(tab, "pushButton_updateFirmware")->text(), QString("Firmware Up-to-Date"));
        QVERIFY(part<QRadioButton>(tab, "radioButton_lel")->isChecked());
        QVERIFY(!part<QRadioButton>(tab, "radioButton_lel")->isEnabled());
        QVERIFY(!part<QRadioButton>(tab, "radioButton_unit2")->isVisible());
        QCOMPARE(labelText(tab, "label_flamID"), QString("None"));
        QCOMPARE(labelText(tab, "label_flamConcUnit"), QString("%LEL"));
        QCOMPARE(labelText(tab, "label_tempUnit"), QString("°C"));
        QCOMPARE(part<QLabel>(tab, "label_pressureLegend")->styleSheet(), QString("QLabel{color:#FFAD2B;}"));
        QCOMPARE(conc->graphCount(), 1);
        QCOMPARE(enviro->graphCount(), 3);
        QCOMPARE(enviro->graph(1)->valueAxis(), enviro->yAxis2);
        QVERIFY(enviro->yAxis2->visible());
        QVERIFY(!conc->yAxis2->visible());
        QCOMPARE(conc->graph(0)->pen().color(), QColor("#CC483D"));
        QCOMPARE(enviro->graph(2)->pen().color(), QColor("#1FB8A1"));
        QCOMPARE(conc->yAxis->range(), QCPRange(-10, 120));
        QCOMPARE(part<QLabel>(tab, "label_logo")->maximumSize(), QSize(250, 73));
    }

    void zeroEnvironmentBeforeTheFirstRecordedCycleIsSkipped() {
        setAnswer(sensor, 5, 0.0f, 101.3f, 40);
        tab->onVQSWorkComplete();
        setAnswer(sensor, 5, 21.5f, 0.0f, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(sensor->cycleCount, 0u);
        QCOMPARE(labelText(tab, "label_temp"), QString("0"));
        QCOMPARE(labelText(tab, "label_flamConc"), QString("0"));
        QCOMPARE(enviro->graph(0)->dataCount(), 0);
        QCOMPARE(conc->graph(0)->dataCount(), 0);

        setAnswer(sensor, 12.96f, 21.5f, 101.3f, 40);
        sensor->transport = 1;  // a UART sensor's rows carry its own sample number
        sensor->sensorCycle = 7;
        tab->onVQSWorkComplete();
        QCOMPARE(sensor->cycleCount, 1u);
        QCOMPARE(labelText(tab, "label_flamConc"), QString("13.0"));
        QCOMPARE(labelText(tab, "label_temp"), QString("21.5"));
        QCOMPARE(labelText(tab, "label_pressure"), QString("101.3"));
        QCOMPARE(labelText(tab, "label_humidity"), QString("40.0"));
        QCOMPARE(labelText(tab, "label_cycles"), QString("7"));

        // Once a cycle is recorded, zero readings are recorded too.
        setAnswer(sensor, 0, 0, 0, 0);
        tab->onVQSWorkComplete();
        QCOMPARE(sensor->cycleCount, 2u);
        QCOMPARE(enviro->graph(1)->dataCount(), 2);
        QCOMPARE(labelText(tab, "label_temp"), QString("0.0"));
    }

    void ppmSensorsShowWholeNumbers() {
        sensor->sensorInfo.sensorType = 5;
        setAnswer(sensor, 12.9f, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(labelText(tab, "label_flamConc"), QString("12"));
        setAnswer(sensor, -3.7f, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(labelText(tab, "label_flamConc"), QString("-3"));
    }

    void statusLineFollowsTheStatusCode_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("colour");
        QTest::newRow("ok") << 0 << "Sensor OK" << "#26A65B";
        QTest::newRow("warm-up") << 0x28 << "Sensor Warm-Up" << "#F89406";
        QTest::newRow("start-up") << 0x27 << "Sensor Start-Up" << "#F89406";
        QTest::newRow("initializing") << 0x26 << "Sensor Initializing" << "#F89406";
        QTest::newRow("other") << 0x29 << "the sensor's own text" << "#Ff0000";
    }
    void statusLineFollowsTheStatusCode() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(QString, colour);
        sensor->lastReplyHeader.status = uint8_t(code);
        std::strcpy(sensor->statusText, "the sensor's own text");
        setAnswer(sensor, 1, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(labelText(tab, "label_status"), text);
        QCOMPARE(part<QLabel>(tab, "label_status")->styleSheet(),
                 QString("QLabel{color:%1;font-family:Quicksand;}").arg(colour));
    }

    void concentrationAxisGrowsAndSurvivesClearing() {
        setAnswer(sensor, 150, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(conc->yAxis->range(), QCPRange(-10, 170));
        setAnswer(sensor, 100, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(conc->yAxis->range(), QCPRange(-10, 170));  // never lowered

        tab->clearData();
        QCOMPARE(conc->yAxis->range(), QCPRange(-10, 120));
        QCOMPARE(conc->graph(0)->dataCount(), 0);
        QCOMPARE(labelText(tab, "label_flamConc"), QString("0"));
        QCOMPARE(labelText(tab, "label_flamID"), QString("None"));
        QCOMPARE(enviro->yAxis2->range(), QCPRange(0, 5));
        QCOMPARE(sensor->cycleCount, 0u);

        setAnswer(sensor, 10, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(conc->yAxis->range(), QCPRange(-10, 170));
    }

    void environmentAxesFollowTheData() {
        setAnswer(sensor, 1, 20, 100, 40);
        tab->onVQSWorkComplete();
        setAnswer(sensor, 1, 30, 102, 60);
        tab->onVQSWorkComplete();
        // Left axis: T and RH together (20 .. 60) widened by 1.1 about the middle.
        QCOMPARE(enviro->yAxis->range().lower, 18.0);
        QCOMPARE(enviro->yAxis->range().upper, 62.0);
        // Right axis: pressure (100 .. 102) widened by 5.
        QCOMPARE(enviro->yAxis2->range().lower, 96.0);
        QCOMPARE(enviro->yAxis2->range().upper, 106.0);

        // The axes always match a rescale over every point, NaN readings and
        // constant data included, also after the data was cleared.
        const float readings[][3] = {{21, 101, 45}, {NAN, 99.5f, 30}, {-5, NAN, NAN}, {0, 0, 0}};
        auto expectRescaled = [&] {
            const QCPRange left = enviro->yAxis->range(), right = enviro->yAxis2->range();
            enviro->yAxis->rescale(false);
            enviro->yAxis2->rescale(false);
            enviro->yAxis->scaleRange(1.1);
            enviro->yAxis2->scaleRange(5);
            QCOMPARE(enviro->yAxis->range(), left);
            QCOMPARE(enviro->yAxis2->range(), right);
        };
        for (const auto& r : readings) {
            setAnswer(sensor, 1, r[0], r[1], r[2]);
            tab->onVQSWorkComplete();
            expectRescaled();
        }
        tab->clearData();
        // Constant data on each axis: centred, keeping the span the axis had
        // (the cleared 0 .. 5), then widened.
        setAnswer(sensor, 1, 22, 100, 22);
        tab->onVQSWorkComplete();
        QCOMPARE(enviro->yAxis->range().center(), 22.0);
        QCOMPARE(enviro->yAxis->range().size(), 5.5);
        QCOMPARE(enviro->yAxis2->range().center(), 100.0);
        QCOMPARE(enviro->yAxis2->range().size(), 25.0);
        // The same readings again: the axes stay as they are, not widened once more.
        tab->onVQSWorkComplete();
        QCOMPARE(enviro->yAxis->range().size(), 5.5);
        QCOMPARE(enviro->yAxis2->range().size(), 25.0);
    }

    void wheelStopsAutomaticRangesAndDoubleClickRestoresThem() {
        setAnswer(sensor, 1, 20, 100, 40);
        tab->onVQSWorkComplete();
        wheelOver(enviro);
        QVERIFY(enviro->userControlled);
        const QCPRange before = enviro->yAxis->range();
        setAnswer(sensor, 1, 80, 100, 90);
        tab->onVQSWorkComplete();
        QCOMPARE(enviro->graph(0)->dataCount(), 2);  // points are still added
        QCOMPARE(enviro->yAxis->range(), before);    // but the axes stay

        QTest::mouseDClick(enviro, Qt::LeftButton);
        QVERIFY(!enviro->userControlled);
        setAnswer(sensor, 1, 85, 100, 95);
        tab->onVQSWorkComplete();
        QVERIFY(enviro->yAxis->range().upper > 95);

        // A press on the concentration plot hands it to the user likewise.
        QTest::mousePress(conc, Qt::LeftButton);
        QTest::mouseRelease(conc, Qt::LeftButton);
        setAnswer(sensor, 300, 20, 100, 40);
        tab->onVQSWorkComplete();
        QCOMPARE(conc->yAxis->range().upper != 320.0, true);
    }

    // Value labels hold their size while values change, so a cycle does not
    // lay the page out again; yet no text is ever clipped, the window can
    // still shrink, and a resize places the labels afresh.
    void valueLabelsHoldTheirSizeAndNeverClip() {
        QApplication::processEvents();
        auto* value = part<QLabel>(tab, "label_flamConc");
        auto* status = part<QLabel>(tab, "label_status");
        const auto fits = [](QLabel* label) {
            return label->width() >= label->sizeHint().width() && label->height() >= label->sizeHint().height();
        };

        setAnswer(sensor, 888.8f, 20, 100, 40);  // wider than the values below
        tab->onVQSWorkComplete();
        QApplication::processEvents();
        const QSize held = value->size();
        for (float conc : {2.5f, 17.25f, 0.0f, 99.9f}) {
            setAnswer(sensor, conc, 20, 100, 40);
            tab->onVQSWorkComplete();
            QApplication::processEvents();
            QCOMPARE(value->size(), held);
            QVERIFY(fits(value));
        }

        // Held labels do not stop the window from shrinking to what its
        // contents need, and the resize hands them back to the layout.
        const int wide = window->width();
        window->resize(800, window->height());
        QApplication::processEvents();
        QCOMPARE(window->width(), qMax(800, window->minimumSizeHint().width()));
        QVERIFY(window->width() < wide - 200);
        QCOMPARE(value->maximumWidth(), QWIDGETSIZE_MAX);
        QVERIFY(fits(value));

        // Texts that need more room than the label has grow it.
        setAnswer(sensor, 123456789.0f, 20, 100, 40);
        sensor->lastReplyHeader.status = 0x29;
        std::strcpy(sensor->statusText, "a status text longer than the one the layout planned for");
        tab->onVQSWorkComplete();
        QApplication::processEvents();
        QVERIFY(fits(value));
        QVERIFY(fits(status));
        QCOMPARE(status->text(), QString(sensor->statusText));

        // The end of a run hands the labels back to the layout.
        sensor->lastReplyHeader.status = 0;
        tab->onVQSWorkComplete();
        QApplication::processEvents();
        tab->onVQSStopped();
        QApplication::processEvents();
        QCOMPARE(value->maximumWidth(), QWIDGETSIZE_MAX);
        QCOMPARE(status->minimumWidth(), 0);
        QVERIFY(fits(value));
    }

    // Value labels paint a plain opaque background for speed; what the page
    // shows must be exactly what their styled background showed.
    void valueLabelsLookAsStyled() {
        sensor->lastReplyHeader.status = 0x28;
        setAnswer(sensor, 42.5f, 23.4f, 101.3f, 55.5f);
        tab->onVQSWorkComplete();
        QApplication::processEvents();
        QObject* fill = tab->findChild<QObject*>(QStringLiteral("valueLabelBackground"));
        QVERIFY(fill);
        for (const char* name : {"label_flamID", "label_flamConc", "label_temp", "label_pressure", "label_humidity",
                                 "label_time", "label_cycles", "label_status"}) {
            auto* label = part<QLabel>(tab, name);
            QVERIFY2(label->testAttribute(Qt::WA_OpaquePaintEvent), name);
            const QRect onPage(label->mapTo(tab, QPoint(0, 0)), label->size());
            const QImage fast = tab->grab(onPage).toImage();
            label->removeEventFilter(fill);
            label->setAttribute(Qt::WA_OpaquePaintEvent, false);
            const QImage styled = tab->grab(onPage).toImage();
            label->setAttribute(Qt::WA_OpaquePaintEvent, true);
            label->installEventFilter(fill);
            QVERIFY2(!fast.isNull() && fast == styled, name);
        }
    }

    void elapsedTimeFormat() {
        QCOMPARE(TarnLiteSystemTab::elapsedText(0), QString("00h:00m:00s"));
        QCOMPARE(TarnLiteSystemTab::elapsedText(3725000), QString("01h:02m:05s"));
        QCOMPARE(TarnLiteSystemTab::elapsedText((100 * 3600 + 2 * 60 + 3) * 1000LL + 999), QString("100h:02m:03s"));
    }

    void testNotesDialogIsShownOnce() {
        part<QPushButton>(tab, "pushButton_testNotes")->click();
        part<QPushButton>(tab, "pushButton_testNotes")->click();
        int shown = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("TestNoteDialog") && w->isVisible())
                ++shown;
        QCOMPARE(shown, 1);
    }
};

QTEST_MAIN(TestTabDisplay)
#include "test_tab_display.moc"
