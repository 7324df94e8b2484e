// The main window: its form, adding tabs, and the confirmations before closing a tab or the program.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QScrollArea>
#include <QEventLoop>
#include <QGridLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include "box_answerer.h"
#include "captured_log.h"
#include "mainwindow.h"
#include "tarnlitesystemtab.h"
#include "tab_fixture.h"

namespace {

QTabWidget* tabs(MainWindow& w)
{
    return w.findChild<QTabWidget*>("tabWidget");
}

// One confirmation box was shown over the main window, titled, with the
// question icon, OK and Cancel, Cancel the default.
void verifyConfirmBox(const BoxAnswerer& boxes, const QString& text, const QString& informativeText,
                      const QString& styleSheet)
{
    QCOMPARE(boxes.seen.size(), 1);
    const BoxAnswerer::Seen& seen = boxes.seen.first();
    QVERIFY(qobject_cast<MainWindow*>(seen.window));
    QVERIFY(!seen.title.isEmpty());
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.informativeText, informativeText);
    QCOMPARE(seen.styleSheet, styleSheet);
    QCOMPARE(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(seen.defaultButton, QMessageBox::Cancel);
}

void verifyCloseTabBox(const BoxAnswerer& boxes)
{
    verifyConfirmBox(boxes, "Close Tab Requested", "Do you really want to close the tab?", "QLabel{min-width: 500px;}");
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void formAndFirstTab()
    {
        CapturedLog log;
        MainWindow w;
        // Every slot named after a widget of the page finds that widget.
        for (const CapturedLog::Line& line : log.all())
            QVERIFY2(!line.text.contains("No matching signal"), qPrintable(line.text));
        QCOMPARE(w.objectName(), QString("MainWindow"));
        QCOMPARE(w.size(), QSize(928, 534));
        QCOMPARE(w.styleSheet(), QString("QMainWindow{\nbackground-color:#e6e6e7;\n}\n\nQTabWidget{\nborder:0px;\n"
                                         "background-color:#e6e6e7;\n}\n\nQTabWidget::pane{\n"
                                         "background-color:#e6e6e7;\n}"));
        QVERIFY(w.findChild<QWidget*>("centralWidget"));
        auto* grid = w.findChild<QGridLayout*>("gridLayout");
        QVERIFY(grid);
        QCOMPARE(grid->spacing(), 6);
        QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
        QVERIFY(w.findChild<QMenuBar*>("menuBar"));
        QVERIFY(w.findChild<QStatusBar*>("statusBar"));
        auto* menu = w.findChild<QMenu*>("menuFIle");
        QVERIFY(menu);
        QCOMPARE(menu->title(), QString("&File"));  // shown as "File", Alt+F opens it
        auto* action = w.findChild<QAction*>("action_addSystem");
        QVERIFY(action);
        QCOMPARE(action->text(), QString("&Add System"));
        QVERIFY(menu->actions().contains(action));
        QCOMPARE(action->shortcut(), QKeySequence(QKeySequence::New));

        QTabWidget* t = tabs(w);
        QVERIFY(t);
        QCOMPARE(grid->itemAtPosition(0, 0)->widget(), t);
        QVERIFY(t->tabsClosable());
        QVERIFY(t->isMovable());
        QCOMPARE(t->tabShape(), QTabWidget::Triangular);
        QVERIFY(!t->autoFillBackground());
        QCOMPARE(t->styleSheet(), QString("QFrame{\nbackground-color:#e6e6e7;\n}"));

        QCOMPARE(t->count(), 1);
        QCOMPARE(t->tabText(0), QString("New Tab"));
        QVERIFY(qobject_cast<TarnLiteSystemTab*>(t->widget(0)));

        // Slots other code reaches by name.
        const QMetaObject* mo = w.metaObject();
        QVERIFY(mo->indexOfSlot("addSystem(QString)") >= 0);
        QVERIFY(mo->indexOfSlot("addSystem()") >= 0);
        QVERIFY(mo->indexOfSlot("addSystem()") > mo->indexOfSlot("addSystem(QString)"));
        QVERIFY(mo->indexOfSlot("removeSystem(int)") > mo->indexOfSlot("addSystem()"));
    }

    void addSystemMakesNewTabCurrent()
    {
        MainWindow w;
        QTabWidget* t = tabs(w);
        w.findChild<QAction*>("action_addSystem")->trigger();
        QCOMPARE(t->count(), 2);
        QCOMPARE(t->tabText(1), QString("New Tab"));
        QCOMPARE(t->currentIndex(), 1);
        QVERIFY(qobject_cast<TarnLiteSystemTab*>(t->currentWidget()));
        QCOMPARE(t->currentWidget()->parentWidget()->parentWidget(), t);  // the tab widget's stack owns it

        t->setCurrentIndex(0);
        w.addSystem("COM7");
        QCOMPARE(t->count(), 3);
        QCOMPARE(t->tabText(2), QString("COM7"));
        QCOMPARE(t->currentIndex(), 2);
    }

    void closeTabCancelKeepsTab()
    {
        MainWindow w;
        QTabWidget* t = tabs(w);
        BoxAnswerer boxes(QMessageBox::Cancel);
        emit t->tabCloseRequested(0);
        verifyCloseTabBox(boxes);
        QTest::qWait(20);
        QCOMPARE(t->count(), 1);
    }

    void closeTabOkRemovesThatTab()
    {
        MainWindow w;
        QTabWidget* t = tabs(w);
        w.addSystem("second");
        w.addSystem("third");
        QPointer<QWidget> doomed = t->widget(1);
        BoxAnswerer boxes;
        emit t->tabCloseRequested(1);
        verifyCloseTabBox(boxes);
        QTRY_VERIFY(doomed.isNull());
        QCOMPARE(t->count(), 2);
        QCOMPARE(t->tabText(0), QString("New Tab"));
        QCOMPARE(t->tabText(1), QString("third"));

        // The last tab may go too; Add System brings one back.
        w.removeSystem(0);
        w.removeSystem(0);
        QTRY_COMPARE(t->count(), 0);
        w.findChild<QAction*>("action_addSystem")->trigger();
        QCOMPARE(t->count(), 1);
        QCOMPARE(t->currentIndex(), 0);
        QCOMPARE(boxes.seen.size(), 3);  // one box for each tab closed
    }

    void closeTabOutOfRangeIsHarmless()
    {
        MainWindow w;
        BoxAnswerer boxes;
        w.removeSystem(5);
        QCOMPARE(boxes.seen.size(), 1);
        QTest::qWait(20);
        QCOMPARE(tabs(w)->count(), 1);
    }

    void closeProgramCancelKeepsRunning()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        BoxAnswerer boxes(QMessageBox::Cancel);
        QVERIFY(!w.close());
        verifyConfirmBox(boxes, "Close Program Requested", "Do you really want to close this program?",
                         "QLabel{min-width: 300px;}");
        QVERIFY(w.isVisible());
        QCOMPARE(tabs(w)->count(), 1);
    }

