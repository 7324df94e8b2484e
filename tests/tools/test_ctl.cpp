// vqs-ctl run as a program against simulated sensors: identification on both framings, a
// parameter round trip, and the error paths with their exit codes.
#include <QtTest>

#include <unistd.h>

#include "cli.h"
#include "program_result.h"
#include "pty_pair.h"
#include "sim_link.h"
#include "simulator.h"
#include "vqs.h"

using namespace vqssim;

namespace {

using Result = ProgramResult;

Result ctl(const QStringList& args) {
    return runProgram(QStringLiteral(VQS_CTL_PATH), args, 120000);
}

QString framingOption(Framing framing) {
    return framing == Framing::Uart ? QStringLiteral("--uart") : QStringLiteral("--usb");
}

QJsonObject parseObject(const QString& text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

}  // namespace

class TestCtl : public QObject {
    Q_OBJECT

private slots:
    void identifiesOnBothFramings() {
        for (Framing framing : {Framing::Uart, Framing::Usb}) {
            Identity id;
            id.name = "Bench-7";
            id.sensorType = 5;
            id.sku = "VQS-ME-200";
            id.calibrationDate = "2024-02-29";
            Simulator sim(framing, id);
            QTemporaryDir dir;
            QVERIFY(openThroughLink(sim, dir, QStringLiteral("sensor")));
            sim.start();
            const QString port = QString::fromStdString(sim.path());

            Result r = ctl({QStringLiteral("identify"), framingOption(framing), port, QStringLiteral("--json")});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            const QJsonObject o = r.json();
            QCOMPARE(o.value("name").toString(), QStringLiteral("Bench-7"));
            // A USB sensor tells no type; the page says so too, with the unit it is configured for.
            QCOMPARE(o.value("typeName").toString(),
                     framing == Framing::Uart ? QStringLiteral("VQS Methane Gas")
                                              : QStringLiteral("Not reported by the sensor (configured for PPM)"));
            QCOMPARE(o.value("sku").toString(), QStringLiteral("VQS-ME-200"));
            QCOMPARE(o.value("selfTest").toString(), QStringLiteral("passed"));
            QCOMPARE(o.value("status").toString(), QStringLiteral("Sensor ready"));
            QVERIFY(o.value("firmware").toString().contains(QStringLiteral("4.1.0.0")));
            if (framing == Framing::Uart) {
                QCOMPARE(o.value("calibrationDate").toString(), QStringLiteral("2024-02-29"));
                QCOMPARE(o.value("hardware").toString(), QStringLiteral("2.1"));

                // A failed self test is shown in full and tells the script by its exit code.
                sim.setSensorStatus(0x32);
                r = ctl({QStringLiteral("identify"), QStringLiteral("--uart"), port});
                QCOMPARE(r.code, 1);
                QVERIFY(r.out.contains(QRegularExpression(QStringLiteral("Self-test:\\s+failed"))));
                QVERIFY(r.out.contains(QRegularExpression(QStringLiteral("Name:\\s+Bench-7"))));
            }
        }
    }

    void paramsRoundTripChangesOneValue() {
        for (Framing framing : {Framing::Uart, Framing::Usb}) {
            Simulator sim(framing);
            QTemporaryDir dir;
            QVERIFY(openThroughLink(sim, dir, QStringLiteral("sensor")));
            sim.start();
            const QString port = QString::fromStdString(sim.path());
            const QString option = framingOption(framing);

            Result r = ctl({QStringLiteral("params"), QStringLiteral("get"), port, option});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            QJsonObject doc = parseObject(r.out);
            QJsonObject general = doc.value("generalParams").toObject();
            QVERIFY(!general.isEmpty());
            const double oldCycleTime = general.value("cycleTime").toDouble();
            general.insert(QStringLiteral("cycleTime"), oldCycleTime + 1.5);
            doc.insert(QStringLiteral("generalParams"), general);
            const QString file = dir.filePath(QStringLiteral("params.json"));
            {
                QFile f(file);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(QJsonDocument(doc).toJson());
            }
            const std::string before = sim.paramsJson();

            r = ctl({QStringLiteral("params"), QStringLiteral("set"), port, file, option, QStringLiteral("--dry-run")});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            QCOMPARE(r.out.trimmed(), QStringLiteral("generalParams.cycleTime: %1 -> %2")
                                          .arg(oldCycleTime).arg(oldCycleTime + 1.5));
            QCOMPARE(sim.paramsJson(), before);
            QCOMPARE(sim.requestCount(framing == Framing::Uart ? cmd::UartSetParams : cmd::UsbSetParams), size_t(0));

            r = ctl({QStringLiteral("params"), QStringLiteral("set"), port, file, option, QStringLiteral("--json")});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            const QJsonArray changes = r.json().value("changes").toArray();
            QCOMPARE(changes.size(), 1);
            QCOMPARE(changes[0].toObject().value("key").toString(), QStringLiteral("generalParams.cycleTime"));
            QVERIFY(r.json().value("written").toBool());
            const QJsonObject stored = parseObject(QString::fromStdString(sim.paramsJson()));
            QCOMPARE(stored.value("generalParams").toObject().value("cycleTime").toDouble(), oldCycleTime + 1.5);
            // Read back through the tool, the document is the edited one, value for value.
            r = ctl({QStringLiteral("params"), QStringLiteral("get"), port, option});
            QCOMPARE(parseObject(r.out), doc);

            // The same document again changes nothing and writes nothing.
            const size_t writes = sim.requestCount(framing == Framing::Uart ? cmd::UartSetParams : cmd::UsbSetParams);
            r = ctl({QStringLiteral("params"), QStringLiteral("set"), port, file, option});
            QCOMPARE(r.code, 0);
            QCOMPARE(r.out.trimmed(), QStringLiteral("no change"));
            QCOMPARE(sim.requestCount(framing == Framing::Uart ? cmd::UartSetParams : cmd::UsbSetParams), writes);
        }
    }

