// vqs-ctl plot: saved runs drawn into a picture without a window. Checked by
// the curve colours in the plot area, not by a golden image.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include "program_result.h"

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// A run whose concentration rises from 0 to `peak` over two minutes.
QString writeRun(const QString& parent, const QString& name, double peak) {
    const QString path = parent + '/' + name;
    QDir().mkdir(path);
    QByteArray csv = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [%LEL]\r\n";
    for (int n = 0; n <= 120; ++n)
        csv += QByteArray::number(n, 'f', 6) + ", " + QByteArray::number(n) + ", " +
               QByteArray::number(20 + n * 0.05, 'f', 6) + ", 101.300000, " + QByteArray::number(40 + n * 0.1, 'f', 6) +
               ", 1, " + QByteArray::number(n * peak / 120, 'f', 6) + "\r\n";
    csv += "121.000000, 121, 21.0";  // the program stopped while writing this one
    writeFile(path + "/vqsData.csv", csv);
    writeFile(path + "/timelog.txt",
              "2024_03_15 - 14_25_30: Started\r\n"
              "2024_03_15 - 14_26_30: Cycle 60: Connection Re-established (1 retries).\r\n"
              "2024_03_15 - 14_27_31: Stopped\r\n");
    return path;
}

// Pixels of `colour` over the white background inside the rectangle, also
// where antialiasing blends a thin curve with white: every channel must show
// the same share of the colour, and at least 40 % of it.
int pixelsOf(const QImage& image, const QColor& colour, const QRect& area) {
    const int target[3] = {colour.red(), colour.green(), colour.blue()};
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int pixel[3] = {c.red(), c.green(), c.blue()};
            double low = 2, high = -1;
            for (int i = 0; i < 3; ++i) {
                const double share = double(255 - pixel[i]) / double(255 - target[i]);
                low = qMin(low, share);
                high = qMax(high, share);
            }
            if (low > 0.4 && high - low < 0.2)
                ++count;
        }
    return count;
}

ProgramResult ctl(const QStringList& args) {
    return runProgram(QStringLiteral(VQS_CTL_PATH), args, 60000);
}

}  // namespace

class TestCtlPlot : public QObject {
    Q_OBJECT

private slots:
    void oneRunStackedAndRunsCompared() {
        QTemporaryDir dir;
        const QString first = writeRun(dir.path(), "2024_03_15-142530 S1", 100);
        const QString second = writeRun(dir.path(), "2024_03_15-150000 S2", 50);

        // One run: concentration above environment, 1200 x 480 each.
        const QString png = dir.filePath("one.png");
        ProgramResult r = ctl({"plot", first, "--out", png});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY2(r.err.contains("the last row (line 123) was cut short"), qPrintable(r.err));
        QVERIFY(r.out.contains("S1 2024-03-15 14:25:30: 121 rows"));
        QImage image(png);
        QCOMPARE(image.size(), QSize(1200, 960));
        // Inside the plot areas, away from the axes and tick labels.
        const QRect concArea(100, 40, 1000, 380);
        const QRect enviroArea(100, 480 + 40, 1000, 380);
        QVERIFY(pixelsOf(image, QColor("#CC483D"), concArea) > 200);
        QVERIFY(pixelsOf(image, QColor("#1FB8A1"), enviroArea) > 200);  // humidity
        QCOMPARE(pixelsOf(image, QColor("#1FB8A1"), concArea), 0);
        QVERIFY(pixelsOf(image, QColor("#26A65B"), concArea) > 50);     // the connection's return at 60 s

        // Two runs: one concentration plot, a curve each, as a PDF and a PNG.
        const QString compared = dir.filePath("compared.png");
        r = ctl({"plot", first, second, "--out", compared, "--json"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QJsonArray runs = r.json().value("runs").toArray();
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[1].toObject().value("sensor").toString(), QStringLiteral("S2"));
        QCOMPARE(runs[1].toObject().value("rows").toInt(), 121);
        QCOMPARE(runs[1].toObject().value("skipped").toInt(), 1);
        image = QImage(compared);
        QCOMPARE(image.size(), QSize(1200, 480));
        QVERIFY(pixelsOf(image, QColor("#CC483D"), concArea) > 200);
        QVERIFY(pixelsOf(image, QColor("#356797"), concArea) > 200);
        r = ctl({"plot", first, second, "--out", dir.filePath("compared.pdf")});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(readPdfHeader(dir.filePath("compared.pdf")));
    }

    void unusableInput() {
        QTemporaryDir dir;
        const QString run = writeRun(dir.path(), "2024_03_15-142530 S1", 100);
        QDir().mkdir(dir.filePath("empty"));
        struct Case {
            QStringList args;
            const char* problem;
            const char* said;
        };
        const Case cases[] = {
            {{"plot", dir.filePath("empty"), "--out", dir.filePath("x.png")}, "no-data", "no vqsData.csv"},
            {{"plot", dir.filePath("missing"), "--out", dir.filePath("x.png")}, "no-data", "no such directory"},
            {{"plot", run}, "usage", "needs --out"},
            {{"plot", run, "--out", dir.filePath("x.jpg")}, "usage", "a .png or a .pdf"},
            {{"plot", "--out", dir.filePath("x.png")}, "usage", "missing operand"},
            {{"plot", run, "--out", dir.filePath("no/such/dir/x.png")}, "write-failed", "could not be written"},
        };
        for (const Case& c : cases) {
            const ProgramResult r = ctl(c.args + QStringList{"--json"});
            QCOMPARE(r.code, 2);
            QCOMPARE(r.json().value("problem").toString(), QString(c.problem));
            QVERIFY2(r.err.contains(c.said), qPrintable(r.err));
        }
        QVERIFY(!QFile::exists(dir.filePath("x.png")));
    }

private:
    static bool readPdfHeader(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-";
    }
};

QTEST_GUILESS_MAIN(TestCtlPlot)
#include "test_ctl_plot.moc"
