// A run recorded by the sensor page against the simulator, opened again in
// the main window's run viewer: the same points, the same axes, its events
// marked; then another run compared, pictures saved, damaged runs refused
// and the viewer's tab closed by its close button; a run's gas steps listed
// with their response times, and statistics between cursors on its rows.
#include <QAbstractItemModel>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "../source/recording_fixture.h"
#include "gasmarks.h"
#include "lumocustomplot.h"
#include "mainwindow.h"
#include "runviewtab.h"
#include "statscursors.h"

using namespace rec;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The table's rows as text fields, as a spreadsheet would split them.
QList<QStringList> csvRows(const QString& path) {
    QList<QStringList> rows;
    const QList<QByteArray> lines = readAll(path).split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromLatin1(lines[i]).trimmed();
        if (line.isEmpty())
            continue;
        QStringList fields = line.split(',');
        for (QString& field : fields)
            field = field.trimmed();
        rows << fields;
    }
    return rows;
}

// A comparison run of a PPM sensor whose concentration climbs to 100 over a minute.
QString writeRampRun(const QString& parent) {
    const QString path = parent + "/2024_03_15-142530 RAMP";
    QDir().mkdir(path);
    QByteArray csv = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [PPM]\r\n";
    for (int n = 0; n <= 60; ++n)
        csv += QByteArray::number(n, 'f', 6) + ", " + QByteArray::number(n) +
               ", 22.000000, 101.000000, 40.000000, 1, " + QByteArray::number(n * 100.0 / 60, 'f', 6) + "\r\n";
    writeFile(path + "/vqsData.csv", csv);
    return path;
}

// Every event line up to `until` lies inside the time axis, not on its edge,
// and its label inside the axis rectangle.
void verifyEventsInside(QCustomPlot* plot, double until = 1e9) {
    plot->replot();
    const QCPRange range = plot->xAxis->range();
    const QRect rect = plot->axisRect()->rect();
    int lines = 0;
    for (int i = 0; i < plot->itemCount(); ++i) {
        auto* line = qobject_cast<QCPItemStraightLine*>(plot->item(i));
        auto* label = qobject_cast<QCPItemText*>(plot->item(i));
        if ((line ? line->point1->coords().x() : label ? label->position->coords().x() : 0) > until)
            continue;
        if (line) {
            const double x = line->point1->coords().x();
            QVERIFY2(range.lower < x && x < range.upper,
                     qPrintable(QStringLiteral("%1 outside %2 .. %3").arg(x).arg(range.lower).arg(range.upper)));
            ++lines;
        } else if (label) {
            const QRectF box(label->topLeft->pixelPosition(), label->bottomRight->pixelPosition());
            QVERIFY2(rect.contains(box.toAlignedRect()), qPrintable(label->text()));
        }
    }
    QVERIFY(lines > 0);
}

// The legend lies outside the axis rectangle, over no event label.
void verifyLegendClearOfEvents(QCustomPlot* plot) {
    plot->replot();
    const QRect legend = plot->legend->outerRect();
    QVERIFY(plot->legend->visible() && !legend.isEmpty());
    QVERIFY(!legend.intersects(plot->axisRect()->rect()));
    for (int i = 0; i < plot->itemCount(); ++i)
        if (auto* label = qobject_cast<QCPItemText*>(plot->item(i)))
            QVERIFY(!legend.intersects(
                QRectF(label->topLeft->pixelPosition(), label->bottomRight->pixelPosition()).toAlignedRect()));
}

QWidget* tabCloseButton(QTabWidget* tabs, int index) {
    QTabBar* bar = tabs->tabBar();
    QWidget* button = bar->tabButton(index, QTabBar::RightSide);
    return button ? button : bar->tabButton(index, QTabBar::LeftSide);
}

}  // namespace

