// The plot widget: its dark defaults and who controls the axis ranges.
#include <QtTest>

#include "captured_log.h"
#include "lumocustomplot.h"

namespace {

void wheel(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class TestLumoCustomPlot : public QObject {
    Q_OBJECT

private slots:
    void darkDefaults() {
        LumoCustomPlot plot;
        QVERIFY(!plot.userControlled);
        QVERIFY(plot.interactions().testFlag(QCP::iRangeDrag));
        QVERIFY(plot.interactions().testFlag(QCP::iRangeZoom));
        QCOMPARE(plot.selectionRectMode(), QCP::srmZoom);
        QCOMPARE(plot.xAxis->basePen().color(), QColor("#A4AAB0"));
        QCOMPARE(plot.xAxis->basePen().capStyle(), Qt::SquareCap);
        QCOMPARE(plot.xAxis->tickLengthOut(), 5);
        QCOMPARE(plot.xAxis->tickLengthIn(), 0);
        QVERIFY(!plot.xAxis->subTicks());
        QVERIFY(!plot.xAxis->grid()->visible());
        QCOMPARE(plot.xAxis->labelFont().pointSize(), 10);
        for (QCPAxis* axis : {plot.yAxis, plot.yAxis2}) {
            QCOMPARE(axis->basePen().color(), QColor("#3F454A"));
            QCOMPARE(axis->tickPen().color(), QColor("#33383C"));
            QCOMPARE(axis->grid()->pen().color(), QColor("#33383C"));
            QCOMPARE(axis->tickLabelColor(), QColor("#A4AAB0"));
            QCOMPARE(axis->tickLengthOut(), 0);
        }
        QVERIFY(plot.yAxis->visible());
        QVERIFY(!plot.yAxis2->visible());
        // The background shows through an otherwise empty plot.
        plot.resize(200, 120);
        const QImage image = plot.toPixmap(200, 120).toImage();
        QCOMPARE(image.pixelColor(100, 10), QColor("#3b4044"));
    }

    void wheelTakesOverOnceAndLogsOnce() {
        LumoCustomPlot plot;
        plot.resize(300, 200);
        CapturedLog log;
        wheel(&plot);
        QVERIFY(plot.userControlled);
        wheel(&plot);
        QCOMPARE(log.count("user controlled = true"), 1);

        // A double click hands the ranges back; the next turn logs again.
        QTest::mouseDClick(&plot, Qt::LeftButton);
        QVERIFY(!plot.userControlled);
        wheel(&plot);
        QCOMPARE(log.count("user controlled = true"), 2);
        QVERIFY(log.has(QtDebugMsg, "user controlled = true"));
    }

    void pressWithoutDragTakesOver() {
        LumoCustomPlot plot;
        plot.resize(300, 200);
        plot.addGraph();
        plot.graph(0)->addData(1, 1);
        plot.graph(0)->addData(2, 5);
        plot.xAxis->setRange(0, 100);
        QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        QVERIFY(plot.userControlled);
        QCOMPARE(plot.xAxis->range(), QCPRange(0, 100));

        // A double click rescales to the data.
        QTest::mouseDClick(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        QCOMPARE(plot.xAxis->range(), QCPRange(1, 2));
        QVERIFY(!plot.userControlled);
    }

    void doubleClickOnAnEmptyPlotStillHandsBack() {
        LumoCustomPlot plot;
        plot.resize(300, 200);
        plot.userControlled = true;
        const QCPRange before = plot.xAxis->range();
        QTest::mouseDClick(&plot, Qt::LeftButton);
        QCOMPARE(plot.xAxis->range(), before);
        QVERIFY(!plot.userControlled);
    }
};

QTEST_MAIN(TestLumoCustomPlot)
#include "test_lumocustomplot.moc"
