// Run recording against the simulator: directory and file names, headers, rows
// and their number formats, CR LF line ends, the deciphered engineering table
// and sensor information, the overwrite question and a killed run.
#include <QProcess>
#include <QRegularExpression>

#include "recording_fixture.h"

using namespace rec;

namespace {

const QString kStampPattern = "\\d{4}_\\d{2}_\\d{2}-\\d{6}";
const QString kNumber = "-?\\d+\\.\\d{6}";

QString f(double value) {
    return QString::asprintf("%f", value);
}

QStringList crlfLines(const QByteArray& text) {
    QStringList lines = QString::fromLatin1(text).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool hasBareLineFeed(const QByteArray& text) {
    for (int i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return true;
    return false;
}

void removeRunDirs(const QString& name) {
    for (const QString& parent : {appDir() + "/TempData", appDir() + "/enc"}) {
        const QStringList names = QDir(parent).entryList({"* " + name + "*"}, QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& dir : names)
            QDir(parent + '/' + dir).removeRecursively();
    }
}

struct Expectation {
    const char* name;
    uint32_t type;
    std::array<uint8_t, 4> firmware;
    bool rawColumns;
    uint8_t unit;
    const char* unitLabel;
    const char* csvConcHeader;
};

// Runs a few cycles and checks every file of the run against the simulator's waveform.
void checkFullRun(const Expectation& e, uint32_t extraStatusBits) {
    removeRunDirs(e.name);
    Bench bench(identity(e.name, e.type, e.firmware));
    QVERIFY(bench.ok);
    bench.sim.setExtraStatusBits(extraStatusBits);
    QVERIFY(bench.record(3));
    QCOMPARE(bench.label("label_flamConcUnit"), QString(e.unitLabel));
    QVERIFY(bench.stop());
    const uint32_t rows = bench.tab->recordedCycles();
    QCOMPARE(bench.sensor()->v3Answer, !e.rawColumns);

    const QString runDir = findDir(appDir() + "/TempData", QString(" ") + e.name);
    QVERIFY2(!runDir.isEmpty(), "run directory");
    QVERIFY(QRegularExpression("/" + kStampPattern + " " + e.name + "$").match(runDir).hasMatch());
    QCOMPARE(QDir(runDir).entryList(QDir::Files), QStringList({"timelog.txt", "vqsData.csv"}));
    QCOMPARE(QDir(runDir + "/enc").entryList(QDir::Files), QStringList({"testInfo.enc", "vqsData.enc"}));

    // Customer table.
    const QByteArray csv = readAll(runDir + "/vqsData.csv");
    QVERIFY(!hasBareLineFeed(csv));
    QVERIFY(csv.endsWith("\r\n"));
    const QStringList csvLines = crlfLines(csv);
    QCOMPARE(csvLines.first(), QString("Time [s], Cycle , T [C], P [kPa], RH [%], ") + e.csvConcHeader);
    QCOMPARE(uint32_t(csvLines.size() - 1), rows);

    // Engineering table.
    const QByteArray eng = decipherFile(runDir + "/enc/vqsData.enc");
    QVERIFY(!eng.contains("<broken>"));
    QVERIFY(eng.endsWith("\r\n"));
    const QStringList engLines = crlfLines(eng);
    const QString statusColumns = e.rawColumns
                                      ? "Sensor Status,Internal Status,Internal Status Strings,TRaw,PRaw,RHRaw"
                                      : "Sensor Status,Internal Status,Internal Status Strings";
    QCOMPARE(engLines.first(), "Time [s], Cycle , T [C], P [kPa], RH [%], AH [g/m3], dDSCMidCompNorm [%LEL], "
                               "dDSCMaxCompNorm [%LEL], FlamID , FlamConc [%LEL], DSC1MidP_K [mW], DSC1MaxP_K [mW], " +
                                   statusColumns + ",Analog Out [V]");
    QCOMPARE(uint32_t(engLines.size() - 1), rows);

    for (uint32_t row = 1; row <= rows; ++row) {
        // Both tables start with the same time and cycle.
        const QStringList csvFields = csvLines[int(row)].split(", ");
        const QStringList engFields = engLines[int(row)].split(", ");
        QCOMPARE(csvFields.size(), 7);
        QVERIFY(QRegularExpression("^" + kNumber + "$").match(csvFields[0]).hasMatch());
        QCOMPARE(engFields[0], csvFields[0]);
        QCOMPARE(engFields[1], csvFields[1]);

        const uint32_t sample = csvFields[1].toUInt();
        const vqssim::Measurement m = vqssim::Simulator::waveform(sample, e.unit);
        const QString expectedCsv = QStringList{csvFields[0], QString::number(sample), f(m.temperature),
                                                f(m.pressure), f(m.humidity), QString::number(m.gasId),
                                                f(m.concentration)}
                                        .join(", ");
        QCOMPARE(csvLines[int(row)], expectedCsv);

        char bitsText[512];
        const uint32_t bits = m.internalStatus | extraStatusBits;
        statusBitsToText(bits, bitsText);
        QString expectedEng = QStringList{csvFields[0], QString::number(sample), f(m.temperature), f(m.pressure),
                                          f(m.humidity), f(m.absHumidity), f(m.midCompNorm), f(m.maxCompNorm),
                                          QString::number(m.gasId), f(m.concentration), f(m.dsc1MidPower),
                                          f(m.dsc1MaxPower), "0", QString::number(bits), QString(bitsText)}
                                  .join(", ") +
                              ", ";
        if (e.rawColumns)
            expectedEng += QStringList{f(m.temperatureRaw), f(m.pressureRaw), f(m.humidityRaw)}.join(", ") + ",";
        // The analog output is read between cycles; only its format is fixed here.
        QVERIFY2(engLines[int(row)].startsWith(expectedEng), qPrintable(engLines[int(row)]));
        QVERIFY(QRegularExpression("^" + kNumber + "$").match(engLines[int(row)].mid(expectedEng.size())).hasMatch());
    }

    // Sensor information block.
    const QByteArray info = decipherFile(runDir + "/enc/testInfo.enc");
    const QString expectedInfo = QString("VQS Sensor Interface: 1.8.0.3\nMCU ID: 0x%1\nSensor Name: %2\n%3\n")
                                     .arg(QString::fromLatin1(bench.sensor()->mcuId), QString(e.name),
                                          QString::fromLatin1(bench.sensor()->versionText));
    QCOMPARE(QString::fromLatin1(info), expectedInfo);
    QVERIFY(QRegularExpression("^[0-9a-fA-F]{24}$").match(QString::fromLatin1(bench.sensor()->mcuId)).hasMatch());

    // Time log.
    const QByteArray log = readAll(runDir + "/timelog.txt");
    QVERIFY(!hasBareLineFeed(log));
    const QStringList logLines = crlfLines(log);
    QCOMPARE(logLines.size(), 2);
    const QString logStamp = "^\\d{4}_\\d{2}_\\d{2} - \\d{2}_\\d{2}_\\d{2}: ";
    QVERIFY(QRegularExpression(logStamp + "Started$").match(logLines[0]).hasMatch());
    QVERIFY(QRegularExpression(logStamp + "Stopped$").match(logLines[1]).hasMatch());

    QVERIFY(QRegularExpression("^\\d{2,}h:\\d{2}m:\\d{2}s$").match(bench.label("label_time")).hasMatch());
    removeRunDirs(e.name);
}

// The engineering-data reply (length word, then flam_data_t) with chosen temperature and pressure.
std::vector<uint8_t> engRecord(int32_t sample, float temperature, float pressure) {
    flam_data_t data{};
    data.sampleNumber = sample;
    data.gasId = 0;
    data.temperature = temperature;
    data.pressure = pressure;
    data.humidity = 40.0f;
    const uint32_t length = sizeof data;
    std::vector<uint8_t> bytes(4 + sizeof data);
    std::memcpy(bytes.data(), &length, 4);
    std::memcpy(bytes.data() + 4, &data, sizeof data);
    return bytes;
}

}  // namespace

class TestRecording : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { makeWorkingDirectories(); }

    void runBelowFirmware4100() {
        checkFullRun({"REC-V3", 3, {{4, 0, 9, 9}}, false, 0, "%LEL(ISO)", "Gas ID , Conc [%LEL]"}, 0);
    }

    void runAtFirmware4100WithEveryStatusBit() {
        // Every status bit set makes the status piece longer than one record.
        checkFullRun({"REC-4100", 3, {{4, 1, 0, 0}}, true, 0, "%LEL(ISO)", "Gas ID , Conc [%LEL]"}, 0xFFFFFFFFu);
    }

    void runOfPpmSensor() {
        checkFullRun({"REC-PPM", 5, {{4, 1, 0, 0}}, true, 3, "PPM", "Gas ID , Conc [PPM]"}, 0);
    }

    void zeroTemperatureOrPressureBeforeFirstRow() {
        removeRunDirs("REC-ZERO");
        Bench bench(identity("REC-ZERO", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        bench.sim.overridePayload(vqssim::cmd::UartEngData, engRecord(1000, 0.0f, 101.3f));
        bench.button("pushButton_start")->setChecked(true);
        // Two answers with T = 0 processed, none recorded.
        QVERIFY(Bench::waitFor([&] { return bench.sim.requestCount(vqssim::cmd::UartEngData) >= 3; }, 20000));
        QCOMPARE(bench.tab->recordedCycles(), 0u);
        const QString runDir = findDir(appDir() + "/TempData", " REC-ZERO");
        QCOMPARE(crlfLines(readAll(runDir + "/vqsData.csv")).size(), 1);

        bench.sim.clearOverrides();
        QVERIFY(Bench::waitFor([&] { return bench.tab->recordedCycles() >= 1; }, 20000));
        // Once a row exists, zero readings are recorded too.
        bench.sim.overridePayload(vqssim::cmd::UartEngData, engRecord(2000, 0.0f, 0.0f));
        QVERIFY2(Bench::waitFor(
            [&] { return readAll(runDir + "/vqsData.csv").contains(", 2000, 0.000000, 0.000000, 40.000000, "); },
            20000), readAll(runDir + "/vqsData.csv").constData());
        QVERIFY(bench.stop());
        removeRunDirs("REC-ZERO");
    }

    void overwriteQuestion() {
        removeRunDirs("REC-OVER");
        Bench bench(identity("REC-OVER", 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        // Occupy the run directory names of the next few seconds.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList occupied;
        for (int s = 0; s < 4; ++s) {
            const QString dir = appDir() + "/TempData/" + now.addSecs(s).toString("yyyy_MM_dd-HHmmss") + " REC-OVER";
            QDir().mkpath(dir + "/enc");
            QFile marker(dir + "/enc/keep.enc");
            QVERIFY(marker.open(QIODevice::WriteOnly));
            QFile other(dir + "/keep.csv");
            QVERIFY(other.open(QIODevice::WriteOnly));
            occupied << dir;
        }
        {
            BoxAnswerer cancel(QMessageBox::Cancel);
            bench.button("pushButton_start")->setChecked(true);
            QTRY_COMPARE(cancel.seen.size(), 1);
            QCOMPARE(cancel.seen[0].text, QString("Directory Already Exists"));
            QCOMPARE(cancel.seen[0].informativeText, QString("Do you want to overwrite existing data?"));
            QCOMPARE(cancel.seen[0].defaultButton, QMessageBox::Cancel);
            QCOMPARE(cancel.seen[0].styleSheet, QString("QLabel{min-width: 250px;}"));
            // Over the page's window, titled, with the question icon.
            QCOMPARE(cancel.seen[0].window, bench.tab->window());
            QCOMPARE(cancel.seen[0].icon, QMessageBox::Question);
            QVERIFY(!cancel.seen[0].title.isEmpty());
        }
        QVERIFY(!bench.button("pushButton_start")->isChecked());
        QVERIFY(!bench.tab->runActive());
        for (const QString& dir : occupied) {
            QVERIFY(QFile::exists(dir + "/enc/keep.enc"));
            QVERIFY(QFile::exists(dir + "/keep.csv"));
        }
        {
            BoxAnswerer ok(QMessageBox::Ok);
            QVERIFY(bench.record(1));
            QCOMPARE(ok.texts(), QStringList{"Directory Already Exists"});
        }
        QVERIFY(bench.stop());
        int replaced = 0;
        for (const QString& dir : occupied) {
            if (!QFile::exists(dir + "/keep.csv")) {
                ++replaced;
                QVERIFY(!QFile::exists(dir + "/enc/keep.enc"));
                QVERIFY(QFile::exists(dir + "/vqsData.csv"));
            }
        }
        QCOMPARE(replaced, 1);
        removeRunDirs("REC-OVER");
    }

    void sensorNameCannotLeaveTheRunDirectory() {
        const char* name = "../..\\x/y:*?";
        Bench bench(identity(name, 3, {{4, 1, 0, 0}}));
        QVERIFY(bench.ok);
        QCOMPARE(QString::fromLatin1(bench.sensor()->sensorName), QString(name));
        QVERIFY(bench.record(1));
        QVERIFY(bench.stop());
        const QString runDir = findDir(appDir() + "/TempData", " ______x_y___");
        QVERIFY2(!runDir.isEmpty(), qPrintable(QDir(appDir() + "/TempData").entryList().join(',')));
        QVERIFY(QFile::exists(runDir + "/vqsData.csv"));
        // The file keeps the real name.
        QVERIFY(decipherFile(runDir + "/enc/testInfo.enc").contains(QByteArray("Sensor Name: ") + name + "\n"));
        QDir(runDir).removeRecursively();
        QVERIFY(!QFile::exists(appDir() + "/x"));
    }

    void killedRunKeepsEveryRecordedRow() {
        removeRunDirs("REC-KILL");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--child-run"});
        QVERIFY(child.waitForStarted());
        int reported = 0;
        QByteArray output;
        QVERIFY(Bench::waitFor(
            [&] {
                child.waitForReadyRead(50);
                output += child.readAllStandardOutput();
                const QRegularExpressionMatch m = QRegularExpression("rows (\\d+)\\n$").match(QString(output));
                reported = m.hasMatch() ? m.captured(1).toInt() : 0;
                return reported >= 3;
            },
            60000));
        child.kill();  // SIGKILL: no clean-up, no stdio flush
        QVERIFY(child.waitForFinished());
        const QString runDir = findDir(appDir() + "/TempData", " REC-KILL");
        const QByteArray csv = readAll(runDir + "/vqsData.csv");
        QVERIFY(csv.endsWith("\r\n"));
        QVERIFY2(crlfLines(csv).size() - 1 >= reported, csv.constData());
        removeRunDirs("REC-KILL");
    }
};

// The child of killedRunKeepsEveryRecordedRow: records until killed, printing
// the number of rows written after each one.
static int childRun(int argc, char** argv) {
    QApplication app(argc, argv);
    makeWorkingDirectories();
    Bench bench(identity("REC-KILL", 3, {{4, 1, 0, 0}}));
    if (!bench.ok)
        return 3;
    bench.button("pushButton_start")->setChecked(true);
    uint32_t last = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (bench.tab->recordedCycles() != last) {
            last = bench.tab->recordedCycles();
            std::printf("rows %u\n", last);
            std::fflush(stdout);
        }
    });
    poll.start(10);
    return app.exec();
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child-run") == 0)
        return childRun(argc, argv);
    QApplication app(argc, argv);
    TestRecording test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_recording.moc"
