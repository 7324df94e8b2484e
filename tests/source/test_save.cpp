// The test-notes dialog, saving a run (names, copies, notes), refusals, a
// failing copy, a page closed while saving waits, and clearing.
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>

#include "lumocustomplot.h"
#include "recording_fixture.h"
#include "runfiles.h"
#include "runplots.h"
#include "savelocation.h"
#include "testnotedialog.h"

using namespace rec;

namespace {

TestNoteDialog* notesDialogOf(const QString& sensorName) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<TestNoteDialog*>(widget))
            if (dialog->windowTitle() == sensorName + " - Test Notes")
                return dialog;
    return nullptr;
}

void fillNotes(TestNoteDialog* dialog, const QString& name, const QString& analytes = {},
               const QString& environment = {}, const QString& notes = {}) {
    auto* field = dialog->findChild<QLineEdit*>("lineEdit_testName");
    field->clear();
    QTest::keyClicks(field, name);
    dialog->findChild<QLineEdit*>("lineEdit_analytes")->setText(analytes);
    dialog->findChild<QLineEdit*>("lineEdit_environment")->setText(environment);
    dialog->findChild<QPlainTextEdit*>("plainTextEdit_additionalNotes")->setPlainText(notes);
    QTest::mouseClick(dialog->findChild<QPushButton*>("pushButton_ok"), Qt::LeftButton);
}

