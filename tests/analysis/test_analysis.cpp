// The analysis core: response times of first-order steps (clean and noisy,
// jittered sample times), steps that cannot have one, gas marks through a time
// log, statistics against a long-double reference, the drift's confidence
// interval, response times found as a run records, and a simulated step recorded and analysed by the command-line tools.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <cmath>
#include <random>

#include "analysisreport.h"
#include "gasmarks.h"
#include "liveresponse.h"
#include "response.h"
#include "stats.h"
#include "studentt.h"

namespace {

GasMark mark(GasMark::Kind kind, double seconds, const QString& text = QString()) {
    GasMark m;
    m.kind = kind;
    m.seconds = seconds;
    m.exactTime = true;
    m.text = kind == GasMark::GasOn ? QStringLiteral("Gas on") : kind == GasMark::GasOff ? QStringLiteral("Gas off") : text;
    return m;
}

// A first-order sensor (time constant tau) seeing the gas go from 0 to `level` at
// `on` and back to 0 at `off`, sampled about once a second as a real run is.
struct Steps {
    std::vector<double> t;
    std::vector<float> v;
};
Steps firstOrder(double tau, double on, double off, double end, double level, double noise, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-0.2, 0.2);
    std::normal_distribution<double> gauss(0.0, noise * level);
    Steps s;
    for (double x = 0; x < end; x += 1.0 + jitter(rng)) {
        double r = 0;
        if (x >= on)
            r = level * -std::expm1(-(std::min(x, off) - on) / tau);
        if (x >= off)
            r *= std::exp(-(x - off) / tau);
        s.t.push_back(x);
        s.v.push_back(float(r + gauss(rng)));
    }
    return s;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

class TestAnalysis : public QObject {
    Q_OBJECT

private slots:
    void responseTimesOfFirstOrderSteps() {
        const double ln2 = std::log(2.0), ln10 = std::log(10.0);
        for (double noise : {0.0, 0.01}) {
            const double cycles = noise > 0 ? 2.0 : 1.0;
            for (double tau : {5.0, 10.0, 20.0}) {
                const double on = 30.4, off = on + 15 * tau, end = off + 15 * tau;
                const Steps s = firstOrder(tau, on, off, end, 50.0, noise, unsigned(tau * 7 + noise * 1000));
                // A note between the marks is no step and ends none.
                const QList<StepResponse> steps = analyseSteps(
                    s.t, s.v,
                    {mark(GasMark::GasOff, off), mark(GasMark::Note, on + tau, "flow 0.5 l/min"), mark(GasMark::GasOn, on)});
                const QString what = QStringLiteral("tau %1, noise %2").arg(tau).arg(noise);
                QVERIFY2(steps.size() == 2 && steps[0].ok() && steps[1].ok(), qPrintable(what));
                QCOMPARE(steps[0].kind, StepResponse::Rise);
                QCOMPARE(steps[1].kind, StepResponse::Fall);
                QVERIFY2(std::fabs(steps[0].settled - 50.0) < 0.5 && std::fabs(steps[1].settled) < 0.5, qPrintable(what));
                const double t50 = steps[0].times[0].seconds, t90 = steps[0].times[1].seconds;
                const double t10 = steps[1].times[0].seconds;
                QVERIFY2(std::fabs(t50 - ln2 * tau) <= cycles, qPrintable(what + QStringLiteral(": t50 %1").arg(t50)));
                QVERIFY2(std::fabs(t90 - ln10 * tau) <= cycles, qPrintable(what + QStringLiteral(": t90 %1").arg(t90)));
                QVERIFY2(std::fabs(t10 - ln10 * tau) <= cycles, qPrintable(what + QStringLiteral(": t10 %1").arg(t10)));
            }
        }
        // The readings' order in the table does not matter, nor do rows that are no number.
        Steps s = firstOrder(5.0, 20.0, 120.0, 200.0, 50.0, 0.0, 1);
        const QList<StepResponse> sorted = analyseSteps(s.t, s.v, {mark(GasMark::GasOn, 20.0)});
        std::reverse(s.t.begin(), s.t.end());
        std::reverse(s.v.begin(), s.v.end());
        s.t.push_back(60.5);
        s.v.push_back(std::numeric_limits<float>::quiet_NaN());
        const QList<StepResponse> shuffled = analyseSteps(s.t, s.v, {mark(GasMark::GasOn, 20.0)});
        QCOMPARE(shuffled[0].times[1].seconds, sorted[0].times[1].seconds);
    }

