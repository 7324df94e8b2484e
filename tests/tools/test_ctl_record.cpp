// vqs-ctl record against simulated sensors: its files are the page's files for
// the same sensors and samples, and SIGTERM ends a run cleanly.
#include <QComboBox>
#include <QJsonArray>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <functional>

#include "box_answerer.h"
#include "cipher.h"
#include "mainwindow.h"
#include "portlister.h"
#include "presentation.h"
#include "program_result.h"
#include "record_pieces.h"
#include "sim_link.h"
#include "simulator.h"
#include "startup.h"
#include "tarnlitesystemtab.h"
#include "vqs.h"

using namespace vqssim;

namespace {

Identity identity(const char* name, uint32_t type, std::array<uint8_t, 4> firmware) {
    Identity id;
    id.name = name;
    id.sensorType = type;
    id.firmware = firmware;
    return id;
}

// A methane sensor on old firmware (no raw columns, PPM) and a flammable-gas
// sensor on new firmware (raw columns, analog output, %LEL).
const Identity kSensors[] = {identity("REC-A", 5, {{3, 2, 0, 0}}), identity("REC-B", 3, {{4, 1, 0, 0}})};
constexpr int kCycles = 3;

QString runDirIn(const QString& base, const QString& sensor) {
    const QStringList dirs = QDir(base).entryList({"* " + sensor}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    return dirs.isEmpty() ? QString() : base + '/' + dirs.first();
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int csvRows(const QString& runDir) {
    return runDir.isEmpty() ? 0 : readAll(runDir + "/vqsData.csv").count('\n') - 1;
}

// A run's files with what differs between two runs of the same samples (the
// time column, the time log's stamps) blanked out.
QStringList normalised(const QString& runDir) {
    static const QRegularExpression time(QStringLiteral("^\\d+\\.\\d{6}, "));
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}_\\d\\d_\\d\\d - \\d\\d_\\d\\d_\\d\\d: "));
    QStringList out;
    const QByteArray engineering = decipherPieces(readAll(runDir + "/enc/vqsData.enc"), builtInPassPhrase).join();
    const QByteArray info = decipherPieces(readAll(runDir + "/enc/testInfo.enc"), builtInPassPhrase).join();
    for (const QByteArray& file : {readAll(runDir + "/vqsData.csv"), engineering})
        for (QString line : QString::fromLatin1(file).split("\r\n"))
            out << "table: " + line.replace(time, "TIME, ");
    for (QString line : QString::fromLatin1(readAll(runDir + "/timelog.txt")).split("\r\n"))
        out << "log: " + line.replace(stamp, "STAMP: ");
    out << "info: " + QString::fromLatin1(info);
    return out;
}

// Hands the sensors their samples one at a time: sample k+1 only once row k
// is in the file, so both runs record samples 1, 2, 3.
void stepSamples(std::vector<Simulator*> sims, const std::function<QString(int)>& runDirOf,
                 const std::function<bool()>& done) {
    std::vector<int> given(sims.size(), 1);
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < 60000) {
        for (size_t i = 0; i < sims.size(); ++i) {
            if (given[i] < kCycles && csvRows(runDirOf(int(i))) >= given[i])
                sims[i]->setSampleNumber(uint32_t(++given[i]));
        }
        QTest::qWait(50);
    }
}

// A locale whose decimal point is a comma, compiled into `dir` without root
// rights; empty when this machine cannot make one.
QString decimalCommaLocale(const QTemporaryDir& dir) {
    const QString localedef = QStandardPaths::findExecutable(QStringLiteral("localedef"));
    if (localedef.isEmpty() || !dir.isValid())
        return QString();
    QProcess p;
    p.start(localedef, {"-i", "de_DE", "-f", "UTF-8", dir.filePath("de_DE.UTF-8")});
    p.waitForFinished(120000);
    // localedef may warn and still write the locale: what counts is the file.
    return QFileInfo::exists(dir.filePath("de_DE.UTF-8/LC_NUMERIC")) ? QStringLiteral("de_DE.UTF-8") : QString();
}

std::unique_ptr<Simulator> heldSensor(const Identity& id, const QTemporaryDir& links, const QString& name) {
    auto sim = std::make_unique<Simulator>(Framing::Uart, id);
    if (!openThroughLink(*sim, links, name))
        return nullptr;
    sim->start();
    sim->holdSamples(true);
    sim->setSampleNumber(1);
    return sim;
}

}  // namespace

