// Transport-independent commands: each takes its form from the framing of the transport.
#include <QDebug>

#include <cjson/cJSON.h>

#include <cstring>

#include "vqs.h"
#include "vqs_decode.h"
#include "vqs_framing.h"

namespace {

constexpr uint16_t kUsbGetEnviro = 0x0002;

}  // namespace

VQSStatus VQS::reboot() { return framing().reboot(*this); }

VQSStatus VQS::getVersion() { return framing().getVersion(*this); }

VQSStatus VQS::getSensorName() { return framing().getSensorName(*this); }

VQSStatus VQS::getParams() { return framing().getParams(*this); }

VQSStatus VQS::clearHistory() { return framing().clearHistory(*this); }

VQSStatus VQS::setState(VQSState state) { return framing().setState(*this, state); }

VQSStatus VQS::getAnswer() { return framing().getAnswer(*this); }

VQSStatus VQS::readFlash(uart_readflash_t request, uint8_t* destination) {
    return framing().readFlash(*this, request, destination);
}

VQSStatus VQS::calibrate(cal_rqst_t request) { return framing().calibrate(*this, request); }

VQSStatus VQS::getAnalogOut() { return framing().getAnalogOut(*this); }

VQSStatus VQS::runPost() {
    std::memset(postText, 0, sizeof(postText));
    return framing().readPost(*this);
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
    const VQSFraming& chosen = framing();
    if (chosen.portSettings() == nullptr) return VQS_FAILURE;  // no framing to send it with
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

    if (chosen.sendParams(*this, record, sizeof(record)) != VQS_SUCCESS) return VQS_FAILURE;
    qInfo() << logName() << "- set params";
    return VQS_SUCCESS;
}