    void stepsWithoutAResponseTimeSayWhy() {
        // tau 20 s: 30 s of gas never settles before "Gas off", nor 40 s after it before the end.
        const Steps s = firstOrder(20.0, 30.0, 60.0, 100.0, 50.0, 0.0, 2);
        QList<StepResponse> steps =
            analyseSteps(s.t, s.v, {mark(GasMark::GasOn, 30.0), mark(GasMark::GasOff, 60.0)});
        QCOMPARE(steps.size(), 2);
        for (const StepResponse& step : steps) {
            QCOMPARE(step.problem, StepResponse::NotSettled);
            for (const ResponseTime& time : step.times)
                QVERIFY(std::isnan(time.seconds));
        }
        QVERIFY2(steps[0].reason.startsWith("not settled before the next mark at 60.000 s"), qPrintable(steps[0].reason));
        QVERIFY2(steps[1].reason.startsWith("not settled before the run's end"), qPrintable(steps[1].reason));
        // A step shorter than the hold time is judged on its own readings, not on the plateau before it.
        const Steps quick = firstOrder(5.0, 20.0, 120.0, 200.0, 50.0, 0.0, 4);
        steps = analyseSteps(quick.t, quick.v, {mark(GasMark::GasOn, 20.0), mark(GasMark::GasOff, 120.0), mark(GasMark::GasOn, 128.0)});
        QCOMPARE(steps[1].problem, StepResponse::NotSettled);

        // A mark before the first reading, one the reading never answered, one with nothing after it.
        const Steps flat = firstOrder(5.0, 1e9, 1e9, 100.0, 50.0, 0.0, 3);
        steps = analyseSteps(flat.t, flat.v,
                             {mark(GasMark::GasOn, -5.0), mark(GasMark::GasOn, 20.0), mark(GasMark::GasOff, 99.9)});
        QCOMPARE(steps[0].problem, StepResponse::NoBaseline);
        QCOMPARE(steps[1].problem, StepResponse::NoChange);
        QCOMPARE(steps[2].problem, StepResponse::NoReadings);

        // Both forms say it: the text line and the JSON document (null times, the problem's name).
        const QString text = responseText(steps, "%LEL");
        QVERIFY(text.contains("Gas on at 20.000 s (cycle 0): rise: no response time, the reading did not move"));
        const QJsonObject doc = QJsonDocument::fromJson(responseJson(steps, "run", "%LEL")).object();
        const QJsonObject first = doc["steps"].toArray()[1].toObject();
        QCOMPARE(first["problem"].toString(), QStringLiteral("no-change"));
        QVERIFY(first["t90"].isNull() && first["t50"].isNull());
        QCOMPARE(first["settings"].toObject()["holdSeconds"].toDouble(), 20.0);
    }

    // Fed reading by reading, with marks as they are pressed (one reading taken
    // before a press arrives after it), the run's steps end as the analysis of
    // the whole run gives them; a long open step is analysed ever more rarely.
    void liveResponseEndsAsTheWholeRunAnalysis() {
        Steps s = firstOrder(4.0, 30.4, 150.0, 3400.0, 50.0, 0.01, 11);
        // No reading in the 10 s before "Gas on" (the last one before them stands for the baseline), one no number.
        for (size_t i = s.t.size(); i-- > 0;)
            if (s.t[i] >= 20.4 && s.t[i] < 30.4) {
                s.t.erase(s.t.begin() + long(i));
                s.v.erase(s.v.begin() + long(i));
            }
        s.v[60] = std::numeric_limits<float>::quiet_NaN();
        // Gas on twice (the first before any reading), a note, gas off.
        const QList<GasMark> marks = {mark(GasMark::GasOn, -3.0), mark(GasMark::GasOn, 30.4),
                                      mark(GasMark::Note, 60.0, "flow"), mark(GasMark::GasOff, 150.0)};
        LiveResponse live;
        int next = 0, analyses = 0, openSteps = 0;
        QString pending;
        for (size_t i = 0; i < s.t.size(); ++i) {
            const bool late = next < marks.size() && marks[next].seconds == 150.0 && s.t[i] > 150.0;
            while (next < marks.size() && marks[next].seconds <= s.t[i] && !late)
                live.addMark(marks[next++]);
            if (late) {
                live.addMark(marks[next++]);
                live.update();
                live.addReading(s.t[i - 1] + 0.01, s.v[i - 1]);  // taken before the press, handed on after
                s.t.insert(s.t.begin() + long(i), s.t[i - 1] + 0.01);
                s.v.insert(s.v.begin() + long(i), s.v[i - 1]);
                continue;
            }
            live.addReading(s.t[i], s.v[i]);
            if (live.update()) {
                ++analyses;
                openSteps += s.t[i] > 200.0;
            }
            if (i == 160)
                pending = live.summary(live.steps().size() - 1);
        }
        QCOMPARE(pending, QStringLiteral("Gas off at 150.0 s: settling"));
        live.finish();
        QVERIFY(live.update());
        const QList<StepResponse> whole = analyseSteps(s.t, s.v, marks);
        QCOMPARE(live.steps().size(), whole.size());
        for (int i = 0; i < whole.size(); ++i) {
            const StepResponse &a = live.steps()[i], &b = whole[i];
            QCOMPARE(a.problem, b.problem);
            QCOMPARE(a.reason, b.reason);
            QCOMPARE(a.endsAtMark, b.endsAtMark);
            for (int k = 0; k < b.times.size(); ++k)
                QVERIFY(a.times[k].seconds == b.times[k].seconds || (std::isnan(a.times[k].seconds) && std::isnan(b.times[k].seconds)));
        }
        QCOMPARE(live.summary(0), QStringLiteral("Gas on at -3.0 s: no reading before the mark"));
        QVERIFY2(QRegularExpression("^Gas on at 30.4 s: t50 \\d+\\.\\d s, t90 \\d+\\.\\d s$").match(live.summary(1)).hasMatch(),
                 qPrintable(live.summary(1)));
        QVERIFY(whole[2].ok());
        // 3200 readings of the open "Gas off" step after 200 s: a few hundred analyses, not one per reading.
        QVERIFY2(openSteps < 500, qPrintable(QString::number(openSteps)));
        QVERIFY(analyses > 100);
    }

