// A run of one sensor without a page: the sensor object on its own worker
// thread, driven cycle by cycle as the page drives it, recording through the
// same RunRecorder, so its files are the page's files. Widget-free; lives on
// the thread that runs its event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <string>

#include "runrecorder.h"

class QThread;
class VQS;

class HeadlessRun : public QObject {
    Q_OBJECT

public:
    // `portName` names the port in messages; aim sensorObject() at the port
    // (path or COM number, and framing) before start().
    explicit HeadlessRun(const QString& portName, QObject* parent = nullptr);
    ~HeadlessRun() override;

    // Identifies the sensor, creates its run directory under `baseDirectory`
    // and starts measuring. False (with `error()` set) when nothing started.
    bool start(const QString& baseDirectory);
    // Asks the sensor to stop; finished() follows once it is idle and the files are closed.
    void stop();

    bool isRunning() const { return running; }
    bool failed() const { return commFailed; }
    QString error() const { return errorText; }
    QString portName() const { return port; }
    QString runDirectory() const { return recorder.tempDataDir; }
    QString sensorName() const;
    // Seconds since the start (the time column of the row just written).
    double lastTime() const { return lastSeconds; }
    // The device object: set up before start(); readable between
    // cycleRecorded() and the next cycle.
    VQS& sensorObject() { return *sensor; }
    const VQS& device() const { return *sensor; }

signals:
    // One row was written to both tables.
    void cycleRecorded();
    // The run ended: by stop(), or by a lost sensor (failed() then true).
    void finished();

private:
    void onWorkComplete();
    void onStopped();

    QString port;
    VQS* sensor = nullptr;
    QThread* worker = nullptr;
    RunRecorder recorder;
    QElapsedTimer clock;
    QString errorText;
    double lastSeconds = 0;
    bool running = false;
    bool commFailed = false;
};
