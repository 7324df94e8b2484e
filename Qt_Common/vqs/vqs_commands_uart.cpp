// Sensor commands over the UART frame protocol.
#include <QDebug>

#include <cstring>
#include <vector>

#include "vqs.h"
#include "vqs_decode.h"

namespace {

enum UartCommand : uint16_t {
    kUartVerboseAnswer = 0x08,
    kUartEngData = 0x09,
    kUartGetVersion = 0x42,
    kUartSensorInfo = 0x43,
    kUartReadFlash = 0x44,
    kUartGetParams = 0x45,
    kUartCalibrate = 0x47,
    kUartSetState = 0x61,
    kUartClearHistory = 0x65,
    kUartReboot = 0x66,
    kUartAnalogOut = 0x6B,
};

constexpr uint32_t kEngDataReplySize = 1024;

}  // namespace

VQSStatus VQS::uartReboot() {
    if (uartSend(kUartReboot, nullptr, 0) != 0) return VQS_FAILURE;
    qInfo() << logName() << "- reboot command issued";
    return VQS_SUCCESS;
}

VQSStatus VQS::uartGetVersion() {
    uint8_t request = 0x55;
    uint8_t reply[sizeof(uartVersionRecord_t)] = {};
    if (uartSend(kUartGetVersion, &request, 1) != 0) return VQS_FAILURE;
    if (uartRecv(kUartGetVersion, reply, sizeof(reply)) != 0) return VQS_FAILURE;

    VersionFields v;
    decodeVersionRecord(reply, sizeof(reply), lastReplyHeader.length, &v);
    std::memcpy(firmwareVersion, v.firmwareVersion, sizeof(firmwareVersion));
    std::memcpy(hardwareVersion, v.hardwareVersion, sizeof(hardwareVersion));
    std::memcpy(firmwareVersionText, v.firmwareVersionText, sizeof(firmwareVersionText));
    std::memcpy(hardwareVersionText, v.hardwareVersionText, sizeof(hardwareVersionText));
    std::memcpy(versionText, v.versionText, sizeof(versionText));
    firmwareNumber = v.firmwareNumber;
    v3Answer = v.v3Answer;
    qInfo() << logName() << "uartGetVersion" << versionText;
    return VQS_SUCCESS;
}

VQSStatus VQS::uartGetSensorInfo() {
    uint8_t request = 0xAA;
    uint8_t reply[kSensorInfoLongSize] = {};
    const SensorInfoLayout layout = v3Answer ? SensorInfoLayout::Short : SensorInfoLayout::Long;
    const uint32_t size = v3Answer ? kSensorInfoShortSize : kSensorInfoLongSize;
    if (uartSend(kUartSensorInfo, &request, 1) == 0 && uartRecv(kUartSensorInfo, reply, size) == 0) {
        decodeSensorInfo(reply, size, layout, &sensorInfo, sensorName, mcuId, sensorSku);
    } else if (uartSend(kUartSensorInfo, nullptr, 0) == 0 &&
               uartRecv(kUartSensorInfo, reply, kSensorInfoFallbackSize) == 0) {
        decodeSensorInfo(reply, kSensorInfoFallbackSize, SensorInfoLayout::Fallback, &sensorInfo, sensorName, mcuId,
                         sensorSku);
    } else {
        qWarning() << logName() << "- getSensorInfo failed";
        return VQS_FAILURE;
    }
    qInfo() << logName() << "- got sensor info";
    return VQS_SUCCESS;
}

VQSStatus VQS::uartGetParams() {
    std::vector<uint8_t> reply(kParamTransferSize, 0);
    if (uartSend(kUartGetParams, nullptr, 0) != 0 ||
        uartRecv(kUartGetParams, reply.data(), static_cast<uint32_t>(reply.size())) != 0) {
        qWarning() << logName() << "- uartGetParams rxData == NULL";
        std::memset(&params, 0, sizeof(params));
        return VQS_FAILURE;
    }
    return storeParamsRecord(reply.data(), reply.size());
}

