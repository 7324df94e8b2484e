// A run of one sensor without a page, for the command-line tool: identifies
// the sensor, opens the run's files and drives a RunSession, so its files are
// the page's files. Widget-free; lives on the thread that runs its event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "runrecorder.h"
#include "runsession.h"

class VQS;

class HeadlessRun : public QObject {
    Q_OBJECT

public:
    // What identification told of the sensor, as texts (empty where not known).
    struct Identity {
        QString type;
        QString sku;
        QString firmware;
        QString mcuId;
    };

    // `portName` names the port in messages; aim sensorObject() at the port
    // (path or COM number, and framing) before start().
    explicit HeadlessRun(const QString& portName, QObject* parent = nullptr);
    ~HeadlessRun() override;

    // Identifies the sensor, creates its run directory under `baseDirectory`
    // and starts measuring. False (with `error()` set) when nothing started.
    bool start(const QString& baseDirectory);
    // Asks the sensor to stop; finished() follows once it is idle and the files are closed.
    void stop() { session.requestStop(); }

    bool isRunning() const { return session.isRunning(); }
    bool failed() const { return session.failed(); }
    QString error() const { return errorText; }
    QString portName() const { return port; }
    QString runDirectory() const { return recorder.tempDataDir; }
    // Identity learnt before the run (read only while no run is active, or kept).
    QString sensorName() const { return name; }
    const Identity& identity() const { return facts; }
    uint8_t unitCode() const { return session.unitCode(); }
    uint32_t cycles() const { return session.rows(); }
    // The device object: set up before start() only.
    VQS& sensorObject() { return *session.sensor(); }
    RunSession& runSession() { return session; }

signals:
    // In start(), once the sensor is identified and before the run begins:
    // sensorName() and identity() are known.
    void identified();
    // One recorded cycle, after its row was written to both tables.
    void cycleRecorded(const Sample& sample, double seconds);
    // The run ended: by stop(), or by a lost sensor (failed() then true).
    void finished();

private:
    QString port;
    QString name;
    RunRecorder recorder;
    QElapsedTimer clock;
    RunSession session;
    QString errorText;
    Identity facts;
};
