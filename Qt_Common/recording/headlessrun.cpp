#include "headlessrun.h"

#include <QDir>
#include <QThread>

#include "portlister.h"
#include "sensoridentity.h"
#include "vqs.h"

namespace {

// The page's bound on waiting for the worker at teardown: one cycle plus one
// framing retry sequence.
constexpr unsigned long kWorkerStopWaitMs = 15000;

}  // namespace

HeadlessRun::HeadlessRun(const QString& portName, QObject* parent)
    : QObject(parent), port(portName), sensor(new VQS()), worker(new QThread()) {
    sensor->retryCount = 3;
    // A sensor lost mid-run is looked for where the page would look for it.
    VQS* device = sensor;
    sensor->candidatePorts = [device]() { return PortLister::candidatePaths(device->transport); };
    connect(sensor, &VQS::VQSWorkComplete, this, &HeadlessRun::onWorkComplete, Qt::QueuedConnection);
    connect(sensor, &VQS::VQSStopped, this, &HeadlessRun::onStopped, Qt::QueuedConnection);
    connect(sensor, &VQS::VQSUpdateTimeLog, this, [this](QString event) { recorder.writeTimeLog(event); },
            Qt::QueuedConnection);
    sensor->moveToThread(worker);
    worker->start();
}

HeadlessRun::~HeadlessRun() {
    QObject::disconnect(sensor, nullptr, this, nullptr);
    shutDownSensorThread(sensor, worker, kWorkerStopWaitMs);
    recorder.closeRunFiles();
}

QString HeadlessRun::sensorName() const {
    return QString::fromLatin1(sensor->sensorName);
}

bool HeadlessRun::start(const QString& baseDirectory) {
    // The worker thread is idle until the run starts, so the device may be
    // used directly here, as the page does before a run.
    if (sensor->connect() != VQS_SUCCESS) {
        errorText = QStringLiteral("cannot open %1").arg(port);
        return false;
    }
    if (sensor->identify() != VQS_SUCCESS) {
        sensor->disconnect();
        errorText = QStringLiteral("no sensor answers on %1").arg(port);
        return false;
    }
    if (!selfTestPassed(sensor->lastReplyHeader.status)) {
        sensor->disconnect();
        errorText = QStringLiteral("%1 failed its power-on self test: %2")
                        .arg(sensorName(), QString::fromLatin1(sensor->statusText));
        return false;
    }
    // As a new run on the page: the sensor's history is cleared first.
    sensor->clearHistory();
    sensor->disconnect();

    const bool ppm = reportsInPpm(*sensor);
    sensor->useVolUnit = false;
    sensor->concUnit = ppm ? 3 : 0;

    const QString runDir = RunRecorder::runDirectory(baseDirectory, sensorName());
    if (QDir(runDir).exists()) {
        errorText = QStringLiteral("run directory %1 exists already").arg(QDir::toNativeSeparators(runDir));
        return false;
    }
    QDir().mkpath(baseDirectory);
    recorder.setRunDirectory(runDir);
    switch (recorder.openRunFiles(*sensor, ppm)) {
        case RunRecorder::Opened:
            break;
        case RunRecorder::EngineeringFileFailed:
            errorText = QStringLiteral("could not open %1").arg(QDir::toNativeSeparators(recorder.encDataPath));
            return false;
        default:
            errorText = QStringLiteral("could not open %1").arg(QDir::toNativeSeparators(recorder.csvDataPath));
            return false;
    }
    sensor->cycleCount = 0;
    sensor->stopRequested = false;
    clock.start();
    running = true;
    QMetaObject::invokeMethod(sensor, "startVQS", Qt::QueuedConnection);
    recorder.writeTimeLog(QStringLiteral("Started"));
    return true;
}

void HeadlessRun::stop() {
    if (!running)
        return;
    sensor->stopRequested = true;
    QMetaObject::invokeMethod(sensor, "stopVQS", Qt::QueuedConnection);
}

void HeadlessRun::onWorkComplete() {
    if (RunRecorder::cycleIsRecordable(*sensor)) {
        ++sensor->cycleCount;
        lastSeconds = double(clock.elapsed()) / 1000.0;
        recorder.writeDataRow(lastSeconds, RunRecorder::cycleNumber(*sensor), *sensor);
        emit cycleRecorded();
    }
    QMetaObject::invokeMethod(sensor, "doWork", Qt::QueuedConnection);
}

void HeadlessRun::onStopped() {
    if (!running)
        return;
    running = false;
    commFailed = sensor->commFailed != 0;
    recorder.writeTimeLog(QStringLiteral("Stopped"));
    recorder.closeRunFiles();
    emit finished();
}
