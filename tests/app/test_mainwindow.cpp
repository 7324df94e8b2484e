// The main window: its form, adding tabs, and the confirmations before closing a tab or the program.
#include <QAction>
#include <QApplication>
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
#include "mainwindow.h"
#include "tarnlitesystemtab.h"

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
        MainWindow w;
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
        QCOMPARE(menu->title(), QString("File"));
        auto* action = w.findChild<QAction*>("action_addSystem");
        QVERIFY(action);
        QCOMPARE(action->text(), QString("Add System"));
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