class TestCtlRecord : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        registerApplicationFonts();
        prepareWorkingDirectories(QCoreApplication::applicationDirPath(), QTime::currentTime());
    }

    void recordWritesThePagesFilesForTwoSensors() {
        // vqs-ctl records both sensors at once.
        QTemporaryDir links, out;
        std::vector<std::unique_ptr<Simulator>> sims;
        for (int i = 0; i < 2; ++i)
            sims.push_back(heldSensor(kSensors[i], links, QStringLiteral("s%1").arg(i)));
        QVERIFY(sims[0] && sims[1]);
        QProcess ctl;
        ctl.start(QStringLiteral(VQS_CTL_PATH),
                  {"record", "--uart", "--cycles", QString::number(kCycles), "--dir", out.path(),
                   QString::fromStdString(sims[0]->path()), QString::fromStdString(sims[1]->path())});
        QVERIFY(ctl.waitForStarted());
        auto ctlRun = [&](int i) { return runDirIn(out.path(), QString::fromStdString(kSensors[i].name)); };
        stepSamples({sims[0].get(), sims[1].get()}, ctlRun, [&] { return ctl.state() == QProcess::NotRunning; });
        QVERIFY(ctl.state() == QProcess::NotRunning || ctl.waitForFinished(30000));
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        QVERIFY2(ctl.exitCode() == 0, qPrintable(err));
        const QStringList lines = QString::fromUtf8(ctl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2 * kCycles);  // one status line per cycle and sensor
        QVERIFY(lines.filter(QRegularExpression("^\\S+ REC-A cycle 3 ")).size() == 1);
        for (auto& sim : sims)
            QCOMPARE(sim->state(), uint8_t(3));  // left idle

        // The page records the same sensors, one page each, for the same samples.
        QList<PortCandidate> ports;
        std::vector<std::unique_ptr<Simulator>> pageSims;
        for (int i = 0; i < 2; ++i) {
            pageSims.push_back(heldSensor(kSensors[i], links, QStringLiteral("p%1").arg(i)));
            QVERIFY(pageSims.back());
            PortCandidate port;
            port.name = QStringLiteral("ttyUSB%1").arg(i);
            port.path = QString::fromStdString(pageSims.back()->path());
            port.description = QStringLiteral("FT232R USB UART");
            port.hasIds = true;
            port.vendorId = 0x0403;
            port.productId = 0x6001;
            port.driver = QStringLiteral("ftdi_sio");
            ports.append(port);
        }
        PortLister::setSource([&] { return QList<PortCandidate>{ports}; });
        BoxAnswerer boxes;
        MainWindow window;
        const QString temp = QCoreApplication::applicationDirPath() + "/TempData";
        auto* tabs = window.findChild<QTabWidget*>("tabWidget");
        for (int i = 0; i < 2; ++i) {
            if (i > 0)
                window.addSystem();
            auto* tab = qobject_cast<TarnLiteSystemTab*>(tabs->widget(i));
            tab->findChild<QPushButton*>("pushButton_scanPorts")->click();
            auto* combo = tab->findChild<QComboBox*>("comboBox_ports");
            combo->setCurrentIndex(combo->findText(QString::fromStdString(kSensors[i].name) + " - ttyUSB" +
                                                   QString::number(i)));
            tab->findChild<QPushButton*>("pushButton_start")->click();
        }
        auto pageRun = [&](int i) { return runDirIn(temp, QString::fromStdString(kSensors[i].name)); };
        stepSamples({pageSims[0].get(), pageSims[1].get()}, pageRun,
                    [&] { return csvRows(pageRun(0)) >= kCycles && csvRows(pageRun(1)) >= kCycles; });
        for (int i = 0; i < 2; ++i) {
            auto* tab = qobject_cast<TarnLiteSystemTab*>(tabs->widget(i));
            tab->findChild<QPushButton*>("pushButton_start")->click();
            QTRY_VERIFY_WITH_TIMEOUT(!tab->runActive(), 20000);
        }
        PortLister::setSource({});
        QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.summary()));

        for (int i = 0; i < 2; ++i) {
            const QStringList mine = normalised(ctlRun(i));
            const QStringList page = normalised(pageRun(i));
            QVERIFY(mine.size() > kCycles * 2);
            for (int line = 0; line < qMax(mine.size(), page.size()); ++line)
                QCOMPARE(mine.value(line), page.value(line));
            QVERIFY(QDir(pageRun(i)).removeRecursively());
        }
    }

    // The page and vqs-ctl record say the same status line: a real run prints,
    // for a good reply, a start-up code and a code only the sensor names, what
    // the page shows for that code and sensor text; and for every code 0..255
    // the page shows its own words for 0 and the start-up codes, else the
    // sensor's text in red, as the shared table (vqs-ctl's source) says.
    void pageAndRecordSayTheSameStatusLine() {
        const uint8_t runCodes[] = {0x00, 0x26, 0x31};
        QTemporaryDir links, out;
        std::vector<std::unique_ptr<Simulator>> sims;
        QMap<QString, uint8_t> codeOfPort;
        QStringList args{"record", "--uart", "--json", "--cycles", "1", "--dir", out.path()};
        for (uint8_t code : runCodes) {
            Options options;
            options.samplePeriodMs = 200;
            const std::string name = "STATUS-" + std::to_string(code);
            sims.push_back(
                std::make_unique<Simulator>(Framing::Uart, identity(name.c_str(), 3, {{4, 1, 0, 0}}), options));
            QVERIFY(openThroughLink(*sims.back(), links, QString::fromStdString(name)));
            sims.back()->setSensorStatus(code);
            sims.back()->start();
            const QString port = QString::fromStdString(sims.back()->path());
            codeOfPort.insert(port, code);
            args << port;
        }
        const ProgramResult said = runProgram(VQS_CTL_PATH, args, 60000);
        QVERIFY2(said.code == 0, qPrintable(said.err));

        MainWindow window;
        auto* tab = window.findChild<TarnLiteSystemTab*>();
        auto* label = tab->findChild<QLabel*>("label_status");
        VQS* sensor = tab->sensorObject();
        const auto pageSays = [&](uint8_t code, const QString& sensorText) {
            sensor->lastReplyHeader.status = code;
            qstrncpy(sensor->statusText, sensorText.toLatin1().constData(), sizeof(sensor->statusText));
            sensor->answer.temperature = 20;  // a recordable cycle: the page shows it
            sensor->answer.pressure = 100;
            sensor->freshAnswer = true;
            tab->onVQSWorkComplete();
            return qMakePair(label->text(), label->styleSheet());
        };

        QMap<uint8_t, QString> printed;
        for (const QString& line : said.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject cycle = QJsonDocument::fromJson(line.toUtf8()).object();
            if (cycle.contains("status"))
                printed.insert(codeOfPort.value(cycle.value("port").toString()), cycle.value("status").toString());
        }
        QCOMPARE(printed.size(), 3);
        QCOMPARE(printed.value(0x00), QStringLiteral("Sensor OK"));
        QCOMPARE(printed.value(0x26), QStringLiteral("Sensor Initializing"));
        // The sensor's own text whole, as the page shows it: the name and when it came.
        QVERIFY2(QRegularExpression("^Condensation Condition\n\\(.+\\)$").match(printed.value(0x31)).hasMatch(),
                 qPrintable(printed.value(0x31)));
        for (auto it = printed.cbegin(); it != printed.cend(); ++it)
            QCOMPARE(pageSays(it.key(), it.value()).first, it.value());

        // Every code, with the sensor text the link layer writes for it.
        for (int code = 0; code <= 0xFF; ++code) {
            const char* named = statusCodeText(uint8_t(code));
            const QString sensorText = (named ? QString::fromLatin1(named)
                                              : QStringLiteral("Unknown Error 0x%1").arg(code, 0, 16)) +
                                       QStringLiteral("\n(12:00:00.000)");
            const presentation::StatusLine shared = presentation::statusLine(uint8_t(code), sensorText);
            QString text = sensorText;
            QString colour = "#Ff0000";
            if (code == 0) {
                text = "Sensor OK";
                colour = "#26A65B";
            } else if (code >= 0x26 && code <= 0x28) {
                text = named;  // the page's words are the sensor's names for these
                colour = "#F89406";
            }
            const auto page = pageSays(uint8_t(code), sensorText);
            QCOMPARE(page.first, text);
            QCOMPARE(page.second, QStringLiteral("QLabel{color:%1;font-family:Quicksand;}").arg(colour));
            QCOMPARE(shared.text, page.first);
            QCOMPARE(presentation::labelStyle(shared.tone), page.second);
        }
    }

    // Under a locale that writes "2,75": the files keep '.' in every number, and
    // the same tool reads the run and the parameter document back.
    void decimalCommaLocaleKeepsNumbersReadable() {
        QTemporaryDir locales, links, out;
        const QString locale = decimalCommaLocale(locales);
        if (locale.isEmpty())
            QSKIP("localedef cannot build de_DE.UTF-8 here (install the 'locales' package)");
        QProcessEnvironment german = QProcessEnvironment::systemEnvironment();
        german.insert("LOCPATH", locales.path());
        german.insert("LANG", locale);
        german.insert("LC_ALL", locale);
        // The locale really writes commas, so this run meets the fault.
        QCOMPARE(runProgram("locale", {"-k", "decimal_point"}, 60000, german).out.trimmed(),
                 QString("decimal_point=\",\""));

        Options fast;
        fast.samplePeriodMs = 200;
        Simulator sim(Framing::Uart, identity("REC-DE", 3, {{4, 1, 0, 0}}), fast);
        QVERIFY(openThroughLink(sim, links, "de"));
        sim.start();
        const QString port = QString::fromStdString(sim.path());
        ProgramResult said =
            runProgram(VQS_CTL_PATH, {"record", "--uart", "--cycles", "3", "--dir", out.path(), port}, 60000, german);
        QVERIFY2(said.code == 0, qPrintable(said.err));
        const QString runDir = runDirIn(out.path(), "REC-DE");

        const QList<QByteArray> csv = readAll(runDir + "/vqsData.csv").split('\n');
        QCOMPARE(csv.size(), 5);  // header, three rows, nothing after the last line feed
        static const QRegularExpression customerRow(
            "^\\d+\\.\\d{6}, -?\\d+, (-?\\d+\\.\\d{6}, ){3}\\d+, -?\\d+\\.\\d{6}\r$");
        for (const QByteArray& row : csv.mid(1, 3))
            QVERIFY2(customerRow.match(QString::fromLatin1(row)).hasMatch(), row.constData());
        const QList<QByteArray> engineering =
            decipherPieces(readAll(runDir + "/enc/vqsData.enc"), builtInPassPhrase).join().split('\n');
        QCOMPARE(engineering.size(), 5);
        // "2,439000": six decimals behind a comma.
        static const QRegularExpression commaDecimals("\\d,\\d{6}(,|\\r|$)");
        for (const QByteArray& row : engineering.mid(1, 3)) {
            QVERIFY2(!commaDecimals.match(QString::fromLatin1(row)).hasMatch(), row.constData());
            QVERIFY(row.count('.') >= 10);
        }

        // Read back under the same locale: the plot takes all three rows.
        said = runProgram(VQS_CTL_PATH, {"plot", runDir, "--out", out.filePath("run.png"), "--json"}, 60000, german);
        QVERIFY2(said.code == 0, qPrintable(said.err));
        const QJsonArray runs = said.json().value("runs").toArray();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].toObject().value("rows").toInt(), 3);
        QCOMPARE(runs[0].toObject().value("skipped").toInt(), 0);

        // The parameter document: written as the C locale writes it, and read
        // back to the same values (no change to make).
        const ProgramResult plain = runProgram(VQS_CTL_PATH, {"params", "get", port, "--uart"}, 60000);
        said = runProgram(VQS_CTL_PATH, {"params", "get", port, "--uart"}, 60000, german);
        QVERIFY2(said.code == 0 && plain.code == 0, qPrintable(said.err + plain.err));
        QCOMPARE(said.out, plain.out);
        QVERIFY(QRegularExpression("\\d\\.\\d").match(said.out).hasMatch());
        QFile document(out.filePath("params.json"));
        QVERIFY(document.open(QIODevice::WriteOnly) && document.write(said.out.toUtf8()) > 0);
        document.close();
        said = runProgram(VQS_CTL_PATH, {"params", "set", port, document.fileName(), "--uart", "--dry-run"}, 60000,
                          german);
        QVERIFY2(said.code == 0, qPrintable(said.err));
        QCOMPARE(said.out.trimmed(), QString("no change"));
    }

    void sigtermEndsARunCleanly() {
        QTemporaryDir links, out;
        Simulator sim(Framing::Usb, identity("REC-TERM", 5, {{4, 1, 0, 0}}));
        QVERIFY(openThroughLink(sim, links, "usb"));
        sim.start();
        // Started as from cron or a service, without a runtime directory: nothing is said
        // about it and nothing is left in the temporary directory, for help, a usage error
        // and a run alike.
        QTemporaryDir tmp;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        for (const QStringList& args : {QStringList{"record", "--help"}, QStringList{"record", "--cycles", "0", "x"}}) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(VQS_CTL_PATH), args);
            QVERIFY(p.waitForFinished(30000));
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QVERIFY2(err.count('\n') == (p.exitCode() == 0 ? 0 : 1), qPrintable(err));
        }
        QProcess ctl;
        ctl.setProcessEnvironment(env);
        ctl.start(QStringLiteral(VQS_CTL_PATH),
                  {"record", "--usb", "--dir", out.path(), QString::fromStdString(sim.path())});
        QVERIFY(ctl.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(csvRows(runDirIn(out.path(), "REC-TERM")) >= 2, 20000);
        ctl.terminate();  // SIGTERM
        QVERIFY(ctl.waitForFinished(20000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
        const QString runDir = runDirIn(out.path(), "REC-TERM");
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        QVERIFY(err.contains(QDir::toNativeSeparators(runDir)));
        QVERIFY2(!err.contains(QStringLiteral("QStandardPaths")), qPrintable(err));
        QVERIFY(QDir(tmp.path()).isEmpty());
        QCOMPARE(sim.state(), uint8_t(3));
        // Whole rows only, the last line ended, and the time log closed.
        const QByteArray csv = readAll(runDir + "/vqsData.csv");
        QVERIFY(csv.endsWith("\r\n"));
        for (const QByteArray& row : csv.split('\n').mid(1))
            QVERIFY(row.isEmpty() || row.count(',') == 6);
        QVERIFY(readAll(runDir + "/timelog.txt").endsWith(": Stopped\r\n"));
        // The run's pictures beside its files.
        for (const char* picture : {"vqsConc.png", "vqsConc.pdf", "vqsEnviro.png", "vqsEnviro.pdf"})
            QVERIFY2(QFileInfo(runDir + '/' + picture).size() > 0, picture);
        QVERIFY(!QImage(runDir + "/vqsEnviro.png").isNull());
        const QList<QByteArray> pieces = decipherPieces(readAll(runDir + "/enc/vqsData.enc"), builtInPassPhrase);
        QVERIFY(!pieces.isEmpty() && pieces.last() == "\r\n");
    }

    // Lines on standard input mark the run where they arrive, in order, and the
    // end of the input leaves the run recording; analyse reads the marks back.
    void stdinLinesMarkTheRun() {
        QTemporaryDir links, out;
        Simulator sim(Framing::Usb, identity("REC-MARK", 5, {{4, 1, 0, 0}}));
        QVERIFY(openThroughLink(sim, links, "usb"));
        sim.start();
        QProcess ctl;
        ctl.start(QStringLiteral(VQS_CTL_PATH),
                  {"record", "--usb", "--dir", out.path(), QString::fromStdString(sim.path())});
        QVERIFY(ctl.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(csvRows(runDirIn(out.path(), "REC-MARK")) >= 1, 20000);
        const QString runDir = runDirIn(out.path(), "REC-MARK");
        const QString log = runDir + "/timelog.txt";
        const QList<QByteArray> lines = {"on\n", "off\n", "  a note\n"};
        for (int i = 0; i < lines.size(); ++i) {
            // A row between marks: each mark's run time is later than the last one's.
            const int rows = csvRows(runDir);
            QTRY_VERIFY_WITH_TIMEOUT(csvRows(runDir) > rows, 20000);
            ctl.write(lines[i]);
            QTRY_VERIFY_WITH_TIMEOUT(readAll(log).count(" s)\r\n") == i + 1, 20000);
        }
        ctl.closeWriteChannel();
        const int rows = csvRows(runDir);
        QTRY_VERIFY_WITH_TIMEOUT(csvRows(runDir) > rows + 1, 20000);
        QCOMPARE(ctl.state(), QProcess::Running);
        ctl.terminate();
        QVERIFY(ctl.waitForFinished(20000));
        QCOMPARE(ctl.exitCode(), 0);

        static const QRegularExpression markLine(QStringLiteral(": Cycle (\\d+): (.*) \\((\\d+\\.\\d{3}) s\\)$"));
        QStringList texts;
        double last = -1;
        int lastCycle = 0;
        for (const QString& line : QString::fromUtf8(readAll(log)).split("\r\n")) {
            const QRegularExpressionMatch m = markLine.match(line);
            if (!m.hasMatch())
                continue;
            texts << m.captured(2);
            QVERIFY2(m.captured(3).toDouble() > last, qPrintable(line));
            QVERIFY2(m.captured(1).toInt() > lastCycle, qPrintable(line));
            last = m.captured(3).toDouble();
            lastCycle = m.captured(1).toInt();
        }
        QCOMPARE(texts, (QStringList{"Gas on", "Gas off", "a note"}));

        QProcess analyse;
        analyse.start(QStringLiteral(VQS_CTL_PATH), {"analyse", runDir, "--json"});
        QVERIFY(analyse.waitForFinished(30000));
        QCOMPARE(analyse.exitCode(), 0);
        const QJsonArray steps = QJsonDocument::fromJson(analyse.readAllStandardOutput()).object()["steps"].toArray();
        QCOMPARE(steps.size(), 2);
        QCOMPARE(steps[0].toObject()["kind"].toString(), QStringLiteral("rise"));
        QCOMPARE(steps[1].toObject()["kind"].toString(), QStringLiteral("fall"));
    }
};

QTEST_MAIN(TestCtlRecord)
#include "test_ctl_record.moc"
