#include "headlessrun.h"

#include <QDir>

#include "portlister.h"
#include "sensoridentity.h"
#include "vqs.h"

HeadlessRun::HeadlessRun(const QString& portName, QObject* parent)
    : QObject(parent), port(portName), session(&recorder, &clock) {
    session.sensor()->retryCount = 3;
    connect(&session, &RunSession::sampleArrived, this, [this](const Sample& sample) {
        if (sample.recorded())
            emit cycleRecorded(sample, session.lastTime());
    });
    connect(&session, &RunSession::runEnded, this, &HeadlessRun::finished);
    // A run that resumed at another port is named by that port from then on.
    connect(&session, &RunSession::portMoved, this, [this](QString path) { port = PortLister::nameOfPath(path); });
}

HeadlessRun::~HeadlessRun() {
    QObject::disconnect(&session, nullptr, this, nullptr);
    session.shutDown();
    recorder.closeRunFiles();
}

bool HeadlessRun::start(const QString& baseDirectory) {
    // The worker thread is idle until the run starts, so the device may be
    // used directly here, as the page does before a run.
    VQS* sensor = session.sensor();
    if (sensor->connect() != VQS_SUCCESS) {
        errorText = QStringLiteral("cannot open %1").arg(port);
        return false;
    }
    if (sensor->identify() != VQS_SUCCESS) {
        sensor->disconnect();
        errorText = QStringLiteral("no sensor answers on %1").arg(port);
        return false;
    }
    name = QString::fromLatin1(sensor->sensorName);
    facts.type = sensorTypeDescription(*sensor);
    facts.sku = QString::fromLatin1(sensor->sensorSku);
    facts.firmware = QString::fromLatin1(sensor->firmwareVersionText);
    facts.mcuId = QString::fromLatin1(sensor->mcuId);
    if (!selfTestPassed(sensor->lastReplyHeader.status)) {
        sensor->disconnect();
        errorText = QStringLiteral("%1 failed its power-on self test: %2")
                        .arg(name, QString::fromLatin1(sensor->statusText));
        return false;
    }
    // As a new run on the page: the sensor's history is cleared first.
    sensor->clearHistory();
    sensor->disconnect();

    // No unit buttons here: the sensor's PPM, else the ISO LEL scale.
    const bool ppm = reportsInPpm(*sensor);
    sensor->useVolUnit = false;
    session.setUnit(RunSession::runUnitCode(ppm, false, false), ppm);

    const QString runDir = RunRecorder::runDirectory(baseDirectory, name);
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
    session.resetRows();
    clock.start();
    emit identified();
    session.begin();
    return true;
}
