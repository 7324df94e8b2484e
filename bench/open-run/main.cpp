// bench_open_run: writes runs of 86,400 rows (a day at one cycle a second) and
// 1,000,000 rows in the recorder's customer-table format, then for each, in a
// fresh process so the memory figures are its own: the time to read the files
// alone, the time to open the run in the main window's viewer until both
// plots are drawn, and the peak resident memory.
//
// Run with QT_QPA_PLATFORM=offscreen. Optional arguments: row counts.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "lumocustomplot.h"
#include "mainwindow.h"
#include "runfiles.h"
#include "runreader.h"
#include "runviewtab.h"

namespace {

// Resident memory figures of this process, in MiB ("VmHWM" = peak, "VmRSS" = now).
double statusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// The customer table and time log as the recorder writes them (its formats),
// with a sensor-like waveform.
void writeRun(const QString& dir, long rows) {
    QDir().mkpath(dir);
    FILE* csv = openFile(dir + "/vqsData.csv", "wb");
    textPrintf(csv, "Time [s], Cycle , T [C], P [kPa], RH [%%], Gas ID , Conc [%%LEL]\n");
    for (long n = 0; n < rows; ++n) {
        const long phase = n % 60;
        const float conc = phase < 20 ? 0.0f : phase < 40 ? 2.5f * float(phase - 20) : 50.0f - 2.5f * float(phase - 40);
        textPrintf(csv, "%f, %d, ", double(n) + 0.000123, int(n));
        textPrintf(csv, "%f, %f, %f, ", double(25.0f + 0.1f * float(n % 50)), double(101.3f + 0.01f * float(n % 10)),
                   double(40.0f + float(n % 20)));
        textPrintf(csv, "%u, %f", 1u, double(conc));
        textPrintf(csv, "\n");
    }
    std::fclose(csv);
    FILE* log = openFile(dir + "/timelog.txt", "wb");
    textPrintf(log, "2024_03_15 - 00_00_00: Started\n2024_03_16 - 00_00_00: Stopped\n");
    std::fclose(log);
}

int measure(const QString& dir) {
    int argc = 1;
    char name[] = "bench_open_run";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    const double baseline = statusMiB("VmRSS:");

    QElapsedTimer timer;
    timer.start();
    size_t rows = 0;
    {
        const Run run = readRun(dir);
        rows = run.table.rows();
    }
    const double readMs = double(timer.nsecsElapsed()) / 1e6;
    const double readPeak = statusMiB("VmHWM:");

    MainWindow window;
    window.resize(1200, 860);
    window.show();
    QCoreApplication::processEvents();

    timer.restart();
    RunViewTab* viewer = window.openRun(dir);
    if (!viewer)
        return 1;
    // Drawn: each plot has replotted with the run and painted that on screen.
    bool drawn[2] = {false, false};
    const QMetaObject::Connection connections[2] = {
        QObject::connect(viewer->concPlot(), &QCustomPlot::afterReplot, [&drawn] { drawn[0] = true; }),
        QObject::connect(viewer->enviroPlot(), &QCustomPlot::afterReplot, [&drawn] { drawn[1] = true; })};
    while (!drawn[0] || !drawn[1])
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (const QMetaObject::Connection& connection : connections)
        QObject::disconnect(connection);
    QCoreApplication::processEvents();
    const double openMs = double(timer.nsecsElapsed()) / 1e6;

    std::printf("%zu rows: read %.0f ms (peak %.0f MiB), open in viewer %.0f ms, peak resident %.0f MiB "
                "(%.0f MiB before reading)\n",
                rows, readMs, readPeak, openMs, statusMiB("VmHWM:"), baseline);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "--measure")
        return measure(QString::fromLocal8Bit(argv[2]));

    QCoreApplication app(argc, argv);
    QList<long> sizes{86400, 1000000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i)
            sizes << QByteArray(argv[i]).toLong();
    }
    QTemporaryDir work;
    int failed = 0;
    for (long rows : sizes) {
        const QString dir = work.filePath(QStringLiteral("2024_03_15-000000 BENCH-%1").arg(rows));
        writeRun(dir, rows);
        std::printf("file of %ld rows: %.1f MiB\n", rows, double(QFileInfo(dir + "/vqsData.csv").size()) / 1048576.0);
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), dir});
        if (!child.waitForFinished(600000) || child.exitCode() != 0) {
            std::printf("%ld rows: failed\n", rows);
            ++failed;
        }
        QDir(dir).removeRecursively();
    }
    return failed ? 1 : 0;
}