    void gasMarksRoundTripThroughTheTimeLog() {
        QLocale::setDefault(QLocale(QLocale::German));  // a decimal comma must not leak into the log
        QCOMPARE(gasMarkEvent(GasMark::GasOn, 41, 40.5124), QStringLiteral("Cycle 41: Gas on (40.512 s)"));
        QLocale::setDefault(QLocale::c());
        QTemporaryDir dir;
        QByteArray table = "Time [s], Cycle , T [C], P [kPa], RH [%], Gas ID , Conc [%LEL]\r\n";
        for (int i = 1; i <= 60; ++i)
            table += QByteArray::number(i) + ".000000, " + QByteArray::number(i) + ", 25.0, 101.3, 40.0, 0, 0.0\r\n";
        const QStringList events = {
            "Started",
            "Cycle 3: Connection Re-established (0 retries).",
            "Cycle 4: Sensor restarted (sample 2 after 5).",
            gasMarkEvent(GasMark::Note, 20, 20.25, "valve\r\nopened (slowly)"),
            gasMarkEvent(GasMark::GasOff, 30, 30.5),
            gasMarkEvent(GasMark::GasOn, 10, 10.125),
            "Cycle 40: Gas on",  // written by hand: placed at row 40
            "Cycle 45: just words",
            "Stopped"};
        QByteArray log;
        for (int i = 0; i < events.size(); ++i)
            log += "2024_03_15 - 14_25_" + QByteArray::number(10 + i) + ": " + events[i].toLatin1() + "\r\n";
        QVERIFY(writeFile(dir.filePath("vqsData.csv"), table) && writeFile(dir.filePath("timelog.txt"), log));
        const QList<GasMark> marks = gasMarksOf(readRun(dir.path()));
        QCOMPARE(marks.size(), 4);
        QCOMPARE(marks[0].kind, GasMark::GasOn);
        QCOMPARE(marks[0].seconds, 10.125);
        QCOMPARE(marks[0].cycle, 10);
        QCOMPARE(marks[1].kind, GasMark::Note);
        QCOMPARE(marks[1].text, QStringLiteral("valve opened (slowly)"));
        QCOMPARE(marks[2].kind, GasMark::GasOff);
        QCOMPARE(marks[2].seconds, 30.5);
        QCOMPARE(marks[3].seconds, 40.0);
        QVERIFY(!marks[3].exactTime);
    }