VQSStatus VQS::uartClearHistory() {
    if (uartSend(kUartClearHistory, nullptr, 0) == 0 && uartRecv(kUartClearHistory, nullptr, 0) == 0) {
        qInfo() << logName() << "- cleared history";
        return VQS_SUCCESS;
    }
    qWarning() << logName() << "- clear history command failed";
    return VQS_FAILURE;
}

VQSStatus VQS::uartSetState(VQSState state) {
    uint8_t value = static_cast<uint8_t>(static_cast<unsigned>(state) | (static_cast<unsigned>(concUnit) << 4));
    if (uartSend(kUartSetState, &value, 1) != 0) return VQS_FAILURE;
    if (uartRecv(kUartSetState, nullptr, 0) != 0) return VQS_FAILURE;
    qInfo() << logName() << "- set state to" << static_cast<unsigned>(value);
    return VQS_SUCCESS;
}

VQSStatus VQS::uartReadFlash(uart_readflash_t request, uint8_t* destination) {
    if (destination == nullptr && (request.count & 0xFFFFu) != 0) return VQS_FAILURE;
    uint8_t payload[sizeof(request)];
    std::memcpy(payload, &request, sizeof(payload));
    if (uartSend(kUartReadFlash, payload, sizeof(payload)) != 0) return VQS_FAILURE;
    if (uartRecv(kUartReadFlash, destination, request.count & 0xFFFFu) != 0) {
        qWarning() << logName() << "- uartReadFlash rxData == NULL";
        return VQS_FAILURE;
    }
    qInfo() << logName() << "- read flash";
    return VQS_SUCCESS;
}

VQSStatus VQS::uartCalibrate(cal_rqst_t request) {
    uint8_t payload[sizeof(request)];
    std::memcpy(payload, &request, sizeof(payload));
    if (uartSend(kUartCalibrate, payload, sizeof(payload)) != 0) return VQS_FAILURE;
    if (uartRecv(kUartCalibrate, calibrationReply, sizeof(calibrationReply)) != 0) {
        qWarning() << logName() << "- calibration command failed";
        return VQS_FAILURE;
    }
    return VQS_SUCCESS;
}

VQSStatus VQS::uartGetEngData(uint8_t* destination) {
    return uartGetEngData(destination, v3Answer ? sizeof(flam_data_v3_t) : sizeof(flam_data_t));
}

VQSStatus VQS::uartGetEngData(uint8_t* destination, size_t destinationSize) {
    std::vector<uint8_t> reply(kEngDataReplySize, 0);
    if (destination == nullptr || uartSend(kUartEngData, nullptr, 0) != 0 ||
        uartRecv(kUartEngData, reply.data(), kEngDataReplySize) != 0 ||
        decodeEngData(reply.data(), reply.size(), destination, destinationSize) != 0) {
        qWarning() << "getEngData failed";
        return VQS_FAILURE;
    }
    return VQS_SUCCESS;
}

VQSStatus VQS::uartGetVerboseAnswer() {
    const uint32_t size = v3Answer ? sizeof(flam_data_v3_t) + sizeof(answer.verboseBlock)
                                   : sizeof(flam_data_t) + sizeof(answer.verboseBlock);
    std::vector<uint8_t> reply(size, 0);
    if (uartSend(kUartVerboseAnswer, nullptr, 0) != 0 || uartRecv(kUartVerboseAnswer, reply.data(), size) != 0 ||
        decodeVerboseAnswer(reply.data(), reply.size(), v3Answer, &answer, &sensorCycle) != 0) {
        qWarning() << logName() << "uartGetVerboseAnswer" << "failed";
        return VQS_FAILURE;
    }
    return VQS_SUCCESS;
}

VQSStatus VQS::uartGetAnalogOut() {
    uint8_t reply[sizeof(float)] = {};
    if (uartSend(kUartAnalogOut, nullptr, 0) != 0) return VQS_FAILURE;
    if (uartRecv(kUartAnalogOut, reply, sizeof(reply)) != 0) return VQS_FAILURE;
    // A reply without the whole float carries no reading; keep the last one.
    if (lastReplyHeader.length != sizeof(float)) return VQS_FAILURE;
    std::memcpy(&analogOut, reply, sizeof(analogOut));
    return VQS_SUCCESS;
}
