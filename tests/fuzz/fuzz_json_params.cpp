// Any text as the sensor's parameter JSON: the conversion must stay inside the
// record, keep its texts terminated, and what it produced must convert back.
#include <cjson/cJSON.h>

#include <cstdlib>
#include <cstring>

#include "vqs.h"
#include "vqs_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kernelParams_t params;
    std::memset(&params, 0, sizeof(params));
    jsonTextToParams(reinterpret_cast<const char*>(data), size, &params);

    if (params.general.sensorName[31] != '\0' || params.general.sku[31] != '\0' ||
        params.general.mfgDate[15] != '\0' || params.flam.calDateTime[15] != '\0' ||
        std::strchr(params.flam.calDateTime, ' ') != nullptr)
        std::abort();

    // What was read is written as a document of at most the transfer size and reads back.
    cJSON* document = paramsToJson(&params);
    char* text = cJSON_PrintUnformatted(document);
    cJSON_Delete(document);
    if (text == nullptr) std::abort();
    uint8_t record[kParamTransferSize];
    if (buildParamTransfer(text, record) == 0) {
        const char* json = nullptr;
        const size_t length = paramTransferText(record, sizeof(record), &json);
        kernelParams_t again;
        std::memset(&again, 0, sizeof(again));
        if (jsonTextToParams(json, length, &again) != 0) std::abort();
    }
    cJSON_free(text);
    return 0;
}