    void statisticsMatchATwoPassReference() {
        // Times and readings far from zero, as in a long PPM run: naive sums would lose digits.
        std::mt19937 rng(7);
        std::normal_distribution<double> noise(0.0, 3.0);
        std::vector<double> t;
        std::vector<float> v;
        for (int i = 0; i < 200000; ++i) {
            t.push_back(1.0e6 + i * 1.0 + (i % 7) * 0.01);
            v.push_back(float(22000.0 + 2.0e-4 * i + noise(rng)));
        }
        v[1000] = std::numeric_limits<float>::quiet_NaN();
        const double from = t[5000], to = t[150000];
        long double st = 0, sv = 0;
        size_t n = 0;
        double lo = 1e300, hi = -1e300;
        for (size_t i = 5000; i <= 150000; ++i) {
            st += t[i];
            sv += v[i];
            lo = std::min(lo, double(v[i]));
            hi = std::max(hi, double(v[i]));
            ++n;
        }
        const long double mt = st / n, mv = sv / n;
        long double stt = 0, svv = 0, stv = 0;
        for (size_t i = 5000; i <= 150000; ++i) {
            stt += (t[i] - mt) * (t[i] - mt);
            svv += (v[i] - mv) * (v[i] - mv);
            stv += (t[i] - mt) * (v[i] - mv);
        }
        const long double slope = stv / stt;
        const long double se = std::sqrt((svv - slope * stv) / (n - 2) / stt);
        // t(0.975, n - 2) for this many readings, from the normal quantile by Cornish and Fisher's series.
        const long double z = 1.9599639845400542L, df = n - 2;
        const long double tq = z + (z * z * z + z) / (4 * df) + (5 * std::pow(z, 5) + 16 * z * z * z + 3 * z) / (96 * df * df);
        auto near = [](double a, long double b) { return std::fabs(a - double(b)) <= 1e-9 * std::fabs(double(b)); };
        for (bool sorted : {true, false}) {
            const IntervalStats s = statsBetween(t, v, to, from, sorted);  // bounds in either order
            QCOMPARE(s.n, n);
            QVERIFY(near(s.mean, mv));
            QVERIFY(near(s.sd, std::sqrt(svv / (n - 1))));
            QCOMPARE(s.min, lo);
            QCOMPARE(s.max, hi);
            QCOMPARE(s.peakToPeak, hi - lo);
            QVERIFY(near(s.driftPerHour, slope * 3600));
            QVERIFY(near(s.driftHigh - s.driftPerHour, tq * se * 3600));
        }
        const IntervalStats withNan = statsBetween(t, v, t[0], t[2000]);
        QCOMPARE(withNan.n, size_t(2000));
        QCOMPARE(withNan.skipped, size_t(1));
    }

    void driftIntervalUsesStudentT() {
        struct Known {
            double df, t;
        };
        for (const Known& k : {Known{1, 12.7062047361747}, Known{10, 2.228138851986}, Known{100, 1.983971518523}}) {
            QVERIFY2(std::fabs(studentTQuantile(0.975, k.df) - k.t) < 1e-11 * k.t, qPrintable(QString::number(k.df)));
            QVERIFY(std::fabs(studentTQuantile(0.025, k.df) + k.t) < 1e-11 * k.t);
            QVERIFY(std::fabs(studentTCdf(k.t, k.df) - 0.975) < 1e-13);
        }
        // Twelve hourly readings on the line 2 x (units per hour) with residuals
        // +1 -1 -1 +1 ...: the fit is exactly 2 per hour, s^2 = 12 / 10, Sxx = 143 h^2.
        std::vector<double> t;
        std::vector<float> v;
        const int residual[4] = {1, -1, -1, 1};
        for (int x = 0; x < 12; ++x) {
            t.push_back(x * 3600.0);
            v.push_back(float(2 * x + residual[x % 4]));
        }
        const IntervalStats s = statsBetween(t, v, 0, 1e9);
        QVERIFY(std::fabs(s.driftPerHour - 2.0) < 1e-12);
        const double half = 2.228138851986 * std::sqrt(1.2 / 143.0);
        QVERIFY(std::fabs(s.driftLow - (2.0 - half)) < 1e-11 && std::fabs(s.driftHigh - (2.0 + half)) < 1e-11);
        // Too few readings for an interval, or for a slope at all.
        QVERIFY(std::isnan(statsBetween(t, v, 0, 3600).driftLow));
        QVERIFY(std::isnan(statsBetween(t, v, 0, 0).driftPerHour) && std::isnan(statsBetween(t, v, 0, 0).sd));
    }