    void errorPathsHaveTheirExitCodes() {
        QTemporaryDir dir;
        // Usage errors, before any port is touched.
        const QString notParams = dir.filePath(QStringLiteral("other.json"));
        {
            QFile f(notParams);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("{\"generalParams\": {}}");
        }
        const QList<QStringList> usage{
            {},
            {QStringLiteral("frobnicate")},
            {QStringLiteral("identify")},
            {QStringLiteral("identify"), QStringLiteral("a"), QStringLiteral("b")},
            {QStringLiteral("identify"), QStringLiteral("--uart"), QStringLiteral("--usb"), QStringLiteral("x")},
            {QStringLiteral("list"), QStringLiteral("--dry-run")},
            {QStringLiteral("params"), QStringLiteral("set"), QStringLiteral("--uart"), QStringLiteral("/dev/null"), notParams},
        };
        for (const QStringList& args : usage) {
            const Result r = ctl(args);
            QVERIFY2(r.code == 2, qPrintable(args.join(' ') + ": " + r.err));
            QCOMPARE(r.err.count('\n'), 1);
            QVERIFY(r.err.startsWith(QStringLiteral("vqs-ctl: ")));
        }
        // A bad file is named as the file, not as a port.
        Result r = ctl({QStringLiteral("params"), QStringLiteral("set"), QStringLiteral("--uart"), QStringLiteral("/dev/null"),
                        notParams, QStringLiteral("--json")});
        QCOMPARE(r.code, 2);
        QCOMPARE(r.json().value("file").toString(), notParams);
        QVERIFY(!r.json().contains(QStringLiteral("port")));

        r = ctl({QStringLiteral("--help")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains(QStringLiteral("Exit codes:")));
        QVERIFY(r.out.contains(QStringLiteral("\n  record PORT")));
        r = ctl({QStringLiteral("params"), QStringLiteral("--help")});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(r.out.contains(QStringLiteral("Usage: vqs-ctl params get")));
        QVERIFY(r.out.contains(QStringLiteral("Usage: vqs-ctl params set")));
        QCOMPARE(r.out.count(QStringLiteral("Exit codes:")), 1);
        r = ctl({QStringLiteral("list"), QStringLiteral("--json")});
        QCOMPARE(r.code, 0);
        QVERIFY(QJsonDocument::fromJson(r.out.toUtf8()).isArray());

        // No such port.
        r = ctl({QStringLiteral("identify"), QStringLiteral("--uart"), dir.filePath(QStringLiteral("ttyGone")),
                 QStringLiteral("--json")});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(QStringLiteral("no such port")), qPrintable(r.err));
        QCOMPARE(r.json().value("problem").toString(), QStringLiteral("no-such-port"));

        // A port another program holds, and one the rules cannot place without --uart/--usb.
        Simulator sim(Framing::Uart);
        QVERIFY(openThroughLink(sim, dir, QStringLiteral("sensor")));
        sim.start();
        const QString port = QString::fromStdString(sim.path());
        {
            VQS holder;
            holder.transport = 1;
            holder.portPath = sim.path();
            QCOMPARE(holder.connect(), VQS_SUCCESS);
            r = ctl({QStringLiteral("identify"), QStringLiteral("--uart"), port});
            QCOMPARE(r.code, 3);
            QVERIFY2(r.err.contains(QStringLiteral("port busy")), qPrintable(r.err));
            holder.disconnect();
        }
        r = ctl({QStringLiteral("identify"), port});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("--uart or --usb")));