class TestRunView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { makeWorkingDirectories(); }

    void pageRunOpenedAgainAndCompared() {
        const QString tempData = appDir() + "/TempData";
        for (const QString& old : QDir(tempData).entryList({"* RV-PAGE"}, QDir::Dirs))
            QDir(tempData + '/' + old).removeRecursively();
        Bench bench(identity("RV-PAGE", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(6));
        QVERIFY(bench.stop());
        const QString runDir = findDir(tempData, " RV-PAGE");
        QVERIFY(!runDir.isEmpty());
        const QList<QStringList> rows = csvRows(runDir + "/vqsData.csv");
        QVERIFY(rows.size() >= 6);

        MainWindow window;
        window.resize(1200, 860);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* tabs = window.findChild<QTabWidget*>("tabWidget");
        auto* openRunAction = window.findChild<QAction*>("action_openRun");
        QVERIFY(openRunAction && openRunAction->shortcut() == QKeySequence(QKeySequence::Open));
        QVERIFY(window.findChild<QMenu*>("menuFIle")->actions().contains(openRunAction));
        RunViewTab* viewer = window.openRun(runDir);
        QVERIFY(viewer);
        QCOMPARE(tabs->currentWidget(), viewer);
        QCOMPARE(tabs->tabText(tabs->currentIndex()), viewer->title());
        QVERIFY(viewer->title().startsWith("RV-PAGE 20"));

        // Every recorded row is a point, as the file has it and as the page plotted it.
        LumoCustomPlot* conc = viewer->concPlot();
        LumoCustomPlot* enviro = viewer->enviroPlot();
        auto* pageConc = bench.tab->findChild<LumoCustomPlot*>("plot_conc");
        auto* pageEnviro = bench.tab->findChild<LumoCustomPlot*>("plot_enviro");
        QCOMPARE(conc->graph(0)->dataCount(), rows.size());
        QCOMPARE(pageConc->graph(0)->dataCount(), rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            const auto point = conc->graph(0)->data()->at(i);
            QCOMPARE(point->key, rows[i][0].toDouble());
            QCOMPARE(QString::number(point->value, 'f', 6), rows[i][6]);
            QVERIFY(qAbs(point->value - pageConc->graph(0)->data()->at(i)->value) <= 5e-7);
            for (int g = 0; g < 3; ++g) {
                const double value = enviro->graph(g)->data()->at(i)->value;
                QCOMPARE(QString::number(value, 'f', 6), rows[i][2 + g]);
                QVERIFY(qAbs(value - pageEnviro->graph(g)->data()->at(i)->value) <= 5e-7 * qMax(1.0, qAbs(value)));
            }
        }
        // The page's automatic ranges: the same value axes; time over every row and every event marked.
        QCOMPARE(conc->yAxis->range().lower, pageConc->yAxis->range().lower);
        QCOMPARE(conc->yAxis->range().upper, pageConc->yAxis->range().upper);
        QVERIFY(conc->xAxis->range().lower <= 0.0);
        QVERIFY(conc->xAxis->range().upper >= rows.last()[0].toDouble());
        verifyEventsInside(conc);
        verifyEventsInside(enviro);
        for (QCPAxis* axis : {enviro->yAxis, enviro->yAxis2}) {
            QCPAxis* page = axis == enviro->yAxis ? pageEnviro->yAxis : pageEnviro->yAxis2;
            QVERIFY(qAbs(axis->range().lower - page->range().lower) < 1e-3);
            QVERIFY(qAbs(axis->range().upper - page->range().upper) < 1e-3);
        }
        // "Started" and "Stopped" marked: a line and a label each, on both plots.
        QCOMPARE(conc->itemCount(), 4);
        QCOMPARE(enviro->itemCount(), 4);
        auto* table = viewer->findChild<QTableView*>("tableView_rows");
        QCOMPARE(table->model()->rowCount(), rows.size());
        QCOMPARE(table->model()->data(table->model()->index(2, 1)).toString(), rows[2][1]);
        // The gas code as recorded, named.
        QVERIFY(table->model()->data(table->model()->index(2, 5)).toString().startsWith(rows[2][5] + " "));
        QCOMPARE(table->model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("Conc [%LEL]"));

        // Add Run: a second curve with a legend naming both runs.
        QTemporaryDir other;
        const QString ramp = writeRampRun(other.path());
        QString askedFor;
        viewer->chooseDirectory = [&](const QString& caption) {
            askedFor = caption;
            return ramp;
        };
        viewer->findChild<QPushButton*>("pushButton_addRun")->click();
        QCOMPARE(viewer->runCount(), 2);
        QCOMPARE(conc->graphCount(), 2);
        QVERIFY(conc->legend->visible());
        QCOMPARE(conc->graph(1)->name(), QStringLiteral("RAMP 2024-03-15 14:25:30"));
        QCOMPARE(conc->xAxis->range().upper, 60.0);
        verifyLegendClearOfEvents(conc);
        // A PPM run beside a %LEL one is read on an axis of its own, and said so.
        QCOMPARE(conc->graph(1)->valueAxis(), conc->yAxis2);
        QVERIFY(conc->yAxis2->visible());
        QVERIFY(conc->yAxis2->range().upper >= 100.0);
        auto* problems = viewer->findChild<QLabel*>("label_problems");
        QVERIFY2(problems->isVisibleTo(viewer) && problems->text().contains("RAMP 2024-03-15 14:25:30: concentration in PPM, the first run's"),
                 qPrintable(problems->text()));

        // Save Pictures writes what Save Data writes.
        QTemporaryDir pictures;
        viewer->chooseDirectory = [&](const QString&) { return pictures.path(); };
        viewer->findChild<QPushButton*>("pushButton_savePictures")->click();
        for (const char* name : {"vqsConc.png", "vqsConc.pdf", "vqsEnviro.png", "vqsEnviro.pdf"})
            QVERIFY2(QFileInfo(pictures.filePath(name)).size() > 0, name);
        QVERIFY(!QImage(pictures.filePath("vqsConc.png")).isNull());
        // The window says where they went.
        QCOMPARE(window.statusBar()->currentMessage(),
                 "Pictures saved in " + QDir::toNativeSeparators(pictures.path()));

        QTest::qWait(50);  // let the queued replots paint before the picture is taken
        const QString shots = QStringLiteral(VQS_BINARY_DIR "/screenshots");
        QDir().mkpath(shots);
        QVERIFY(window.grab().save(shots + "/runview_compare.png"));

        // A directory without a table is refused with a reason; nothing opens.
        const int before = tabs->count();
        {
            BoxAnswerer boxes;
            QTemporaryDir empty;
            QVERIFY(!window.openRun(empty.path()));
            QCOMPARE(boxes.texts(), QStringList{"Nothing to Show"});
            QVERIFY(boxes.seen.first().informativeText.contains("no vqsData.csv"));
        }
        QCOMPARE(tabs->count(), before);

        // The viewer's close button closes it without a question (Cancel would keep it).
        BoxAnswerer boxes(QMessageBox::Cancel);
        QPointer<RunViewTab> closing(viewer);
        QTest::mouseClick(tabCloseButton(tabs, tabs->indexOf(viewer)), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return closing.isNull(); }, 5000));
        QCOMPARE(tabs->count(), before - 1);
        QVERIFY(boxes.seen.isEmpty());
        QDir(runDir).removeRecursively();
    }

    // A saved run with "Gas on" and "Gas off" in its time log: the response
    // times of both steps are listed (and shown first); cursors take their
    // numbers from the run's rows.
    void stepsOfASavedRunListedAndCursorsOnItsRows() {
        QTemporaryDir parent;
        const QString dir = parent.path() + "/2024_03_15-142530 STEPS";
        QVERIFY(QDir().mkdir(dir));
        QByteArray csv = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [%LEL]\r\n";
        for (int n = 0; n <= 200; ++n) {
            // A first-order sensor (5 s) with gas from 20 s to 110 s.
            double conc = n < 20 ? 0 : 50 * -std::expm1(-(std::min(n, 110) - 20) / 5.0);
            if (n > 110)
                conc *= std::exp(-(n - 110) / 5.0);
            csv += QByteArray::number(n, 'f', 6) + ", " + QByteArray::number(n + 1) + ", 22.000000, 101.000000, 40.000000, 3, " +
                   QByteArray::number(conc, 'f', 6) + "\r\n";
        }
        writeFile(dir + "/vqsData.csv", csv);
        writeFile(dir + "/timelog.txt", "2024_03_15 - 14_25_30: Started\r\n2024_03_15 - 14_25_50: " +
                                            gasMarkEvent(GasMark::GasOn, 21, 20.0).toUtf8() + "\r\n2024_03_15 - 14_27_21: " +
                                            gasMarkEvent(GasMark::GasOff, 111, 110.0).toUtf8() +
                                            "\r\n2024_03_15 - 14_28_51: Stopped\r\n");

        MainWindow window;
        window.resize(1200, 860);
        window.show();
        RunViewTab* viewer = window.openRun(dir);
        QVERIFY(viewer);
        auto* response = viewer->findChild<QPlainTextEdit*>("plainTextEdit_response");
        QVERIFY(response && response->isVisible());
        const QStringList lines = response->toPlainText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);  // the settings, then one line per step
        QVERIFY2(QRegularExpression("^Gas on at 20.000 s \\(cycle 21\\): rise t50 3\\.\\d s, t90 11\\.\\d s ").match(lines[1]).hasMatch(),
                 qPrintable(lines[1]));
        QVERIFY2(QRegularExpression("^Gas off at 110.000 s \\(cycle 111\\): fall t10 11\\.\\d s ").match(lines[2]).hasMatch(),
                 qPrintable(lines[2]));

        // Marks stand at their exact run time, not at the log's whole-second stamp (111 s).
        QList<double> gasOff;
        for (QCPItemText* text : viewer->findChildren<QCPItemText*>())
            if (text->text() == QLatin1String("Gas off"))
                gasOff << text->position->coords().x();
        QVERIFY(!gasOff.isEmpty());
        for (double x : gasOff)
            QCOMPARE(x, 110.0);

        StatsCursors* cursors = viewer->statsCursors();
        auto* label = viewer->findChild<QLabel*>("label_cursorStats");
        QVERIFY(!label->isVisible());
        viewer->findChild<QPushButton*>("pushButton_cursors")->click();
        QVERIFY(label->isVisible() && cursors->isShown());
        cursors->setPositions(150.0, 60.0);
        const IntervalStats expected = statsBetween(viewer->run(0).table.seconds, viewer->run(0).table.concentration, 60, 150);
        QCOMPARE(expected.n, size_t(91));
        const QRegularExpressionMatch shown =
            QRegularExpression("^Between 60.0 s and 150.0 s, in %LEL: n 91, mean (\\S+), SD (\\S+),").match(label->text());
        QVERIFY2(shown.hasMatch() && std::fabs(shown.captured(1).toDouble() - expected.mean) < 5e-4 * expected.mean &&
                     std::fabs(shown.captured(2).toDouble() - expected.sd) < 5e-4 * expected.sd,
                 qPrintable(label->text()));
        QTest::qWait(50);  // let the queued replots paint before the picture is taken
        const QString shots = QStringLiteral(VQS_BINARY_DIR "/screenshots");
        QDir().mkpath(shots);
        QVERIFY(window.grab().save(shots + "/runview_steps_cursors.png"));
    }

    // A hand-edited run: its rows as written, its stop logged after the last
    // row, its axes titled; then a file of other bytes refused by name.
    void awkwardRunShownAsWritten() {
        QTemporaryDir parent;
        const QString dir = parent.path() + "/2024_03_15-142530 AWK";
        QVERIFY(QDir().mkdir(dir));
        const QList<QByteArrayList> fields = {
            {"0.000000", "1", "21.500000", "101.300000", "45.000000", "3", "0.000000"},
            {"1.000000", "2", "-12.500000", "101.3", "0.0000001", "3", "1e-7"},
            {"2.500000", "3", "21.123456789012", "99.999999", "100.000000", "255", "-3.250000"},
        };
        QByteArray csv = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [%LEL]\r\n";
        for (const QByteArrayList& row : fields)
            csv += row.join(", ") + "\r\n";
        writeFile(dir + "/vqsData.csv", csv);
        // Logged to the second: the stop lands after the last row, at the end of the data; the save an hour later.
        writeFile(dir + "/timelog.txt", "2024_03_15 - 14_25_30: Started\r\n2024_03_15 - 14_25_33: Stopped\r\n"
                                        "2024_03_15 - 15_25_33: Data saved\r\n");

        MainWindow window;
        window.resize(1200, 860);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        RunViewTab* viewer = window.openRun(dir);
        QVERIFY(viewer);
        QAbstractItemModel* model = viewer->findChild<QTableView*>("tableView_rows")->model();
        for (int r = 0; r < fields.size(); ++r)
            for (int c = 0; c < 7; ++c) {
                const QString shown = model->data(model->index(r, c)).toString();
                const QString written = QString::fromLatin1(fields[r][c]);
                QVERIFY2(c == 5 ? shown.section(' ', 0, 0) == written : shown == written,
                         qPrintable(QStringLiteral("row %1 column %2: %3 for %4").arg(r).arg(c).arg(shown, written)));
            }

        LumoCustomPlot* conc = viewer->concPlot();
        LumoCustomPlot* enviro = viewer->enviroPlot();
        QCOMPARE(conc->xAxis->label(), QStringLiteral("Time [s]"));
        QCOMPARE(conc->yAxis->label(), QStringLiteral("Conc [%LEL]"));
        QCOMPARE(enviro->xAxis->label(), QStringLiteral("Time [s]"));
        QCOMPARE(enviro->yAxis->label(), QStringLiteral("T [C], RH [%]"));
        QCOMPARE(enviro->yAxis2->label(), QStringLiteral("P [kPa]"));
        verifyEventsInside(conc, 10);
        verifyEventsInside(enviro, 10);
        QVERIFY(conc->xAxis->range().upper < 4);  // the save is not the run
        // Zoomed in past the stop, a double click brings it back.
        conc->xAxis->setRange(0, 1);
        QTest::mouseDClick(conc, Qt::LeftButton, Qt::NoModifier, conc->axisRect()->center());
        verifyEventsInside(conc, 10);

        // Two runs added: a PPM ramp on the right axis and a copy of the first; the legend below the plot.
        QTemporaryDir others;
        const QString copy = others.path() + "/2024_03_15-150000 AWK2";
        QVERIFY(QDir().mkdir(copy));
        writeFile(copy + "/vqsData.csv", csv);
        QVERIFY(viewer->addRun(writeRampRun(others.path())));
        QVERIFY(viewer->addRun(copy));
        QCOMPARE(conc->yAxis2->label(), QStringLiteral("Conc [PPM]"));
        verifyLegendClearOfEvents(conc);
        QTest::qWait(50);  // let the queued replots paint before the picture is taken
        const QString shots = QStringLiteral(VQS_BINARY_DIR "/screenshots");
        QDir().mkpath(shots);
        QVERIFY(window.grab().save(shots + "/runview_two_added.png"));

        // Other bytes than a table: the box names the file and why, quotes none of them.
        QByteArray garbage("\x01\xfe\x7f\"\x00zq\x9b", 8);
        for (int i = 0; i < 4000; ++i)
            garbage += char((i * 7919 + 13) % 256);
        const QString bad = others.path() + "/2024_03_15-160000 GARBLED";
        QVERIFY(QDir().mkdir(bad));
        writeFile(bad + "/vqsData.csv", garbage);
        BoxAnswerer boxes;
        QVERIFY(!window.openRun(bad));
        QCOMPARE(boxes.seen.size(), 1);
        const BoxAnswerer::Seen box = boxes.seen.first();
        QCOMPARE(box.text, QStringLiteral("Nothing to Show"));
        QVERIFY2(box.informativeText.contains(bad) && box.informativeText.contains("vqsData.csv has no readable row"),
                 qPrintable(box.informativeText));
        QVERIFY(!box.informativeText.contains('"'));
        for (QChar c : box.informativeText)
            QVERIFY2(c.isPrint() && c.unicode() < 0x7f, qPrintable(box.informativeText));
        QVERIFY(!box.title.isEmpty());
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.window, static_cast<QWidget*>(&window));
    }
};

QTEST_MAIN(TestRunView)
#include "test_runview.moc"
