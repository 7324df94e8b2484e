#include "vqs.h"

#include <QDateTime>
#include <QDebug>
#include <QThread>

#include <cstring>

#include "serialport.h"

const char* const appVersion = "1.8.0.3";

VQS::VQS(QObject* parent) : QObject(parent) {
    // Samples cross threads in queued signals.
    static const int sampleType = qRegisterMetaType<Sample>("Sample");
    Q_UNUSED(sampleType)
    std::memset(sensorName, 0, sizeof(sensorName));
    std::strcpy(sensorName, "new_sensor");
    std::memset(statusText, 0, sizeof(statusText));
    std::memset(uartRxArea, 0, sizeof(uartRxArea));
    std::memset(versionText, 0, sizeof(versionText));
    std::memset(firmwareVersionText, 0, sizeof(firmwareVersionText));
    std::memset(hardwareVersionText, 0, sizeof(hardwareVersionText));
    std::memset(firmwareVersion, 0, sizeof(firmwareVersion));
    std::memset(hardwareVersion, 0, sizeof(hardwareVersion));
    std::memset(mcuId, 0, sizeof(mcuId));
    std::memset(sensorSku, 0, sizeof(sensorSku));
    std::memset(gasName, 0, sizeof(gasName));
    std::memset(postText, 0, sizeof(postText));
    std::memset(enviro, 0, sizeof(enviro));
    std::memset(calibrationReply, 0, sizeof(calibrationReply));
    std::memset(paramsJson, 0, sizeof(paramsJson));
}

VQS::~VQS() {
    qInfo() << "VQS object destroyed -" << logName();
}

QString VQS::replyTimeStamp() {
    return QDateTime::currentDateTime().toString(QStringLiteral("MM/dd hh:mm:ss"));
}

void VQS::sleepMs(unsigned ms) {
    QThread::msleep(ms);
}