    // With the All sensors panel docked the window still fits a 1366x768
    // screen under a task bar, every part keeping some room; floating the
    // panel gives the height back.
    void fitsASmallScreenWithThePanelDocked()
    {
        // The screen less a task bar, a title bar and the window's borders.
        const QSize room(1366 - 2 * 8, 768 - 48 - 32 - 8);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int undockedMinimum = w.minimumSizeHint().height();
        auto* dock = w.findChild<QDockWidget*>("dockWidget_allSensors");
        w.findChild<QAction*>("action_allSensors")->trigger();
        QVERIFY(dock->isVisible() && !dock->isFloating());
        const QSize docked = w.minimumSizeHint().expandedTo(w.minimumSize());
        QVERIFY2(docked.width() <= room.width() && docked.height() <= room.height(),
                 qPrintable(QString("minimum %1x%2").arg(docked.width()).arg(docked.height())));

        w.resize(room);
        QTRY_COMPARE(w.size(), room);
        auto* page = qobject_cast<TarnLiteSystemTab*>(tabs(w)->currentWidget());
        const std::pair<const char*, int> parts[] = {{"plot_conc", 50},           {"plot_enviro", 50},
                                                     {"plot_allSensors", 100},    {"tableWidget_allSensors", 60},
                                                     {"scrollArea_connection", 150}, {"pushButton_scanPorts", 30}};
        for (auto [name, height] : parts) {
            auto* widget = w.findChild<QWidget*>(name);
            const QRect inWindow(widget->mapTo(&w, QPoint(0, 0)), widget->size());
            QVERIFY2(widget->isVisible() && w.rect().contains(inWindow) && widget->height() >= height,
                     qPrintable(QString("%1 at %2,%3 %4x%5")
                                    .arg(name).arg(inWindow.x()).arg(inWindow.y()).arg(inWindow.width())
                                    .arg(inWindow.height())));
        }
        QVERIFY(page->isAncestorOf(w.findChild<QWidget*>("plot_conc")));
        // The scrolling button column widens with a long text rather than cut it off.
        auto* column = page->findChild<QScrollArea*>("scrollArea_connection");
        page->findChild<QLabel*>("label_fwVersion")->setText("Firmware: 4.1.0.0\nDOB: Jan 15 2024 10:20:30 (a long line)");
        QTRY_VERIFY(column->widget()->width() > 300);
        QTRY_COMPARE(column->widget()->width(), column->viewport()->width());
        saveScreenshot(&w, "window-1366x768-docked.png");

        dock->setFloating(true);
        QTRY_VERIFY(w.minimumSizeHint().height() <= undockedMinimum);
        dock->setFloating(false);
        QTRY_VERIFY(w.minimumSizeHint().height() <= room.height());
    }

