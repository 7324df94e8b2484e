// The alarm monitor cycle by cycle (levels rising and falling with hysteresis,
// latching and acknowledge, fault status, cycles without an answer), the
// set-points kept per sensor name, and alarm events never read as notes.
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include "alarmmonitor.h"
#include "gasmarks.h"
#include "sample.h"

Q_DECLARE_METATYPE(AlarmSettings)

namespace {

using presentation::AlarmChange;
using presentation::AlarmKind;

AlarmLevel level(double value, bool rising, double hysteresis, bool latching = false) {
    AlarmLevel l;
    l.enabled = true;
    l.level = value;
    l.rising = rising;
    l.hysteresis = hysteresis;
    l.latching = latching;
    return l;
}

QString code(const AlarmEvent& e) {
    const char* kind = e.kind == AlarmKind::Low ? "L" : e.kind == AlarmKind::High ? "H" : "F";
    const char* change = e.change == AlarmChange::Raised ? "+" : e.change == AlarmChange::Cleared ? "-" : "a";
    return QLatin1String(change) + QLatin1String(kind);
}

// One step of a script: a recorded reading ("20.5"), an answered cycle with a
// status code and no reading change ("s32" hex), a cycle without an answer
// ("-"), a failed cycle's Sample ("x"), or the acknowledge button ("a").
QString step(AlarmMonitor& monitor, const QString& what, double* lastReading) {
    QList<AlarmEvent> events;
    if (what == QLatin1String("-")) {
        events = monitor.unanswered();
    } else if (what == QLatin1String("a")) {
        events = monitor.acknowledge();
    } else {
        Sample s;
        s.skip = Sample::Skip::None;
        s.answer.temperature = 25;
        s.answer.pressure = 101;
        if (what == QLatin1String("x"))
            s.skip = Sample::Skip::FailedCycle;
        else if (what.startsWith(QLatin1Char('s')))
            s.status = uint8_t(what.mid(1).toUInt(nullptr, 16));
        else
            *lastReading = what.toDouble();
        s.answer.concentration = float(*lastReading);
        events = monitor.sample(s);
    }
    QStringList codes;
    for (const AlarmEvent& e : events)
        codes << code(e);
    return codes.join(QLatin1Char(' '));
}

}  // namespace

class TestAlarms : public QObject {
    Q_OBJECT

private slots:
    void monitor_data() {
        QTest::addColumn<AlarmSettings>("settings");
        QTest::addColumn<QStringList>("steps");
        // What each step reports: "+H" raised, "-H" cleared, "aH" acknowledged.
        QTest::addColumn<QStringList>("expected");
        AlarmSettings none;
        none.faultEnabled = false;

        AlarmSettings rising = none;
        rising.high = level(20, true, 5);
        QTest::newRow("rising: fires on the crossing cycle, clears only below level - hysteresis")
            << rising << QStringList{"5", "19.9", "20", "30", "15.1", "15", "14.9", "19.9", "20"}
            << QStringList{"", "", "+H", "", "", "", "-H", "", "+H"};

        AlarmSettings falling = none;
        falling.low = level(10, false, 2);
        QTest::newRow("falling: fires at or below, clears only above level + hysteresis")
            << falling << QStringList{"15", "10.1", "10", "4", "11.9", "12", "12.1", "9"}
            << QStringList{"", "", "+L", "", "", "", "-L", "+L"};

        AlarmSettings zeroHysteresis = none;
        zeroHysteresis.high = level(20, true, 0);
        QTest::newRow("no hysteresis: clears on the first reading below the level")
            << zeroHysteresis << QStringList{"20", "20", "19.99"} << QStringList{"+H", "", "-H"};

        AlarmSettings latching = none;
        latching.high = level(20, true, 5, true);
        QTest::newRow("latching: held until acknowledged and back past the hysteresis")
            << latching
            << QStringList{"a", "25", "10", "10", "a", "a", "25", "a", "16", "14", "25"}
            << QStringList{"", "+H", "", "", "aH -H", "", "+H", "aH", "", "-H", "+H"};

        AlarmSettings both = none;
        both.low = level(10, true, 1);
        both.high = level(20, true, 1);
        QTest::newRow("two levels: each on its own crossing")
            << both << QStringList{"5", "12", "25", "15", "5"} << QStringList{"", "+L", "+H", "-H", "-L"};

        AlarmSettings fault = none;
        fault.faultEnabled = true;
        QTest::newRow("fault status: a code the sensor fails on, not start-up nor gas conditions")
            << fault << QStringList{"s26", "s28", "s31", "s32", "s32", "s30", "s25", "s0"}
            << QStringList{"", "", "", "+F", "", "-F", "+F", "-F"};
        QTest::newRow("three cycles without an answer; an answer starts the count again")
            << fault << QStringList{"-", "-", "s0", "-", "x", "-", "-", "-", "1", "-"}
            << QStringList{"", "", "", "", "", "", "+F", "", "-F", ""};

        AlarmSettings faultLatching = fault;
        faultLatching.faultLatching = true;
        QTest::newRow("latching fault: held after the sensor answers again until acknowledged")
            << faultLatching << QStringList{"-", "-", "-", "a", "-", "0", "s0", "s32", "s0", "a"}
            << QStringList{"", "", "+F", "aF", "", "-F", "", "+F", "", "aF -F"};
    }