QStringList dirsIn(const QString& parent) {
    return QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

void removeSaved(const QString& suffix) {
    for (const QString& parent : {appDir() + "/enc", appDir() + "/TempData"})
        for (const QString& dir : QDir(parent).entryList({"* " + suffix + "*"}, QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(parent + '/' + dir).removeRecursively();
}

// A path of exactly `length` characters below `base`, created.
QString pathOfLength(const QString& base, int length) {
    QString path = base;
    while (path.size() < length) {
        const int left = length - path.size();
        // Never leave a single character, which could not hold "/" and a name.
        const int take = left > 202 ? 200 : left;
        path += '/' + QString(take - 1, 'x');
    }
    QDir().mkpath(path);
    return path;
}

// Pixels showing a curve colour on the white background. The curves are
// antialiased 1-pixel lines, so a pixel counts when it is the colour blended
// with white, at least 40 % of it.
int pixelsOf(const QImage& image, const QColor& colour) {
    const int c[3] = {colour.red(), colour.green(), colour.blue()};
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int p[3] = {pixel.red(), pixel.green(), pixel.blue()};
            double share = -1;
            bool blend = true;
            for (int i = 0; i < 3 && blend; ++i) {
                const int room = 255 - c[i];
                if (room < 40) {  // a channel the colour leaves nearly white
                    blend = 255 - p[i] <= 40;
                    continue;
                }
                const double part = double(255 - p[i]) / room;
                blend = share < 0 || std::abs(part - share) <= 0.15;
                share = share < 0 ? part : share;
            }
            count += blend && share >= 0.4;
        }
    return count;
}

const QStringList kPictures{"vqsConc.pdf", "vqsConc.png", "vqsEnviro.pdf", "vqsEnviro.png"};

// Both plots as PNG and PDF; each PNG shows its curves in their colours.
void checkPictures(const QString& dir) {
    const QImage conc(dir + "/vqsConc.png");
    const QImage enviro(dir + "/vqsEnviro.png");
    QVERIFY(!conc.isNull() && !enviro.isNull());
    const int concPixels = pixelsOf(conc, QColor("#CC483D"));
    QVERIFY2(concPixels >= 100, qPrintable(QString::number(concPixels)));
    for (const char* colour : {"#CC483D", "#FFAD2B", "#1FB8A1"}) {
        const int pixels = pixelsOf(enviro, QColor(colour));
        QVERIFY2(pixels >= 100, qPrintable(QString("%1: %2 pixels").arg(colour).arg(pixels)));
    }
    QVERIFY(pixelsOf(conc, QColor("#FFAD2B")) == 0);
    for (const char* pdf : {"/vqsConc.pdf", "/vqsEnviro.pdf"})
        QVERIFY(readAll(dir + pdf).startsWith("%PDF"));
}

}  // namespace

class TestSave : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { makeWorkingDirectories(); }

    void notesDialog() {
        TestNoteDialog dialog;
        QCOMPARE(dialog.objectName(), QString("TestNoteDialog"));
        QCOMPARE(dialog.windowTitle(), QString("Test Notes"));
        QCOMPARE(dialog.size(), QSize(521, 327));
        QVERIFY(dialog.styleSheet().contains("background-color:#356797"));
        auto* name = dialog.findChild<QLineEdit*>("lineEdit_testName");
        auto* analytes = dialog.findChild<QLineEdit*>("lineEdit_analytes");
        auto* environment = dialog.findChild<QLineEdit*>("lineEdit_environment");
        auto* notes = dialog.findChild<QPlainTextEdit*>("plainTextEdit_additionalNotes");
        auto* ok = dialog.findChild<QPushButton*>("pushButton_ok");
        QVERIFY(name && analytes && environment && notes && ok);
        QCOMPARE(dialog.findChild<QLabel*>("label")->text(), QString("* Required"));
        QCOMPARE(dialog.findChild<QLabel*>("label_testName")->font().pointSize(), 10);

        // Tab order: name, analytes, environment, notes, OK.
        QList<QWidget*> order;
        QWidget* w = name;
        for (int i = 0; i < 5; ++i, w = w->nextInFocusChain()) {
            while (w->focusPolicy() == Qt::NoFocus)
                w = w->nextInFocusChain();
            order << w;
        }
        QCOMPARE(order, (QList<QWidget*>{name, analytes, environment, notes, ok}));

        dialog.show();
        QVERIFY(!ok->isEnabled());
        QTest::keyClicks(name, "a b c");
        QCOMPARE(name->text(), QString("abc"));  // white space never enters the name
        QVERIFY(ok->isEnabled());
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(name, Qt::Key_Backspace);
        QVERIFY(!ok->isEnabled());
        QTest::keyClicks(name, "T7");
        analytes->setText("CH4");
        // Tab leaves the notes editor for OK instead of entering a tab character.
        QApplication::setActiveWindow(&dialog);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        notes->setFocus();
        QTest::keyClick(notes, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), ok);
        QVERIFY(notes->toPlainText().isEmpty());
        QVERIFY(dialog.testName.isEmpty());  // stored only on OK
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(dialog.testName, QString("T7"));
        QCOMPARE(dialog.analytes, QString("CH4"));
        QVERIFY(!dialog.isVisible());

        dialog.clearNotes();
        QVERIFY(dialog.testName.isEmpty() && dialog.analytes.isEmpty());
        QVERIFY(name->text().isEmpty() && analytes->text().isEmpty() && notes->toPlainText().isEmpty());
        QVERIFY(!ok->isEnabled());
    }

    void saveMovesTheRun() {
        removeSaved("SAV-1");
        Bench bench(identity("SAV-1", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        // Gas on the rising half of the waveform, so the concentration curve
        // stands clear of the zero grid line in the picture.
        bench.sim.setSampleNumber(30);
        QVERIFY(bench.record(2));
        bench.button("pushButton_gasOn")->click();
        QVERIFY(bench.record(4));
        QVERIFY(bench.stop());
        QVERIFY(bench.button("pushButton_saveData")->isEnabled());
        const QString runDir = findDir(appDir() + "/TempData", " SAV-1");
        const QByteArray csv = readAll(runDir + "/vqsData.csv");
        const QByteArray enc = readAll(runDir + "/enc/vqsData.enc");
        const QByteArray info = readAll(runDir + "/enc/testInfo.enc");

        bench.tab->on_pushButton_testNotes_clicked();
        TestNoteDialog* dialog = notesDialogOf("SAV-1");
        QVERIFY(dialog && dialog->isVisible());
        fillNotes(dialog, "T7", "50% CH4 %s %d", "lab", "line 1\nline 2: 100%");

        QTemporaryDir target;
        QSignalSpy saved(bench.tab.get(), &TarnLiteSystemTab::dataSaved);
        const QDateTime before = QDateTime::currentDateTime();
        QCOMPARE(bench.tab->saveData(target.path()), 0);
        const QDateTime after = QDateTime::currentDateTime();

        // Directory names: the save time's stamp, the listed sensor name, the test name.
        const QStringList savedDirs = dirsIn(target.path());
        QCOMPARE(savedDirs.size(), 1);
        QVERIFY(savedDirs[0].endsWith(" SAV-1_T7"));
        const QDateTime stamp = QDateTime::fromString(savedDirs[0].left(17), "yyyy_MM_dd-HHmmss");
        QVERIFY(stamp.isValid());
        QVERIFY(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);
        const QString customer = target.path() + '/' + savedDirs[0];
        const QString encrypted = appDir() + "/enc/" + savedDirs[0];
        // The page says where the plain files went.
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.first().first().toString(), customer);
        QVERIFY(QDir(encrypted).exists());

        QCOMPARE(filesIn(customer), QStringList({"analysis.txt", "testNotes.txt", "timelog.txt", "vqsConc.pdf", "vqsConc.png",
                                                "vqsData.csv", "vqsEnviro.pdf", "vqsEnviro.png"}));
        // The response times after the run's gas mark, read from the saved files.
        const QStringList analysis = QString::fromUtf8(readAll(customer + "/analysis.txt")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(analysis.size(), 2);
        QVERIFY2(analysis[1].startsWith("Gas on at "), qPrintable(analysis[1]));
        checkPictures(customer);
        QCOMPARE(filesIn(encrypted), QStringList({"testInfo.enc", "testNotes.txt", "timelog.txt", "vqsData.enc"}));
        QCOMPARE(readAll(customer + "/vqsData.csv"), csv);
        QCOMPARE(readAll(encrypted + "/vqsData.enc"), enc);
        QCOMPARE(readAll(encrypted + "/testInfo.enc"), info);
        const QByteArray log = readAll(customer + "/timelog.txt");
        QCOMPARE(readAll(encrypted + "/timelog.txt"), log);
        QVERIFY(QRegularExpression(": Started\r\n.*: Stopped\r\n.*: Data saved\r\n$",
                                   QRegularExpression::DotMatchesEverythingOption)
                    .match(QString(log))
                    .hasMatch());

        const QByteArray notes = "Test Name: T7\r\nAnalyte(s) Description: 50% CH4 %s %d\r\n"
                                 "Enviro Description: lab\r\nAdditional Notes: line 1\r\nline 2: 100%\r\n";
        QCOMPARE(readAll(customer + "/testNotes.txt"), notes);
        QCOMPARE(readAll(encrypted + "/testNotes.txt"), notes);
        QVERIFY(!QDir(runDir).exists());

#ifdef VQS_DECRYPT_PATH
        // The maker's reader prints the saved engineering table.
        QProcess reader;
        reader.start(VQS_DECRYPT_PATH, {encrypted + "/vqsData.enc"});
        QVERIFY(reader.waitForFinished(10000));
        QCOMPARE(reader.exitCode(), 0);
        const QByteArray table = reader.readAllStandardOutput();
        QVERIFY(table.startsWith("Time [s], Cycle , T [C], P [kPa], RH [%], AH [g/m3], "));
        QCOMPARE(table, decipherFile(encrypted + "/vqsData.enc"));
        QCOMPARE(table.count("\r\n"), csv.count("\r\n"));  // one line per row, as in the customer table
#endif

        // A later clear (as at the next start) leaves saved data alone.
        bench.tab->clearData();
        QCOMPARE(filesIn(customer).size(), 8);
        QCOMPARE(filesIn(encrypted).size(), 4);
        QDir(encrypted).removeRecursively();
    }

    // The same plots without a page, fed the page's own samples: the same pens and
    // the axes where the page left them; then the same four pictures.
    void runPlotsWithoutAPage() {
        Bench bench(identity("SAV-PIC", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(6));
        QVERIFY(bench.stop());
        const auto* pageConc = bench.tab->findChild<LumoCustomPlot*>("plot_conc");
        const auto* pageEnviro = bench.tab->findChild<LumoCustomPlot*>("plot_enviro");

        RunPlots plots;
        const auto conc = pageConc->graph(0)->data();
        const auto enviro = [pageEnviro](int graph, int i) { return pageEnviro->graph(graph)->data()->at(i)->value; };
        for (int i = 0; i < conc->size(); ++i)
            plots.addSample({conc->at(i)->key, conc->at(i)->value, enviro(0, i), enviro(1, i), enviro(2, i)});
        plots.finish();
        const auto sameRange = [](const QCPAxis* a, const QCPAxis* b) {
            return qFuzzyCompare(a->range().lower, b->range().lower) && qFuzzyCompare(a->range().upper, b->range().upper);
        };
        QVERIFY(sameRange(plots.concPlot()->xAxis, pageConc->xAxis));
        QVERIFY(sameRange(plots.concPlot()->yAxis, pageConc->yAxis));
        QVERIFY(sameRange(plots.enviroPlot()->xAxis, pageEnviro->xAxis));
        QVERIFY(sameRange(plots.enviroPlot()->yAxis, pageEnviro->yAxis));
        QVERIFY(sameRange(plots.enviroPlot()->yAxis2, pageEnviro->yAxis2));
        QCOMPARE(plots.concPlot()->graph(0)->pen(), pageConc->graph(0)->pen());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(plots.enviroPlot()->graph(i)->pen(), pageEnviro->graph(i)->pen());
            QCOMPARE(plots.enviroPlot()->graph(i)->valueAxis() == plots.enviroPlot()->yAxis2,
                     pageEnviro->graph(i)->valueAxis() == pageEnviro->yAxis2);
        }
        QCOMPARE(plots.concPlot()->yAxis->grid()->pen(), pageConc->yAxis->grid()->pen());
        QCOMPARE(plots.concPlot()->yAxis2->visible(), pageConc->yAxis2->visible());
        // Every axis of the pictures is titled with its quantities and units, the page's as these.
        QCOMPARE(pageConc->yAxis->label(), QStringLiteral("Conc [%LEL(ISO)]"));
        QCOMPARE(pageEnviro->yAxis->label(), QStringLiteral("T [C], RH [%]"));
        plots.setConcUnit(QStringLiteral("%LEL(ISO)"));
        const QCPAxis* const titled[][2] = {{plots.concPlot()->xAxis, pageConc->xAxis},
                                            {plots.concPlot()->yAxis, pageConc->yAxis},
                                            {plots.enviroPlot()->xAxis, pageEnviro->xAxis},
                                            {plots.enviroPlot()->yAxis, pageEnviro->yAxis},
                                            {plots.enviroPlot()->yAxis2, pageEnviro->yAxis2}};
        for (const auto& axes : titled) {
            QVERIFY(!axes[1]->label().isEmpty());
            QCOMPARE(axes[0]->label(), axes[1]->label());
        }

        // A value above the concentration axis raises it past the value, as on the page.
        plots.addSample({conc->at(conc->size() - 1)->key + 1, 150, 25, 101.3, 40});
        QTemporaryDir target;
        QVERIFY(plots.writePictures(target.path()));
        QCOMPARE(plots.concPlot()->yAxis->range(), QCPRange(-10, 170));
        // The pictures' legend is gone again: the plot keeps its height.
        QVERIFY(!plots.enviroPlot()->legend->visible());
        QCOMPARE(plots.enviroPlot()->plotLayout()->rowCount(), 1);
        QCOMPARE(filesIn(target.path()), kPictures);
        checkPictures(target.path());
        const QString shots = QStringLiteral(VQS_BINARY_DIR "/screenshots");
        QDir().mkpath(shots);
        for (const char* name : {"Conc", "Enviro"}) {
            const QString shot = QString("%1/saved-run-%2.png").arg(shots, QString(name).toLower());
            QFile::remove(shot);
            QFile::copy(QString("%1/vqs%2.png").arg(target.path(), name), shot);
        }
        removeSaved("SAV-PIC");
    }

    void saveWaitsForATestName() {
        removeSaved("SAV-WAIT");
        Bench bench(identity("SAV-WAIT", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(1));
        QVERIFY(bench.stop());
        TestNoteDialog* dialog = notesDialogOf("SAV-WAIT");
        QVERIFY(dialog);
        int shown = 0;
        QTimer driver;
        driver.setInterval(50);
        connect(&driver, &QTimer::timeout, [&] {
            if (!dialog->isVisible())
                return;
            if (++shown == 1)
                dialog->close();  // closed without OK: asked again
            else
                fillNotes(dialog, "named");
        });
        driver.start();
        QTemporaryDir target;
        QCOMPARE(bench.tab->saveData(target.path()), 0);
        QCOMPARE(shown, 2);
        QCOMPARE(dirsIn(target.path()).size(), 1);
        QVERIFY(dirsIn(target.path())[0].endsWith(" SAV-WAIT_named"));
        removeSaved("SAV-WAIT");
    }

    void pageClosedWhileSaveWaits() {
        removeSaved("SAV-GONE");
        Bench bench(identity("SAV-GONE", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(1));
        QVERIFY(bench.stop());
        TarnLiteSystemTab* page = bench.tab.get();
        QTimer::singleShot(300, [&] { bench.tab.reset(); });
        QTemporaryDir target;
        QCOMPARE(page->saveData(target.path()), 1);
        QVERIFY(!bench.tab);
        QVERIFY(dirsIn(target.path()).isEmpty());
        removeSaved("SAV-GONE");
    }

    void saveAndClearRefusedWhileRunning() {
        removeSaved("SAV-RUN");
        Bench bench(identity("SAV-RUN", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(1));
        QTemporaryDir target;
        {
            BoxAnswerer boxes;
            QCOMPARE(bench.tab->saveData(target.path()), 1);
            bench.tab->clearData();
            QCOMPARE(boxes.seen.size(), 2);
            QCOMPARE(boxes.seen[0].text, QString("VQS Running"));
            QCOMPARE(boxes.seen[0].informativeText, QString("SAV-RUN is running - data cannot be saved"));
            QCOMPARE(boxes.seen[1].informativeText, QString("SAV-RUN is running - data cannot be cleared"));
            QCOMPARE(boxes.seen[1].styleSheet, QString("QLabel{min-width: 250px;}"));
        }
        QVERIFY(dirsIn(target.path()).isEmpty());
        QVERIFY(bench.tab->recordedCycles() >= 1);
        QVERIFY(!findDir(appDir() + "/TempData", " SAV-RUN").isEmpty());
        QVERIFY(bench.stop());
        removeSaved("SAV-RUN");
    }

    void failingCopyKeepsTheRun() {
        removeSaved("SAV-LONG");
        Bench bench(identity("SAV-LONG", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(1));
        QVERIFY(bench.stop());
        const QString runDir = findDir(appDir() + "/TempData", " SAV-LONG");
        const QByteArray csv = readAll(runDir + "/vqsData.csv");
        bench.tab->on_pushButton_testNotes_clicked();
        fillNotes(notesDialogOf("SAV-LONG"), "T7");

        // The customer directory itself can be made, but no file name fits below it.
        QTemporaryDir base;
        const int directoryName = QString("2024_03_15-142530 SAV-LONG_T7").size();
        const QString target = pathOfLength(base.path(), 4090 - 1 - directoryName);
        QVERIFY(QDir(target).exists());
        BoxAnswerer boxes;
        QCOMPARE(bench.tab->saveData(target), 1);
        QCOMPARE(boxes.texts(), QStringList{"Data Not Saved"});
        QVERIFY(boxes.seen[0].informativeText.contains("vqsData.csv") ||
                boxes.seen[0].informativeText.contains("timelog.txt"));
        // Nothing of the run was deleted.
        QCOMPARE(readAll(runDir + "/vqsData.csv"), csv);
        QCOMPARE(filesIn(runDir), QStringList({"timelog.txt", "vqsData.csv"}));
        QCOMPARE(filesIn(runDir + "/enc"), QStringList({"testInfo.enc", "vqsData.enc"}));
        QVERIFY(bench.button("pushButton_saveData")->isEnabled());
        removeSaved("SAV-LONG");
    }

    void namesCannotLeaveTheSaveDirectories() {
        removeSaved("SAV-ESC");
        Bench bench(identity("SAV-ESC", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(1));
        QVERIFY(bench.stop());
        bench.tab->on_pushButton_testNotes_clicked();
        fillNotes(notesDialogOf("SAV-ESC"), "../../..\\evil:*");
        QTemporaryDir base;
        const QString target = base.path() + "/target";
        QDir().mkdir(target);
        const QStringList encBefore = dirsIn(appDir() + "/enc");
        QCOMPARE(bench.tab->saveData(target), 0);
        QCOMPARE(dirsIn(base.path()), QStringList{"target"});
        const QStringList saved = dirsIn(target);
        QCOMPARE(saved.size(), 1);
        QVERIFY2(saved[0].endsWith(" SAV-ESC__________evil__"), qPrintable(saved[0]));
        QVERIFY(readAll(target + '/' + saved[0] + "/testNotes.txt").startsWith("Test Name: ../../..\\evil:*\r\n"));
        QCOMPARE(dirsIn(appDir() + "/enc").size(), encBefore.size() + 1);
        QDir(appDir() + "/enc/" + saved[0]).removeRecursively();
    }

    // Notes typed with letters Latin-1 lacks keep every character; notes that
    // Latin-1 holds are written as they always were, byte for byte.
    void notesKeepEveryCharacter() {
        removeSaved("SAV-UNI");
        Bench bench(identity("SAV-UNI", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(bench.record(1));
        QVERIFY(bench.stop());
        bench.tab->on_pushButton_testNotes_clicked();
        const QString analytes = QString::fromUtf8("CH\u2084 5 %LEL");
        const QString notes = QString::fromUtf8("\u0141ukasz, Ji\u0159\u00ed, \u041e\u043b\u0435\u0433\nline 2: \u674e");
        fillNotes(notesDialogOf("SAV-UNI"), "T8", analytes, QString::fromUtf8("J\u00fcrgen's lab"), notes);
        QTemporaryDir target;
        QCOMPARE(bench.tab->saveData(target.path()), 0);
        const QStringList saved = dirsIn(target.path());
        QCOMPARE(saved.size(), 1);
        const QString expected = "Test Name: T8\r\nAnalyte(s) Description: " + analytes +
                                 QString::fromUtf8("\r\nEnviro Description: J\u00fcrgen's lab\r\nAdditional Notes: ") +
                                 QString(notes).replace("\n", "\r\n") + "\r\n";
        const QByteArray bytes = "\xEF\xBB\xBF" + expected.toUtf8();
        QCOMPARE(readAll(target.path() + '/' + saved[0] + "/testNotes.txt"), bytes);
        QCOMPARE(readAll(appDir() + "/enc/" + saved[0] + "/testNotes.txt"), bytes);
        QDir(appDir() + "/enc/" + saved[0]).removeRecursively();

        // Appending: Latin-1 stays Latin-1 until a character beyond it comes;
        // then what was there is kept, converted, and later text follows in UTF-8.
        const QString file = target.filePath("notes.txt");
        const QString latin = QString::fromUtf8("Gr\u00f6\u00dfe 5 \u00b0C\n");
        QVERIFY(appendNotesFile(file, latin));
        QCOMPARE(readAll(file), QByteArray("Gr\xf6\xdf" "e 5 \xb0" "C\r\n"));
        const QString cyrillic = QString::fromUtf8("\u041e\u043b\u0435\u0433\n");
        QVERIFY(appendNotesFile(file, cyrillic));
        QVERIFY(appendNotesFile(file, latin));
        QCOMPARE(readAll(file), "\xEF\xBB\xBF" + QString(latin + cyrillic + latin).replace("\n", "\r\n").toUtf8());
    }

    // The directory choosers start on the desktop, or at home where there is none.
    void saveStartsOnTheDesktopOrAtHome() {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_CONFIG_HOME");
        const QString bare = runplots::saveStartDirectory();
        QDir(home.path()).mkdir("Desktop");
        const QString desktop = runplots::saveStartDirectory();
        qputenv("HOME", oldHome);
        if (!oldConfig.isEmpty())
            qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(bare, home.path());
        QCOMPARE(desktop, home.path() + "/Desktop");
    }

    void clearTwice() {
        removeSaved("SAV-CLR");
        Bench bench(identity("SAV-CLR", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QVERIFY(!bench.button("pushButton_clearData")->isEnabled());
        QVERIFY(bench.record(1));
        QVERIFY(!bench.button("pushButton_clearData")->isEnabled());  // not while it runs
        QVERIFY(bench.stop());
        const QString runDir = findDir(appDir() + "/TempData", " SAV-CLR");
        QVERIFY(QDir(runDir).exists());
        const uint32_t clearsBefore = bench.sim.historyClears();
        // The page's Clear Data button asks first; Cancel keeps the run.
        QPushButton* clear = bench.button("pushButton_clearData");
        QVERIFY(clear->isEnabled());
        {
            BoxAnswerer boxes(QMessageBox::Cancel);
            QTest::mouseClick(clear, Qt::LeftButton);
            QCOMPARE(boxes.texts(), QStringList{"Clear Data?"});
            QCOMPARE(boxes.seen.first().defaultButton, QMessageBox::Cancel);
            QCOMPARE(boxes.seen.first().styleSheet, QString("QLabel{min-width: 250px;}"));
        }
        QVERIFY(QDir(runDir).exists());
        QVERIFY(bench.button("pushButton_saveData")->isEnabled());
        BoxAnswerer boxes;
        QTest::mouseClick(clear, Qt::LeftButton);
        QCOMPARE(boxes.texts(), QStringList{"Clear Data?"});
        boxes.seen.clear();
        QVERIFY(!QDir(runDir).exists());
        QVERIFY(!clear->isEnabled());
        QCOMPARE(bench.label("label_time"), QString("00h:00m:00s"));
        QCOMPARE(bench.label("label_cycles"), QString("0"));
        QCOMPARE(bench.tab->recordedCycles(), 0u);
        QVERIFY(!bench.button("pushButton_saveData")->isEnabled());
        QVERIFY(bench.button("pushButton_start")->isEnabled());
        bench.tab->clearData();  // nothing left to delete
        QCOMPARE(bench.sim.historyClears(), clearsBefore + 2);
        QVERIFY(boxes.seen.isEmpty());
        QVERIFY(QDir(appDir() + "/TempData").exists());
    }
};

QTEST_MAIN(TestSave)
#include "test_save.moc"
