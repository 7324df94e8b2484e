// Identification of the sensor on the port: every identity starts clean, so
// nothing of a sensor identified earlier on the same object can show through.
#include <QDebug>

#include <cstdio>
#include <cstring>
#include <string>

#include "vqs.h"
#include "vqs_framing.h"

void VQS::resetIdentity() {
    std::memset(sensorName, 0, sizeof(sensorName));
    std::memset(statusText, 0, sizeof(statusText));
    lastReplyHeader = uartReplyHeader_t{};
    std::memset(versionText, 0, sizeof(versionText));
    std::memset(firmwareVersionText, 0, sizeof(firmwareVersionText));
    std::memset(hardwareVersionText, 0, sizeof(hardwareVersionText));
    std::memset(firmwareVersion, 0, sizeof(firmwareVersion));
    std::memset(hardwareVersion, 0, sizeof(hardwareVersion));
    firmwareNumber = 0;
    v3Answer = false;
    std::memset(mcuId, 0, sizeof(mcuId));
    std::memset(sensorSku, 0, sizeof(sensorSku));
    sensorInfo = sensorInfo_t{};
    std::memset(gasName, 0, sizeof(gasName));
    std::memset(postText, 0, sizeof(postText));
    postPassed = false;
    std::memset(enviro, 0, sizeof(enviro));
    std::memset(calibrationReply, 0, sizeof(calibrationReply));
    std::memset(&params, 0, sizeof(params));
    std::memset(paramsJson, 0, sizeof(paramsJson));
    analogOut = 0.0f;
    configuredConcUnit = -1;
    std::memset(&answer, 0, sizeof(answer));
    sensorCycle = -1;
    lastSensorCycle = 0;
}

const char* VQS::logName() const {
    if (sensorName[0] != '\0')
        return sensorName;
    // The port as the port list names it: the device path's last part.
    std::string port = portPath;
    const size_t cut = port.find_last_of("/\\");
    if (cut != std::string::npos)
        port.erase(0, cut + 1);
    if (port.empty() && portNumber > 0)
        port = "COM" + std::to_string(portNumber);
    if (port.empty())
        std::snprintf(unnamedLogName, sizeof(unnamedLogName), "(unnamed)");
    else
        std::snprintf(unnamedLogName, sizeof(unnamedLogName), "(unnamed on %s)", port.c_str());
    return unnamedLogName;
}

VQSStatus VQS::identify() {
    resetIdentity();
    if (getVersion() != VQS_SUCCESS || getSensorName() != VQS_SUCCESS)
        return VQS_FAILURE;
    framing().completeIdentity(*this);
    return VQS_SUCCESS;
}
