// Sensor commands over the USB packet protocol.
#include <QDebug>

#include <cstring>

#include "vqs.h"
#include "vqs_decode.h"

namespace {

enum UsbCommand : uint16_t {
    kUsbGetAnswer = 0x0001,
    kUsbSetState = 0x000B,
    kUsbClearHistory = 0x0090,
    kUsbGetVersion = 0x019A,
    kUsbReboot = 0x019D,
    kUsbGetParams = 0x01A2,
    kUsbGetSensorName = 0x01A3,
};

constexpr uint16_t kUsbAccepted = 3;  // result code of a command the sensor carried out
constexpr uint16_t kParamsReplyMin = 320;

uint16_t resultCode(const uint8_t* reply) {
    uint16_t code;
    std::memcpy(&code, reply, sizeof(code));
    return code;
}

}  // namespace

VQSStatus VQS::usbReboot() {
    if (usbSend(kUsbReboot, nullptr, 0) != 0) return VQS_FAILURE;
    qInfo() << logName() << "- reboot command issued";
    return VQS_SUCCESS;
}

VQSStatus VQS::usbGetVersion() {
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbGetVersion, nullptr, 0) == 0) reply = usbRecv(kUsbGetVersion, &length, 1);
    if (!reply) {
        qWarning() << logName() << "- getVersion rxData == NULL";
        return VQS_FAILURE;
    }
    copyText(versionText, sizeof(versionText), reply.get(), length);
    // The text is all a USB sensor says of its versions: the numbers decide
    // what the program offers it, as the UART version record's do.
    VersionFields fields;
    decodeUsbVersionText(versionText, sizeof(versionText), &fields);
    std::memcpy(firmwareVersion, fields.firmwareVersion, sizeof(firmwareVersion));
    std::memcpy(hardwareVersion, fields.hardwareVersion, sizeof(hardwareVersion));
    std::memcpy(firmwareVersionText, fields.firmwareVersionText, sizeof(firmwareVersionText));
    std::memcpy(hardwareVersionText, fields.hardwareVersionText, sizeof(hardwareVersionText));
    firmwareNumber = fields.firmwareNumber;
    qInfo() << logName() << "- got version";
    return VQS_SUCCESS;
}

VQSStatus VQS::usbGetSensorName() {
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbGetSensorName, nullptr, 0) == 0) reply = usbRecv(kUsbGetSensorName, &length, 1);
    if (!reply) {
        qWarning() << logName() << "- getSensorName rxData == NULL";
        return VQS_FAILURE;
    }
    copyText(sensorName, sizeof(sensorName), reply.get(), length);
    qInfo() << logName() << "- got sensor name";
    return VQS_SUCCESS;
}

VQSStatus VQS::usbGetParams() {
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbGetParams, nullptr, 0) == 0) reply = usbRecv(kUsbGetParams, &length, 1);
    if (!reply) {
        qWarning() << logName() << "- getParams rxData == NULL";
        std::memset(&params, 0, sizeof(params));
        return VQS_FAILURE;
    }
    if (length < kParamsReplyMin) {
        qWarning() << logName() << "- getParams incomplete reply received";
        std::memset(&params, 0, sizeof(params));
        return VQS_FAILURE;
    }
    return storeParamsRecord(reply.get(), length);
}

VQSStatus VQS::usbClearHistory() {
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbClearHistory, nullptr, 0) == 0) reply = usbRecv(kUsbClearHistory, &length, 5);
    if (!reply) {
        qWarning() << logName() << "- clearHistory rxData == NULL";
        return VQS_FAILURE;
    }
    // A reply without payload is the bare header: it carries no result code.
    if (length >= 2 && resultCode(reply.get()) == kUsbAccepted) {
        qInfo() << logName() << "- cleared history";
        return VQS_SUCCESS;
    }
    qWarning() << logName() << "- clear history command failed";
    return VQS_FAILURE;
}

VQSStatus VQS::usbGetAnswer() {
    const uint8_t request[6] = {1, 0, 0, 0, 0, 0};  // uint16 1, uint32 0
    uint8_t payload[sizeof(request)];
    std::memcpy(payload, request, sizeof(payload));
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbGetAnswer, payload, sizeof(payload)) == 0) reply = usbRecv(kUsbGetAnswer, &length, 3);
    if (!reply) {
        qWarning() << logName() << "- getAnswer rxData == NULL";
        std::memset(&answer, 0, sizeof(answer));
        return VQS_FAILURE;
    }
    if (length != sizeof(answer_t)) {
        qWarning() << logName() << "- getAnswer incorrect reply received ( expected" << sizeof(answer_t)
                   << "| received" << length << ")";
        std::memset(&answer, 0, sizeof(answer));
        return VQS_FAILURE;
    }
    std::memcpy(&answer, reply.get(), sizeof(answer));
    return VQS_SUCCESS;
}

VQSStatus VQS::usbSetState(VQSState state) {
    const uint32_t value = static_cast<uint32_t>(state) | (static_cast<uint32_t>(concUnit) << 4);
    uint8_t payload[sizeof(value)];
    std::memcpy(payload, &value, sizeof(value));
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbSetState, payload, sizeof(payload)) == 0) reply = usbRecv(kUsbSetState, &length, 3);
    if (!reply) return VQS_FAILURE;
    if (length < 2) {
        qWarning() << logName() << "- setState incomplete reply received";
        return VQS_FAILURE;
    }
    if (resultCode(reply.get()) != kUsbAccepted) return VQS_FAILURE;
    qInfo() << logName() << "- set state to" << value;
    return VQS_SUCCESS;
}