    void monitor() {
        QFETCH(AlarmSettings, settings);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        AlarmMonitor monitor;
        QVERIFY(monitor.configure(settings, true).isEmpty());
        double reading = 0;
        for (int i = 0; i < steps.size(); ++i) {
            const QString got = step(monitor, steps[i], &reading);
            QVERIFY2(got == expected[i], qPrintable(QStringLiteral("step %1 (%2): '%3', expected '%4'")
                                                        .arg(i + 1)
                                                        .arg(steps[i], got, expected[i])));
        }
    }

    // What changes with the settings: an alarm switched off clears, levels of
    // another unit are not compared, and the acknowledge waits are shown.
    void settingsChangesAndState() {
        AlarmSettings s;
        s.faultEnabled = false;
        s.high = level(20, true, 0, true);
        AlarmMonitor monitor;
        monitor.configure(s, true);
        double reading = 0;
        QCOMPARE(step(monitor, "30", &reading), QString("+H"));
        QCOMPARE(monitor.state(), presentation::AlarmState::High);
        QVERIFY(monitor.waitsForAcknowledge());
        const QList<AlarmEvent> off = monitor.configure(s, false);  // the run's unit is another
        QCOMPARE(off.size(), 1);
        QCOMPARE(code(off[0]), QString("-H"));
        QCOMPARE(step(monitor, "40", &reading), QString());
        QCOMPARE(monitor.state(), presentation::AlarmState::None);
        QVERIFY(!monitor.waitsForAcknowledge());
    }

    // Set-points are kept by sensor name; a name is data whatever it holds,
    // and names differing only in case stay apart (INI keys fold case on Windows).
    void settingsKeptPerSensorName() {
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.ini");
        const QStringList names = {"S123", "s123", "a/b\\c=d;e#f", "[x] %2F", QString::fromUtf8("Sensör ✓"), " "};
        {
            QSettings stored(path, QSettings::IniFormat);
            for (int i = 0; i < names.size(); ++i) {
                AlarmSettings s;
                s.high = level(20.25 + i, i % 2 == 0, 0.5, true);
                s.low = level(-3.5, false, 1);
                s.low.enabled = i % 2 == 1;
                s.sound = true;
                s.unit = presentation::UnitPpm;
                s.save(stored, names[i]);
            }
            AlarmSettings().save(stored, QString());  // no sensor: nothing kept
        }
        QSettings stored(path, QSettings::IniFormat);
        for (int i = 0; i < names.size(); ++i) {
            const AlarmSettings s = AlarmSettings::load(stored, names[i]);
            QCOMPARE(s.high.level, 20.25 + i);
            QCOMPARE(s.high.rising, i % 2 == 0);
            QCOMPARE(s.high.latching, true);
            QCOMPARE(s.low.enabled, i % 2 == 1);
            QCOMPARE(s.low.level, -3.5);
            QVERIFY(s.sound);
            QCOMPARE(s.unit, int(presentation::UnitPpm));
        }
        QCOMPARE(stored.childGroups(), QStringList{"alarms"});
        const AlarmSettings unknown = AlarmSettings::load(stored, "S1234");
        QVERIFY(unknown == AlarmSettings());
        QVERIFY(!unknown.anyLevel());
    }

    // The time log's alarm changes carry their run time as marks do, but are
    // the program's own events: never read back as an operator's notes.
    void alarmEventsAreNoNotes() {
        GasMark mark;
        const QString text = presentation::alarmEventText(AlarmKind::High, AlarmChange::Raised);
        QCOMPARE(gasMarkEvent(GasMark::Note, 41, 40.512, text), QString("Cycle 41: High alarm raised (40.512 s)"));
        QVERIFY(!parseGasMark(gasMarkEvent(GasMark::Note, 41, 40.512, text), &mark));
        QVERIFY(!parseGasMark("Cycle 3: Fault alarm acknowledged (2.000 s)", &mark));
        QVERIFY(parseGasMark("Cycle 3: High alarm checked by hand (2.000 s)", &mark));
    }
};

QTEST_GUILESS_MAIN(TestAlarms)
#include "test_alarms.moc"
