#include "sensoridentity.h"

#include <cstring>

#include "vqs.h"

namespace {

const uint8_t kSelfTestPassCodes[] = {0x00, 0x26, 0x27, 0x28, 0x30, 0x31, 0x33, 0x34, 0x35, 0x36};

constexpr uint8_t kPpmUnitCode = 3;

}  // namespace

QString sensorTypeName(uint32_t type) {
    return QLatin1String(sensorTypeText(type));
}

QString sensorTypeDescription(const VQS& sensor) {
    const uint32_t type = sensor.sensorInfo.sensorType;
    const bool knownType = std::strcmp(sensorTypeText(type), sensorTypeText(0)) != 0;
    if (knownType || sensor.transport != 0)
        return sensorTypeName(type);
    const QString notReported = QStringLiteral("Not reported by the sensor");
    const char* unit = sensor.configuredConcUnit >= 0 ? concUnitText(uint8_t(sensor.configuredConcUnit)) : nullptr;
    return unit ? QStringLiteral("%1 (configured for %2)").arg(notReported, QLatin1String(unit)) : notReported;
}

bool selfTestPassed(uint8_t statusCode) {
    for (uint8_t pass : kSelfTestPassCodes)
        if (statusCode == pass)
            return true;
    return false;
}

bool firmwareCompatible(const uint8_t version[4]) {
    return version[0] >= 3;
}

bool firmwareCompatibleIEC(const uint8_t version[4]) {
    return version[0] > 3 || (version[0] == 3 && (version[1] > 0 || version[2] > 4));
}

bool reportsInPpm(const VQS& sensor) {
    const uint32_t type = sensor.sensorInfo.sensorType;
    if (type == 5 || type == 6)
        return true;
    const bool knownType = std::strcmp(sensorTypeText(type), sensorTypeText(0)) != 0;
    return !knownType && sensor.configuredConcUnit == kPpmUnitCode;
}