    // Menus open from the keyboard, their commands have the usual keys, Quit
    // asks as closing does, and Tab walks the page's controls top to bottom.
    void keyboardReachesMenusAndControls()
    {
        MainWindow w;
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(w.findChild<QAction*>("action_openRun")->shortcut(), QKeySequence(QKeySequence::Open));
        auto* quit = w.findChild<QAction*>("action_quit");
        QVERIFY(w.findChild<QMenu*>("menuFIle")->actions().contains(quit));
        QCOMPARE(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        {
            BoxAnswerer boxes(QMessageBox::Cancel);
            QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
            QTRY_COMPARE(boxes.seen.size(), 1);
            QCOMPARE(boxes.seen.first().text, QString("Close Program Requested"));
            QVERIFY(w.isVisible());
        }

        // The page's focus chain meets its controls in the order they are shown.
        QWidget* page = tabs(w)->currentWidget();
        const QStringList order{"pushButton_scanPorts", "comboBox_ports",   "radioButton_lel",
                                "radioButton_lel2",     "pushButton_start", "pushButton_alarms",
                                "pushButton_acknowledge", "pushButton_saveData",
                                "pushButton_clearData", "pushButton_testNotes", "pushButton_updateFirmware"};
        QStringList met;
        QWidget* first = page->findChild<QWidget*>(order.first());
        for (QWidget* at = first; met.size() < 100; at = at->nextInFocusChain()) {
            if (order.contains(at->objectName()) && !met.contains(at->objectName()))
                met << at->objectName();
            if (at->nextInFocusChain() == first)
                break;
        }
        QCOMPARE(met, order);
        // Tab from the first button skips the disabled ones.
        QApplication::setActiveWindow(&w);  // the box had it
        QVERIFY(QTest::qWaitForWindowActive(&w));
        first->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), first);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), page->findChild<QWidget*>("pushButton_testNotes"));

        // Last: the offscreen platform does not hand activation back after a menu.
        for (auto [key, name] : {std::pair{Qt::Key_F, "menuFIle"}, std::pair{Qt::Key_V, "menuView"}}) {
            auto* menu = w.findChild<QMenu*>(name);
            QVERIFY(!menu->isVisible());
            QTest::keyClick(&w, key, Qt::AltModifier);
            QTRY_VERIFY2(menu->isVisible(), name);
            QTest::keyClick(menu, Qt::Key_Escape);
            QTRY_VERIFY(!menu->isVisible());
        }
    }

    // A page's save is named in the window's status bar.
    void statusBarNamesTheSavedDirectory()
    {
        MainWindow w;
        auto* page = qobject_cast<TarnLiteSystemTab*>(tabs(w)->currentWidget());
        const QString directory = QDir::tempPath() + "/2024_03_15-142530 S1_T7";
        emit page->dataSaved(directory);
        QCOMPARE(w.statusBar()->currentMessage(), "Data saved in " + QDir::toNativeSeparators(directory));
    }

    // Must stay last: once the application is told to quit, no further modal loop runs here.
    void closeProgramOkQuits()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        BoxAnswerer boxes;
        QEventLoop loop;
        QTimer::singleShot(0, &w, [&] { w.close(); });
        QTimer::singleShot(10000, &loop, [&] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);  // ended by the application's quit, not by the time limit
        QVERIFY(!boxes.seen.isEmpty());
        QCOMPARE(boxes.seen.first().text, QString("Close Program Requested"));
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