    void simulatedStepRecordedAndAnalysed();
};

// vqs-sim answers a gas step (at 12 s on its sample clock) as a first-order sensor with
// tau = 2 s; vqs-ctl records it, the test logs the mark at the step's time, and
// vqs-ctl analyse finds t90 = 2.303 tau within one recording cycle.
void TestAnalysis::simulatedStepRecordedAndAnalysed() {
    const QString sim = QStringLiteral(VQS_BINARY_DIR "/bin/vqs-sim"), ctl = QStringLiteral(VQS_BINARY_DIR "/bin/vqs-ctl");
    if (!QFileInfo::exists(sim) || !QFileInfo::exists(ctl))
        QSKIP("vqs-sim or vqs-ctl is not built");
    // A profile that is no profile is refused, and so is a time constant without one.
    for (const QStringList& bad : {QStringList{"--gas-profile", "0:0,5"}, QStringList{"--gas-profile", "9:1,3:0"},
                                   QStringList{"--tau", "3"}, QStringList{"--gas-profile", "0:0", "--tau", "-1"}}) {
        QProcess p;
        p.start(sim, bad);
        QVERIFY(p.waitForFinished(30000));
        QVERIFY2(p.exitCode() == 2, qPrintable(bad.join(' ')));
    }

    constexpr double kStep = 12.0, kPeriod = 0.25, kTau = 2.0;
    constexpr int kStepSample = int(kStep / kPeriod) + 1;  // sample n is taken at (n - 1) * period
    QTemporaryDir dir;
    QProcess device;
    device.start(sim, {"--uart", "--type", "5", "--fw", "3.2.0.0", "--sample-period", "250", "--gas-profile",
                       "0:0,12:50", "--tau", "2", "--link", dir.filePath("sensor")});
    QVERIFY(device.waitForReadyRead(30000));
    QProcess record;
    record.start(ctl, {"record", "--uart", dir.filePath("sensor"), "--dir", dir.filePath("runs")});
    QVERIFY(record.waitForStarted());

    // Rows as they come: until 16 s after the step (8 time constants).
    QString runDir;
    QList<QByteArrayList> rows;
    auto readRows = [&] {
        const QStringList dirs = QDir(dir.filePath("runs")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        runDir = dirs.isEmpty() ? QString() : dir.filePath("runs/" + dirs.first());
        rows.clear();
        for (const QByteArray& line : readAll(runDir + "/vqsData.csv").split('\n').mid(1))
            if (line.endsWith('\r'))
                rows.append(line.split(','));
        return !rows.isEmpty() && rows.last()[1].trimmed().toInt() >= kStepSample + int(16 / kPeriod);
    };
    QTRY_VERIFY_WITH_TIMEOUT(readRows() || record.state() == QProcess::NotRunning, 120000);
    record.terminate();
    QVERIFY(record.waitForFinished(30000));
    device.terminate();
    QVERIFY(device.waitForFinished(30000));
    QVERIFY2(readRows(), record.readAllStandardError().constData());

    // The mark at the step: the first row at or after it, less the samples it is late by.
    int at = 0;
    while (rows[at][1].trimmed().toInt() < kStepSample)
        ++at;
    QVERIFY2(at >= 2, "the recording began after the step");
    const double markTime = rows[at][0].toDouble() - (rows[at][1].trimmed().toInt() - kStepSample) * kPeriod;
    const double cycle = (rows.last()[0].toDouble() - rows[0][0].toDouble()) / (rows.size() - 1);
    QFile log(runDir + "/timelog.txt");
    QVERIFY(log.open(QIODevice::Append));
    log.write("2024_03_15 - 14_25_30: " + gasMarkEvent(GasMark::GasOn, at, markTime).toLatin1() + "\r\n");
    log.close();

    QProcess analyse;
    analyse.start(ctl, {"analyse", runDir, "--json", "--baseline", "3", "--window", "3", "--hold", "3", "--band", "0.02"});
    QVERIFY(analyse.waitForFinished(30000));
    QCOMPARE(analyse.exitCode(), 0);
    const QJsonObject doc = QJsonDocument::fromJson(analyse.readAllStandardOutput()).object();
    QCOMPARE(doc["unit"].toString(), QStringLiteral("PPM"));
    const QJsonObject step = doc["steps"].toArray().at(0).toObject();
    QVERIFY2(step["problem"].isNull(), qPrintable(step["reason"].toString()));
    QCOMPARE(step["kind"].toString(), QStringLiteral("rise"));
    QCOMPARE(step["markTime"].toDouble(), std::round(markTime * 1000) / 1000);
    QVERIFY(std::fabs(step["settled"].toDouble() - 50 * 440.0) < 50);
    const double t90 = step["t90"].toDouble();
    QVERIFY2(std::fabs(t90 - std::log(10.0) * kTau) <= cycle, qPrintable(QStringLiteral("t90 %1, cycle %2").arg(t90).arg(cycle)));
}

QTEST_GUILESS_MAIN(TestAnalysis)
#include "test_analysis.moc"
