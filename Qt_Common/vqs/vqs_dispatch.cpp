// Transport-independent commands: each picks the USB or UART form by `transport`.
#include <QDebug>

#include <cjson/cJSON.h>

#include <cstring>

#include "vqs.h"
#include "vqs_decode.h"

namespace {

constexpr int kUsb = 0;
constexpr int kUart = 1;

constexpr uint16_t kUsbGetEnviro = 0x0002;
constexpr uint16_t kUsbSetParams = 0x01A1;
constexpr uint16_t kUartSetParams = 0x46;

constexpr uint32_t kPostAddress = 0x0803C000;

}  // namespace

VQSStatus VQS::reboot() {
    if (transport == kUsb) return usbReboot();
    if (transport == kUart) return uartReboot();
    return VQS_FAILURE;
}

VQSStatus VQS::getVersion() {
    if (transport == kUsb) return usbGetVersion();
    if (transport == kUart) return uartGetVersion();
    return VQS_FAILURE;
}

VQSStatus VQS::getSensorName() {
    if (transport == kUsb) return usbGetSensorName();
    if (transport == kUart) return uartGetSensorInfo();
    return VQS_FAILURE;
}

VQSStatus VQS::getParams() {
    if (transport == kUsb) return usbGetParams();
    if (transport == kUart) {
        uartGetSensorInfo();
        return uartGetParams();
    }
    return VQS_FAILURE;
}

VQSStatus VQS::clearHistory() {
    if (transport == kUsb) return usbClearHistory();
    if (transport == kUart) return uartClearHistory();
    return VQS_FAILURE;
}

VQSStatus VQS::setState(VQSState state) {
    if (transport == kUsb) return usbSetState(state);
    if (transport == kUart) return uartSetState(state);
    return VQS_FAILURE;
}

VQSStatus VQS::getAnswer() {
    if (transport == kUsb) return usbGetAnswer();
    if (transport == kUart) return uartGetAnswer();
    return VQS_FAILURE;
}

VQSStatus VQS::readFlash(uart_readflash_t request, uint8_t* destination) {
    if (transport == kUart) return uartReadFlash(request, destination);
    return VQS_FAILURE;
}

VQSStatus VQS::calibrate(cal_rqst_t request) {
    if (transport == kUart) return uartCalibrate(request);
    return VQS_FAILURE;
}

VQSStatus VQS::getAnalogOut() {
    if (transport != kUart) return VQS_FAILURE;
    // Firmware before 4100 has no analog-output query.
    if (firmwareNumber > 4099) return uartGetAnalogOut();
    return VQS_SUCCESS;
}

VQSStatus VQS::runPost() {
    std::memset(postText, 0, sizeof(postText));
    if (transport != kUart) return VQS_FAILURE;
    postPassed = false;
    uint8_t flash[sizeof(postText)] = {};
    const uart_readflash_t request{kPostAddress, sizeof(flash)};
    if (readFlash(request, flash) != VQS_SUCCESS) return VQS_FAILURE;
    // Flash need not hold a terminator; the text keeps one inside its capacity.
    copyText(postText, sizeof(postText), flash, sizeof(flash));
    postPassed = std::strstr(postText, "POST passed") != nullptr;
    return VQS_SUCCESS;
}

VQSStatus VQS::getEnviro() {
    qInfo() << "---> getEnviro()";
    uint16_t length = 0;
    VQSBuffer reply;
    if (usbSend(kUsbGetEnviro, nullptr, 0) == 0) reply = usbRecv(kUsbGetEnviro, &length, 1);
    if (!reply) return VQS_FAILURE;
    if (length < sizeof(enviro)) {
        qWarning() << logName() << "- getEnviro incomplete reply received";
        std::memset(enviro, 0, sizeof(enviro));
        return VQS_FAILURE;
    }
    std::memcpy(enviro, reply.get(), sizeof(enviro));
    return VQS_SUCCESS;
}

VQSStatus VQS::storeParamsRecord(const uint8_t* record, size_t length) {
    const char* text = nullptr;
    const size_t textLength = paramTransferText(record, length, &text);
    if (jsonTextToParams(text, textLength, &params) != 0) {
        qWarning() << logName() << "- error translating JSON to kernel params";
        qInfo().noquote() << logName() << QString::fromLatin1(text, static_cast<int>(textLength));
        return VQS_FAILURE;
    }
    copyText(sensorName, sizeof(sensorName), params.general.sensorName, sizeof(params.general.sensorName));
    copyText(paramsJson, sizeof(paramsJson), text, textLength);
    qInfo() << logName() << "- got params";
    return VQS_SUCCESS;
}

VQSStatus VQS::setParams() {
    if (transport != kUsb && transport != kUart) return VQS_FAILURE;
    cJSON* document = paramsToJson(&params);
    char* json = cJSON_PrintUnformatted(document);
    cJSON_Delete(document);
    uint8_t record[kParamTransferSize];
    const int built = json != nullptr ? buildParamTransfer(json, record) : 1;
    cJSON_free(json);
    if (built != 0) {
        // Cutting the text would send the sensor broken JSON; send nothing instead.
        qWarning() << logName() << "- setParams: parameter text does not fit the transfer record";
        return VQS_FAILURE;
    }

    if (transport == kUart) {
        if (uartSend(kUartSetParams, record, sizeof(record)) != 0 || uartRecv(kUartSetParams, nullptr, 0) != 0) {
            qWarning() << logName() << "- setParams(UART) failed";
            return VQS_FAILURE;
        }
    } else {
        uint16_t length = 0;
        VQSBuffer reply;
        if (usbSend(kUsbSetParams, record, sizeof(record)) == 0) reply = usbRecv(kUsbSetParams, &length, 5);
        if (!reply) {
            qWarning() << logName() << "- setParams(USB) rxData == NULL";
            return VQS_FAILURE;
        }
    }
    qInfo() << logName() << "- set params";
    return VQS_SUCCESS;
}
