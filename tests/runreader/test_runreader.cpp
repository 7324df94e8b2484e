// The run reader against the files as the recorder writes them and against
// damaged ones: whatever is readable is read, the rest is named by line.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runreader.h"

namespace {

const QByteArray kHeader = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [%LEL]\r\n";

QByteArray row(int n) {
    return QByteArray::number(n * 1.5, 'f', 6) + ", " + QByteArray::number(n) + ", 21.500000, 101.325000, " +
           "45.000000, 1, " + QByteArray::number(n * 10.25, 'f', 6) + "\r\n";
}

QByteArray rows(int from, int to) {
    QByteArray text;
    for (int n = from; n <= to; ++n)
        text += row(n);
    return text;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

}  // namespace

class TestRunReader : public QObject {
    Q_OBJECT

private slots:
    void damagedTables_data() {
        QTest::addColumn<bool>("hasTable");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("said");  // in the problems line, or why nothing is shown

        QTest::newRow("whole run") << true << kHeader + rows(1, 3) << 3 << "";
        QTest::newRow("ppm table, LF line ends")
            << true << QByteArray("Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [PPM]\n") + rows(1, 2).replace("\r", "")
            << 2 << "";
        QTest::newRow("last row half written") << true << kHeader + rows(1, 3) + "4.500000, 4, 21.5" << 3
                                               << "the last row (line 5) was cut short";
        QTest::newRow("last row whole but its line end missing")
            << true << kHeader + rows(1, 2) + row(3).left(row(3).size() - 2) << 2 << "line 4) was cut short";
        QTest::newRow("missing and non-numeric fields")
            << true << kHeader + row(1) + "3.000000, 2, 21.5, 101.3, 45.0, 1\r\n" + row(3) +
                   "4.500000, x, 21.5, 101.3, 45.0, 1, 3.0\r\n" + "6.000000, 4, 21.5, 101.3, 45.0, 1, 3.0, 7\r\n" +
                   row(6)
            << 3 << "skipped 3 rows (lines 3, 5, 6: missing or non-numeric fields)";
        QTest::newRow("time not a number") << true << kHeader + "nan, 1, 21.5, 101.3, 45.0, 1, 3.0\r\n" + row(2) << 1
                                           << "skipped 1 row (line 2";
        QTest::newRow("sensor values nan and inf")
            << true << kHeader + "1.000000, 1, nan, -nan(ind), inf, 1, -inf\r\n" << 1 << "";
        QTest::newRow("many bad rows listed in part")
            << true << kHeader + QByteArray("garbage\r\n").repeated(30) + row(1) << 1 << "skipped 30 rows (lines 2, 3,";
        QTest::newRow("unknown header") << true << "Zeit, Zyklus, T, P, RH, Gas, Konz\r\n" + rows(1, 2) << 2
                                        << "header not recognised (\"Zeit, Zyklus";
        QTest::newRow("no header") << true << rows(1, 4) << 4 << "";
        QTest::newRow("saved again with a byte-order mark") << true << "\xEF\xBB\xBF" + kHeader + rows(1, 2) << 2 << "";
        QTest::newRow("empty file") << true << QByteArray() << 0 << "vqsData.csv is empty";
        QTest::newRow("header only") << true << kHeader << 0 << "has no rows (the run recorded no cycle)";
        QTest::newRow("binary garbage") << true << QByteArray("\x00\xff\x13,,,\n\x01\x02", 9) << 0
                                        << "has no readable row";
        QTest::newRow("no table at all") << false << QByteArray() << 0 << "no vqsData.csv, not a run directory";
    }

    void damagedTables() {
        QFETCH(bool, hasTable);
        QFETCH(QByteArray, csv);
        QFETCH(int, rows);
        QFETCH(QString, said);
        QTemporaryDir dir;
        if (hasTable)
            writeFile(dir.filePath("vqsData.csv"), csv);
        const Run run = readRun(dir.path());

        QCOMPARE(int(run.table.rows()), rows);
        QCOMPARE(run.nothingToShow.isEmpty(), rows > 0);
        const QString told = run.problems.join('\n') + run.nothingToShow;
        if (said.isEmpty())
            QVERIFY2(told.isEmpty(), qPrintable(told));
        else
            QVERIFY2(told.contains(said), qPrintable(told));
        QVERIFY(!told.contains('\n'));  // one line

        // Every column holds every row, and any split of the file into chunks reads the same.
        for (size_t n : {run.table.cycle.size(), run.table.temperature.size(), run.table.pressure.size(),
                         run.table.humidity.size(), run.table.gasId.size(), run.table.concentration.size()})
            QCOMPARE(n, run.table.rows());
        RunTableParser bytewise;
        for (char c : csv)
            bytewise.feed(&c, 1);
        bytewise.finish();
        QCOMPARE(bytewise.table.seconds, run.table.seconds);
        QCOMPARE(bytewise.table.skippedLines, run.table.skippedLines);
        QCOMPARE(bytewise.table.cutShortLine, run.table.cutShortLine);

        if (QByteArray(QTest::currentDataTag()) == "whole run") {
            QCOMPARE(run.table.unit, RunTable::UnitLel);
            QCOMPARE(run.table.concHeader(), QStringLiteral("Conc [%LEL]"));
            QCOMPARE(run.table.seconds[2], 4.5);
            QCOMPARE(run.table.cycle[2], 3);
            QCOMPARE(run.table.temperature[2], 21.5f);
            QCOMPARE(run.table.pressure[2], 101.325f);
            QCOMPARE(run.table.gasId[2], 1u);
            QCOMPARE(run.table.concentration[2], 30.75f);
        }
        if (QByteArray(QTest::currentDataTag()) == "ppm table, LF line ends")
            QCOMPARE(run.table.unit, RunTable::UnitPpm);
        if (QByteArray(QTest::currentDataTag()) == "sensor values nan and inf") {
            QVERIFY(std::isnan(run.table.temperature[0]) && std::isnan(run.table.pressure[0]));
            QVERIFY(std::isinf(run.table.humidity[0]) && run.table.concentration[0] < 0);
        }
    }

