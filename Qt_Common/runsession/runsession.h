// One run of one sensor, without widgets: the sensor object on its own worker
// thread, the run's start (measuring state, unit, "Started"), the cycle loop
// (each Sample recorded when it counts, handed to subscribers, then the next
// cycle asked for), recovery state, and the stop ("Stopped", files closed).
// The sensor page and the command-line tool both drive their runs through it;
// a consumer of the run's data is one connection to sampleArrived().
// Lives on the thread that runs its event loop (the GUI thread in the program).
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

#include "sample.h"

class QElapsedTimer;
class QThread;
class RunRecorder;
class VQS;

class RunSession : public QObject {
    Q_OBJECT

public:
    enum class State { Idle, Running, Recovering, Lost };

    // Creates the sensor object and its worker thread. Rows go to `recorder`
    // (kept by the caller, outliving the session), timed against `runClock`
    // (the run's start; rows read 0 while it is invalid).
    RunSession(RunRecorder* recorder, const QElapsedTimer* runClock, QObject* parent = nullptr);
    ~RunSession() override;

    // Stops a running sensor (idle, port closed) after the cycle under way and
    // ends the worker within waitMs; nothing is reported afterwards. Idempotent.
    void shutDown(unsigned long waitMs = kWorkerStopWaitMs);

    // The device: used directly only while no run is active (identification,
    // settings before start). Null after shutDown().
    VQS* sensor() const { return device; }

    // ---- the run's unit and texts (shared by every view of a run) ----
    // The unit code a run measures in: PPM for sensors that report in PPM,
    // else %VOL where the sensor is set for it, else the LEL scale chosen.
    static uint8_t runUnitCode(bool ppm, bool volUnit, bool iecScale);
    // "%LEL(ISO)", "%VOL", "%LEL(IEC)", "PPM"; empty for another code.
    static QString unitText(uint8_t code);
    // The gas table's name, or "Unknown Gas: <id>".
    static QString gasText(uint32_t id);
    // A concentration as it is shown: whole numbers for PPM, else one decimal.
    static QString concentrationText(double concentration, bool ppm);

    // Sets the run's unit (on the idle sensor) before begin().
    void setUnit(uint8_t code, bool ppm);
    uint8_t unitCode() const { return unit; }
    bool ppm() const { return inPpm; }

    // Starts measuring (the files must be open): state Running, the sensor
    // told to measure, then "Started" in the time log.
    void begin();
    // Asks the worker to stop; runEnded() follows once the sensor is idle.
    void requestStop();
    // The cycle step: records the sample when it counts, hands it to
    // subscribers, then asks for the next cycle. Connected to the worker's
    // samples; may be called directly with an idle worker (tests, benchmarks).
    void deliver(const Sample& sample);
    // The stop's end: "Stopped", files closed, state Idle or Lost, then runEnded().
    void finish(bool failed);

    State state() const { return current; }
    bool isRunning() const { return active; }
    bool failed() const { return lastFailed; }
    // Rows recorded in this run (the last Sample's count) and the time column
    // of the last one.
    uint32_t rows() const { return rowCount; }
    double lastTime() const { return lastSeconds; }
    // A gas mark of the running run: "Gas on", "Gas off" or a note of the
    // operator's, written to the time log with the rows recorded so far and
    // the run time now, then told by markMade(). False (nothing written)
    // while no run records or for an empty note.
    bool mark(const QString& what);
    // The marks' own words: mark() takes them as "Gas on" and "Gas off".
    static const char* const kGasOn;
    static const char* const kGasOff;

    // An alarm's change of state, written to the time log as
    // "Cycle <n>: <text> (<run time> s)" with the rows recorded so far, then
    // told by alarmLogged(). `seconds` is the run time it belongs to (the row
    // that caused it); NaN takes the run clock now. False (nothing written)
    // while no run records.
    bool logAlarm(const QString& text, double seconds);

    // Forgets the rows counted (the run's data was cleared), worker idle.
    void resetRows();

    static constexpr unsigned long kWorkerStopWaitMs = 15000;

signals:
    // Every cycle's Sample, recorded or not (Sample::recorded()), after its row.
    void sampleArrived(const Sample& sample);
    void stateChanged(RunSession::State state);
    // The run resumed at another port (its device path).
    void portMoved(QString portPath);
    // The run ended: by a stop, or lost (failed true and no stop asked for).
    void runEnded(bool failed, bool lost);
    // A mark was written: its run time (seconds since the start), the time-log
    // event as written and the short text to label it with ("Gas on", the note).
    void markMade(double seconds, QString event, QString label);
    // A cycle of the running run went without an answer; `inRow` counts such
    // cycles since the last answer.
    void cycleUnanswered(int inRow);
    // An alarm change was written to the time log (see logAlarm()).
    void alarmLogged(double seconds, QString event, QString text);

private:
    void setState(State state);

    VQS* device = nullptr;
    QThread* worker = nullptr;
    RunRecorder* recorder = nullptr;
    const QElapsedTimer* clock = nullptr;
    State current = State::Idle;
    uint8_t unit = 0;
    bool inPpm = false;
    bool active = false;
    bool lastFailed = false;
    uint32_t rowCount = 0;
    double lastSeconds = 0;
    int unansweredInRow = 0;
};
