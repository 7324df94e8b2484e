// The sensor's kernel parameters and their JSON document.
#include <cjson/cJSON.h>

#include <cfloat>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "vqs.h"
#include "vqs_decode.h"

namespace {

// ---- record -> JSON ----

void addText(cJSON* object, const char* key, const char* field, size_t capacity) {
    char text[64];
    copyText(text, sizeof(text), field, capacity);
    cJSON_AddItemToObject(object, key, cJSON_CreateString(text));
}

void addNumber(cJSON* object, const char* key, double value) {
    cJSON_AddItemToObject(object, key, cJSON_CreateNumber(value));
}

void addBool(cJSON* object, const char* key, uint8_t value) {
    cJSON_AddItemToObject(object, key, cJSON_CreateBool(value != 0));
}

// The record is packed: its float arrays are reached through byte offsets, never float pointers.
template <typename S>
unsigned char* bytesAt(S& record, size_t offset) {
    return reinterpret_cast<unsigned char*>(&record) + offset;
}

void addFloats(cJSON* object, const char* key, const unsigned char* field) {
    float values[6];
    std::memcpy(values, field, sizeof(values));
    cJSON_AddItemToObject(object, key, cJSON_CreateFloatArray(values, 6));
}

// ---- JSON -> record ----

// Truncates toward zero; values outside the 64-bit range (and NaN) saturate
// instead of being undefined, then the field keeps the low bits.
int64_t integerOf(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (value <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

float floatOf(double value) {
    if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
    if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

const cJSON* numberItem(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsNumber(item) ? item : nullptr;
}

template <typename T>
std::optional<T> integerAt(const cJSON* object, const char* key) {
    if (const cJSON* item = numberItem(object, key)) {
        return static_cast<T>(static_cast<uint64_t>(integerOf(item->valuedouble)));
    }
    return std::nullopt;
}

std::optional<float> floatAt(const cJSON* object, const char* key) {
    if (const cJSON* item = numberItem(object, key)) return floatOf(item->valuedouble);
    return std::nullopt;
}

std::optional<uint8_t> boolAt(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    if (cJSON_IsBool(item)) return static_cast<uint8_t>(cJSON_IsTrue(item) ? 1 : 0);
    return std::nullopt;
}

// Present keys of the right type overwrite their field; others leave it.
#define APPLY(field, value)        \
    do {                           \
        if (auto v_ = (value)) {   \
            (field) = *v_;         \
        }                          \
    } while (0)

void readText(const cJSON* object, const char* key, char* field, size_t capacity) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    if (cJSON_IsString(item) && item->valuestring != nullptr) {
        copyText(field, capacity, item->valuestring, std::strlen(item->valuestring));
    }
}

// Fills a float[6] from element 0 on; longer arrays are cut to 6.
void readFloats(const cJSON* object, const char* key, unsigned char* field) {
    const cJSON* array = cJSON_GetObjectItem(object, key);
    if (!cJSON_IsArray(array)) return;
    float values[6];
    std::memcpy(values, field, sizeof(values));
    const int count = cJSON_GetArraySize(array);
    for (int i = 0; i < count && i < 6; ++i) {
        const cJSON* item = cJSON_GetArrayItem(array, i);
        if (cJSON_IsNumber(item)) values[i] = floatOf(item->valuedouble);
    }
    std::memcpy(field, values, sizeof(values));
}

// A latch flag takes a default when its key is absent; a present non-bool value leaves it.
std::optional<uint8_t> latchAt(const cJSON* object, const char* key, uint8_t absentValue) {
    if (cJSON_GetObjectItem(object, key) == nullptr) return absentValue;
    return boolAt(object, key);
}

void readFlam(const cJSON* flam, flamParams_t& p) {
    APPLY(p.enabled, boolAt(flam, "enabled"));
    APPLY(p.analogOut, integerAt<decltype(p.analogOut)>(flam, "analogOut"));
    APPLY(p.analogSlope, floatAt(flam, "analogSlope"));
    APPLY(p.analogOffset, floatAt(flam, "analogOffset"));
    APPLY(p.analogStatus, floatAt(flam, "analogStatus"));
    APPLY(p.analogFault, floatAt(flam, "analogFault"));
    APPLY(p.analogWarn, floatAt(flam, "analogWarn"));
    APPLY(p.analogStartupV, floatAt(flam, "analogStartupV"));
    APPLY(p.analogStartupHold, floatAt(flam, "analogStartupHold"));
    APPLY(p.midNormCoeff, floatAt(flam, "midNormCoeff"));
    APPLY(p.maxNormCoeff, floatAt(flam, "maxNormCoeff"));
    const cJSON* cal = cJSON_GetObjectItem(flam, "calDateTime");
    if (cJSON_IsString(cal) && cal->valuestring != nullptr) {
        readText(flam, "calDateTime", p.calDateTime, sizeof(p.calDateTime));
        // A date followed by a time keeps only the date.
        if (char* space = static_cast<char*>(std::memchr(p.calDateTime, ' ', sizeof(p.calDateTime)))) {
            std::memset(space, 0, sizeof(p.calDateTime) - static_cast<size_t>(space - p.calDateTime));
        }
    }
    APPLY(p.crmCycleCount, integerAt<decltype(p.crmCycleCount)>(flam, "crmCycleCount"));
    APPLY(p.crmTemperature, floatAt(flam, "crmTemperature"));
    readFloats(flam, "dsc1MidPLS1", bytesAt(p, offsetof(flamParams_t, dsc1MidPLS1)));
    readFloats(flam, "dsc1MidPLS2", bytesAt(p, offsetof(flamParams_t, dsc1MidPLS2)));
    readFloats(flam, "dsc1MaxPLS1", bytesAt(p, offsetof(flamParams_t, dsc1MaxPLS1)));
    readFloats(flam, "dsc1MaxPLS2", bytesAt(p, offsetof(flamParams_t, dsc1MaxPLS2)));
}

void readGeneral(const cJSON* general, kernelParams_t& p) {
    generalParams_t& g = p.general;
    readText(general, "sensorName", g.sensorName, sizeof(g.sensorName));
    readText(general, "sku", g.sku, sizeof(g.sku));
    if (cJSON_IsString(cJSON_GetObjectItem(general, "mfgDate"))) {
        readText(general, "mfgDate", g.mfgDate, sizeof(g.mfgDate));
    } else {
        copyText(g.mfgDate, sizeof(g.mfgDate), p.flam.calDateTime, sizeof(p.flam.calDateTime));
    }
    APPLY(g.enviroID, integerAt<decltype(g.enviroID)>(general, "enviroID"));
    APPLY(g.cycle, integerAt<decltype(g.cycle)>(general, "cycle"));
    APPLY(g.cycleTime, floatAt(general, "cycleTime"));
    APPLY(g.autostart, boolAt(general, "autostart"));
    APPLY(g.commChannel, integerAt<decltype(g.commChannel)>(general, "commChannel"));
    APPLY(g.concUnit, integerAt<decltype(g.concUnit)>(general, "concUnit"));
    APPLY(g.enableEnviroLatch, latchAt(general, "enableEnviroLatch", 1));
    APPLY(g.enableOnInFlamLatch, latchAt(general, "enableOnInFlamLatch", 0));
}

void readDsc(const cJSON* dsc, dscParams_t& d) {
    APPLY(d.enabled, boolAt(dsc, "enabled"));
    APPLY(d.midResistance, floatAt(dsc, "midResistance"));
    APPLY(d.maxResistance, floatAt(dsc, "maxResistance"));
    APPLY(d.midRampTime, integerAt<decltype(d.midRampTime)>(dsc, "midRampTime"));
    APPLY(d.midHoldTime, integerAt<decltype(d.midHoldTime)>(dsc, "midHoldTime"));
    APPLY(d.maxRampTime, integerAt<decltype(d.maxRampTime)>(dsc, "maxRampTime"));
    APPLY(d.maxHoldTime, integerAt<decltype(d.maxHoldTime)>(dsc, "maxHoldTime"));
    APPLY(d.rampDownTime, integerAt<decltype(d.rampDownTime)>(dsc, "rampDownTime"));
    APPLY(d.minCurrent, floatAt(dsc, "minCurrent"));
    APPLY(d.maxCurrent, floatAt(dsc, "maxCurrent"));
    APPLY(d.KP, floatAt(dsc, "KP"));
    APPLY(d.KI, floatAt(dsc, "KI"));
    APPLY(d.KD, floatAt(dsc, "KD"));
}

}  // namespace

cJSON* paramsToJson(const kernelParams_t* params) {
    kernelParams_t p;
    std::memcpy(&p, params, sizeof(p));
    cJSON* document = cJSON_CreateObject();

    cJSON* general = cJSON_CreateObject();
    addText(general, "sensorName", p.general.sensorName, sizeof(p.general.sensorName));
    addText(general, "sku", p.general.sku, sizeof(p.general.sku));
    addText(general, "mfgDate", p.general.mfgDate, sizeof(p.general.mfgDate));
    addNumber(general, "enviroID", p.general.enviroID);
    addNumber(general, "cycle", p.general.cycle);
    addNumber(general, "cycleTime", p.general.cycleTime);
    addBool(general, "autostart", p.general.autostart);
    addNumber(general, "commChannel", p.general.commChannel);
    addNumber(general, "concUnit", p.general.concUnit);
    addBool(general, "enableEnviroLatch", p.general.enableEnviroLatch);
    addBool(general, "enableOnInFlamLatch", p.general.enableOnInFlamLatch);
    cJSON_AddItemToObject(document, "generalParams", general);

    cJSON* dscArray = cJSON_CreateArray();
    cJSON* dsc = cJSON_CreateObject();
    addNumber(dsc, "number", 1);
    addBool(dsc, "enabled", p.dsc.enabled);
    addNumber(dsc, "midResistance", p.dsc.midResistance);
    addNumber(dsc, "maxResistance", p.dsc.maxResistance);
    addNumber(dsc, "midRampTime", p.dsc.midRampTime);
    addNumber(dsc, "midHoldTime", p.dsc.midHoldTime);
    addNumber(dsc, "maxRampTime", p.dsc.maxRampTime);
    addNumber(dsc, "maxHoldTime", p.dsc.maxHoldTime);
    addNumber(dsc, "rampDownTime", p.dsc.rampDownTime);
    addNumber(dsc, "minCurrent", p.dsc.minCurrent);
    addNumber(dsc, "maxCurrent", p.dsc.maxCurrent);
    addNumber(dsc, "KP", p.dsc.KP);
    addNumber(dsc, "KI", p.dsc.KI);
    addNumber(dsc, "KD", p.dsc.KD);
    cJSON_AddItemToArray(dscArray, dsc);
    cJSON_AddItemToObject(document, "dscParams", dscArray);

    cJSON* flam = cJSON_CreateObject();
    addBool(flam, "enabled", p.flam.enabled);
    addNumber(flam, "analogOut", p.flam.analogOut);
    addNumber(flam, "analogSlope", p.flam.analogSlope);
    addNumber(flam, "analogOffset", p.flam.analogOffset);
    addNumber(flam, "analogStatus", p.flam.analogStatus);
    addNumber(flam, "analogFault", p.flam.analogFault);
    addNumber(flam, "analogWarn", p.flam.analogWarn);
    addNumber(flam, "analogStartupV", p.flam.analogStartupV);
    addNumber(flam, "analogStartupHold", p.flam.analogStartupHold);
    addNumber(flam, "midNormCoeff", p.flam.midNormCoeff);
    addNumber(flam, "maxNormCoeff", p.flam.maxNormCoeff);
    addText(flam, "calDateTime", p.flam.calDateTime, sizeof(p.flam.calDateTime));
    addNumber(flam, "crmCycleCount", p.flam.crmCycleCount);
    addNumber(flam, "crmTemperature", p.flam.crmTemperature);
    addFloats(flam, "dsc1MidPLS1", bytesAt(p.flam, offsetof(flamParams_t, dsc1MidPLS1)));
    addFloats(flam, "dsc1MidPLS2", bytesAt(p.flam, offsetof(flamParams_t, dsc1MidPLS2)));
    addFloats(flam, "dsc1MaxPLS1", bytesAt(p.flam, offsetof(flamParams_t, dsc1MaxPLS1)));
    addFloats(flam, "dsc1MaxPLS2", bytesAt(p.flam, offsetof(flamParams_t, dsc1MaxPLS2)));
    cJSON_AddItemToObject(document, "flamParams", flam);

    cJSON_AddItemToObject(document, "flamCalData", cJSON_CreateObject());
    return document;
}

int jsonToParams(const cJSON* document, kernelParams_t* params) {
    // Work on an aligned copy (the record is packed) and write back what was applied.
    kernelParams_t p;
    std::memcpy(&p, params, sizeof(p));
    int result = 1;

    const cJSON* flam = cJSON_GetObjectItem(document, "flamParams");
    if (cJSON_IsObject(flam)) {
        readFlam(flam, p.flam);
        const cJSON* general = cJSON_GetObjectItem(document, "generalParams");
        if (cJSON_IsObject(general)) {
            readGeneral(general, p);
            const cJSON* dscs = cJSON_GetObjectItem(document, "dscParams");
            if (cJSON_IsArray(dscs)) {
                int64_t selected = 0;  // the first element without a number is DSC 1
                const cJSON* element = nullptr;
                cJSON_ArrayForEach(element, dscs) {
                    if (!cJSON_IsObject(element)) continue;
                    if (const cJSON* number = numberItem(element, "number")) {
                        selected = integerOf(number->valuedouble) - 1;
                    }
                    // The record holds DSC 1 only; other detectors have nowhere to go.
                    if (selected == 0) readDsc(element, p.dsc);
                }
                result = 0;
            }
        }
    }
    std::memcpy(params, &p, sizeof(p));
    return result;
}