    // Numbers as printf's %f writes them read back to the same double strtod gives.
    void decimalsReadExactly() {
        const char* const texts[] = {"0.000000", "-12.345678", "101.325000", "86399.999999", "+7", "3.", ".5",
                                     "123456789012345678901234.5", "1e3", "0.30000000000000004"};
        for (const char* text : texts) {
            double value = 0;
            QVERIFY2(parseDecimal(text, text + std::strlen(text), &value), text);
            QCOMPARE(value, std::strtod(text, nullptr));
        }
        for (const char* text : {"", "-", ".", "1.2.3", "12a", "0x10", "nanx", "1,5"}) {
            double value = 0;
            QVERIFY2(!parseDecimal(text, text + std::strlen(text), &value), text);
        }
        int32_t i = 0;
        const char* least = "-2147483648";
        QVERIFY(parseInt32(least, least + std::strlen(least), &i) && i == INT32_MIN);
        const char* big = "2147483648";
        QVERIFY(!parseInt32(big, big + std::strlen(big), &i));
        uint32_t u = 0;
        const char* max = "4294967295";
        QVERIFY(parseUint32(max, max + std::strlen(max), &u) && u == 4294967295u);
        const char* negative = "-1";
        QVERIFY(!parseUint32(negative, negative + 2, &u));
    }

    // A saved run: name and test name from the directory and the notes, the
    // run's start and its events from the time log.
    void savedRunDirectory() {
        QTemporaryDir parent;
        const QString path = parent.filePath("2024_03_15-150000 S1_T7");
        QVERIFY(QDir().mkdir(path));
        writeFile(path + "/vqsData.csv", kHeader + rows(1, 2));
        writeFile(path + "/testNotes.txt",
                  "Test Name: T7\r\nAnalyte(s) Description: methane\r\nEnviro Description: lab\r\n"
                  "Additional Notes: first line\r\nsecond 100%\r\n");
        writeFile(path + "/timelog.txt",
                  "2024_03_15 - 14_25_30: Started\r\n"
                  "2024_03_15 - 14_26_00: Cycle 20: Connection Re-established (2 retries).\r\n"
                  "not a time-log line\r\n"
                  "2024_03_15 - 14_27_30: Cycle 80: Re-connection failed - giving up after 10 retries!\r\n"
                  "2024_03_15 - 14_27_31: Stopped\r\n"
                  "2024_03_15 - 15_00_00: Data saved\r\n");
        const Run run = readRun(path);
        QCOMPARE(run.sensorName, QStringLiteral("S1"));
        QCOMPARE(run.testName, QStringLiteral("T7"));
        QVERIFY(run.notes.contains("second 100%"));
        QCOMPARE(run.started, QDateTime(QDate(2024, 3, 15), QTime(14, 25, 30)));
        QCOMPARE(run.title(), QStringLiteral("S1 2024-03-15 14:25:30"));
        QCOMPARE(run.events.size(), 5);
        const RunEvent::Kind kinds[] = {RunEvent::Started, RunEvent::ConnectionBack, RunEvent::ConnectionLost,
                                        RunEvent::Stopped, RunEvent::Saved};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(run.events[i].kind, kinds[i]);
        QCOMPARE(run.secondsOf(run.events[1]), 30.0);
        QCOMPARE(run.secondsOf(run.events[3]), 121.0);
        QCOMPARE(run.problems, QStringList{"timelog.txt: skipped 1 line without a time stamp"});

        // Notes that held a letter beyond Latin-1 were saved as UTF-8 behind a byte-order mark.
        writeFile(path + "/testNotes.txt", "\xEF\xBB\xBF" "Test Name: T7\r\nAdditional Notes: \xC5\x81\xC3\xB3"
                                           "d\xC5\xBA \xE6\x9D\x8E\r\n");
        QCOMPARE(readRun(path).notes,
                 QString::fromUtf8("Test Name: T7\nAdditional Notes: \u0141\u00f3d\u017a \u674e\n"));
        QCOMPARE(readRun(path).testName, QStringLiteral("T7"));

        // Without a time log the directory's stamp stands for the start.
        QVERIFY(QFile::remove(path + "/timelog.txt"));
        QCOMPARE(readRun(path).started, QDateTime(QDate(2024, 3, 15), QTime(15, 0, 0)));
        QVERIFY(readRun(parent.filePath("nothing here")).nothingToShow.contains("no such directory"));
    }
};

QTEST_GUILESS_MAIN(TestRunReader)
#include "test_runreader.moc"