        // A pseudo-terminal where nothing answers.
        PtyPair silent;
        QVERIFY(silent.isValid());
        // Opened by a user who may not (a pty belongs to its owner), when the test may switch users.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (::geteuid() == 0 && !setpriv.isEmpty()) {
            QProcess p;
            p.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups"), QStringLiteral(VQS_CTL_PATH), QStringLiteral("params"),
                              QStringLiteral("get"), QStringLiteral("--uart"), QString::fromStdString(silent.slavePath())});
            QVERIFY(p.waitForFinished(60000));
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QCOMPARE(p.exitCode(), 3);
            QVERIFY2(err.contains(QStringLiteral("permission denied; add yourself to the dialout group")), qPrintable(err));
        }
        r = ctl({QStringLiteral("params"), QStringLiteral("get"), QStringLiteral("--usb"),
                 QString::fromStdString(silent.slavePath())});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("no parameter document")), qPrintable(r.err));
        r = ctl({QStringLiteral("identify"), QStringLiteral("--uart"), QString::fromStdString(silent.slavePath())});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(QStringLiteral("no sensor answers")), qPrintable(r.err));
    }

    // Options stand before or after the command; nothing typed on the command
    // line ends the tool without a message and the usage exit code.
    void commandLineInAnyOrderAndAbusiveInputs() {
        // Options first: the run still leaves its pictures, and plot still draws.
        Options options;
        options.samplePeriodMs = 200;
        Simulator sim(Framing::Usb, Identity{}, options);
        QTemporaryDir dir;
        QVERIFY(openThroughLink(sim, dir, QStringLiteral("sensor")));
        sim.start();
        const QString runs = dir.filePath(QStringLiteral("runs"));
        QVERIFY(QDir().mkpath(runs));
        Result r = ctl({"--dir", runs, "--cycles", "2", "--usb", "record", QString::fromStdString(sim.path())});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QStringList made = QDir(runs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(made.size(), 1);
        const QString run = runs + '/' + made.first();
        for (const char* picture : {"vqsConc.png", "vqsEnviro.pdf"})
            QVERIFY2(QFileInfo(run + '/' + picture).size() > 0, picture);
        const QString picture = dir.filePath(QStringLiteral("run.png"));
        r = ctl({"--out", picture, "--json", "plot", run});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(picture).size() > 0);
        QCOMPARE(r.json().value("runs").toArray().size(), 1);

        const QString huge(40, '9');
        const struct {
            QStringList args;
            const char* says;
        } abuses[] = {
            {{}, "no command given"},
            {{"-x", "list"}, "unknown option -x"},
            {{"plot", "RUN", "--out"}, "--out needs a value"},
            {{"--out"}, "--out needs a value"},
            {{"--json=yes", "list"}, "--json takes no value"},
            {{"--cycles", huge, "record", "PORT"}, "--cycles needs a whole number above 0"},
            {{"record", "PORT", "--cycles=-1"}, "--cycles needs a whole number above 0"},
            {{"--duration", "soon", "record", "PORT"}, "--duration needs a time"},
            {{"record", "PORT", "--duration", huge + "h"}, "longer than 100 years"},
            {{"record", "PORT", "--duration", "0s"}, "above 0"},
            // Words the toolkit's start-up would take for itself, one of them fatally.
            {{"--out", "-platform", "plot", "bogus"}, "-platform is reserved"},
            {{"plot", "--out", "x.png", "--", "-style"}, "-style is reserved"},
        };
        for (const auto& abuse : abuses) {
            r = ctl(abuse.args);
            const QString what = abuse.args.join(' ') + ": " + r.err;
            QVERIFY2(r.code == 2, qPrintable(what));
            QVERIFY2(r.err.startsWith("vqs-ctl: ") && r.err.count('\n') == 1 && r.err.contains(abuse.says),
                     qPrintable(what));
        }
    }

    // Durations up to years, in milliseconds beyond what an int holds.
    void durationsReachYears() {
        QString error;
        QCOMPARE(parseDuration("600h", &error), 600LL * 3600 * 1000);
        QCOMPARE(parseDuration("3650d", &error), 3650LL * 86400 * 1000);
        QCOMPARE(parseDuration(" 1.5h", &error), 5400000LL);
        QCOMPARE(parseDuration("90", &error), 90000LL);
        QCOMPARE(parseDuration("36525d", &error), kMaxDurationMs);
        for (const char* bad : {"36526d", "", "h", "-5m", "1e9", "nan", "inf", "5 years", "0", "0.0001"}) {
            error.clear();
            QVERIFY2(parseDuration(bad, &error) == -1, bad);
            QVERIFY(!error.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "test_ctl.moc"
