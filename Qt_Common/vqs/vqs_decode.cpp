#include "vqs_decode.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vqs.h"

namespace {

uint32_t readWord(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// A record whose bytes the sensor did not send read as zero.
template <size_t N>
void zeroPadded(uint8_t (&dst)[N], const uint8_t* src, size_t length) {
    std::memset(dst, 0, N);
    if (src != nullptr) std::memcpy(dst, src, std::min(length, N));
}

// Fixed text fields of a record copied unchanged must still end inside their field.
void terminate(char* field, size_t capacity) {
    field[capacity - 1] = '\0';
}

}  // namespace

void copyText(char* dst, size_t dstCapacity, const void* src, size_t srcCapacity) {
    if (dstCapacity == 0) return;
    std::memset(dst, 0, dstCapacity);
    if (src == nullptr) return;
    const char* s = static_cast<const char*>(src);
    size_t n = 0;
    while (n < srcCapacity && n + 1 < dstCapacity && s[n] != '\0') ++n;
    std::memcpy(dst, s, n);
}

void decodeVersionRecord(const uint8_t* payload, size_t bufferLength, size_t payloadLength, VersionFields* out) {
    uint8_t raw[sizeof(uartVersionRecord_t)];
    zeroPadded(raw, payload, std::min(bufferLength, payloadLength));
    uartVersionRecord_t rec;
    std::memcpy(&rec, raw, sizeof(rec));

    std::memset(out, 0, sizeof(*out));
    std::memcpy(out->firmwareVersion, rec.firmware, 4);
    std::memcpy(out->hardwareVersion, rec.hardware, 2);
    std::memcpy(out->hardwareVersion + 2, rec.hardwareExtra, 2);
    const uint8_t* fw = out->firmwareVersion;
    out->firmwareNumber = static_cast<uint16_t>(fw[0] * 1000u + fw[1] * 100u + fw[2] * 10u + fw[3]);
    out->v3Answer = out->firmwareNumber < 4100;
    std::snprintf(out->firmwareVersionText, sizeof(out->firmwareVersionText), "%u.%u.%u.%u", fw[0], fw[1], fw[2],
                  fw[3]);
    std::snprintf(out->hardwareVersionText, sizeof(out->hardwareVersionText), "%u.%u", out->hardwareVersion[0],
                  out->hardwareVersion[1]);
    char text[256];  // the longest form is 111 characters; the extra room keeps the compiler's bound check quiet
    if (payloadLength >= 9) {
        char comment[17], date[17], time[17];
        copyText(comment, sizeof(comment), rec.comment, sizeof(rec.comment));
        copyText(date, sizeof(date), rec.buildDate, sizeof(rec.buildDate));
        copyText(time, sizeof(time), rec.buildTime, sizeof(rec.buildTime));
        std::snprintf(text, sizeof(text), "Firmware: %s\r\nComment: %s\r\nHardware: %s\r\nDOB: %s %s", out->firmwareVersionText, comment,
                      out->hardwareVersionText, date, time);
    } else {
        std::snprintf(text, sizeof(text), "Firmware: %s\r\nHardware: %s",
                      out->firmwareVersionText, out->hardwareVersionText);
    }
    copyText(out->versionText, sizeof(out->versionText), text, sizeof(text));
}

namespace {

// Reads up to `count` dotted decimal numbers of 0..255 after `key` within text[0, length).
// Returns how many were read (0 when the key is missing or no number follows it).
size_t dottedNumbersAfter(const char* text, size_t length, const char* key, uint8_t* numbers, size_t count) {
    const size_t keyLength = std::strlen(key);
    size_t at = 0;
    for (; at + keyLength <= length; ++at)
        if (std::memcmp(text + at, key, keyLength) == 0)
            break;
    if (at + keyLength > length)
        return 0;
    at += keyLength;
    while (at < length && text[at] == ' ')
        ++at;
    size_t read = 0;
    while (read < count) {
        unsigned value = 0;
        size_t digits = 0;
        while (at < length && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + unsigned(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return 0;  // not a version: leave it unread rather than half read
        numbers[read++] = static_cast<uint8_t>(value);
        if (at >= length || text[at] != '.')
            break;
        ++at;
    }
    return read;
}

}  // namespace

bool decodeUsbVersionText(const char* text, size_t length, VersionFields* out) {
    length = strnlen(text, length);
    std::memset(out->firmwareVersion, 0, sizeof(out->firmwareVersion));
    std::memset(out->hardwareVersion, 0, sizeof(out->hardwareVersion));
    out->firmwareNumber = 0;
    out->firmwareVersionText[0] = '\0';
    out->hardwareVersionText[0] = '\0';

    uint8_t fw[4] = {};
    const bool firmwareRead = dottedNumbersAfter(text, length, "Firmware:", fw, 4) == 4;
    if (firmwareRead) {
        std::memcpy(out->firmwareVersion, fw, 4);
        out->firmwareNumber = static_cast<uint16_t>(fw[0] * 1000u + fw[1] * 100u + fw[2] * 10u + fw[3]);
        std::snprintf(out->firmwareVersionText, sizeof(out->firmwareVersionText), "%u.%u.%u.%u", fw[0], fw[1],
                      fw[2], fw[3]);
    }
    uint8_t hw[4] = {};
    if (dottedNumbersAfter(text, length, "Hardware:", hw, 4) >= 2) {
        std::memcpy(out->hardwareVersion, hw, 4);
        std::snprintf(out->hardwareVersionText, sizeof(out->hardwareVersionText), "%u.%u", hw[0], hw[1]);
    }
    return firmwareRead;
}

void decodeSensorInfo(const uint8_t* reply, size_t length, SensorInfoLayout layout, sensorInfo_t* info,
                      char (&sensorName)[160], char (&mcuId)[32], char (&sku)[32]) {
    uint8_t raw[kSensorInfoLongSize];
    switch (layout) {
        case SensorInfoLayout::Short:
            zeroPadded(raw, reply, std::min(length, kSensorInfoShortSize));
            // A short reply is a whole record of its own: nothing of an earlier read stays.
            std::memset(info, 0, sizeof(*info));
            copyText(info->infoName, sizeof(info->infoName), raw, 32);
            copyText(sensorName, sizeof(sensorName), raw, 32);
            info->sensorType = readWord(raw + 32);
            copyText(info->calibrationDate, sizeof(info->calibrationDate), raw + 36, 16);
            copyText(info->infoText4, sizeof(info->infoText4), raw + 52, 16);
            std::snprintf(mcuId, sizeof(mcuId), "%08x%08x%08x", readWord(raw + 76), readWord(raw + 72),
                          readWord(raw + 68));
            std::memset(sku, 0, sizeof(sku));
            break;
        case SensorInfoLayout::Long:
            zeroPadded(raw, reply, std::min(length, kSensorInfoLongSize));
            std::memcpy(info, raw, sizeof(*info));
            terminate(info->infoName, sizeof(info->infoName));
            terminate(info->infoText1, sizeof(info->infoText1));
            terminate(info->infoText2, sizeof(info->infoText2));
            terminate(info->calibrationDate, sizeof(info->calibrationDate));
            terminate(info->infoText4, sizeof(info->infoText4));
            copyText(sensorName, sizeof(sensorName), raw, 32);
            copyText(sku, sizeof(sku), raw + 36, 32);
            std::snprintf(mcuId, sizeof(mcuId), "%08x%08x%08x", readWord(raw + 108), readWord(raw + 104),
                          readWord(raw + 100));
            break;
        case SensorInfoLayout::Fallback:
            zeroPadded(raw, reply, std::min(length, kSensorInfoFallbackSize));
            copyText(sensorName, sizeof(sensorName), raw + 44, 32);
            break;
    }
    if (info->sensorType == 0 || info->sensorType == 1) info->sensorType = 3;
}

int decodeEngData(const uint8_t* reply, size_t length, uint8_t* destination, size_t destinationSize) {
    if (reply == nullptr || length < 4) return 1;
    const uint32_t n = readWord(reply);
    if (n > 1020 || n > destinationSize || n > length - 4) return 1;
    if (n > 0) std::memcpy(destination, reply + 4, n);
    return 0;
}

namespace {

void putWord(answer_t* answer, size_t offset, uint32_t value) {
    std::memcpy(reinterpret_cast<uint8_t*>(answer) + offset, &value, sizeof(value));
}

}  // namespace

void engDataToAnswerV3(const flam_data_v3_t& data, answer_t* answer) {
    answer->sensorStatus = data.sensorStatus;
    answer->concentration = data.concentration;
    answer->gasId = data.gasId;
    answer->temperature = data.temperature;
    answer->pressure = data.pressure;
    answer->humidity = data.humidity;
    answer->absHumidity = data.absHumidity;
    answer->midCompNorm = data.midCompNorm;
    answer->maxCompNorm = data.maxCompNorm;
    answer->dsc1MidPower = data.dsc1MidPower;
    answer->dsc1MaxPower = data.dsc1MaxPower;
    answer->aux4080 = data.aux4080;
    answer->aux4084 = data.aux4084;
    putWord(answer, 48, data.answerWord48);
    putWord(answer, 52, data.answerWord52);
    putWord(answer, 40, data.answerWord40);
    putWord(answer, 44, data.answerWord44);
    answer->aux4068 = data.aux4068;
    answer->aux4064 = data.aux4064;
    answer->internalStatus = data.internalStatus;
}

void engDataToAnswer(const flam_data_t& data, answer_t* answer) {
    answer->sensorStatus = data.sensorStatus;
    answer->concentration = data.concentration;
    answer->gasId = data.gasId;
    answer->temperature = data.temperature;
    answer->pressure = data.pressure;
    answer->humidity = data.humidity;
    answer->absHumidity = data.absHumidity;
    answer->temperatureRaw = data.temperatureRaw;
    answer->pressureRaw = data.pressureRaw;
    answer->humidityRaw = data.humidityRaw;
    answer->aux4124 = data.aux4124;
    answer->midCompNorm = data.midCompNorm;
    answer->maxCompNorm = data.maxCompNorm;
    answer->dsc1MidPower = data.dsc1MidPower;
    answer->dsc1MaxPower = data.dsc1MaxPower;
    answer->aux4080 = data.aux4080;
    answer->aux4084 = data.aux4084;
    putWord(answer, 48, data.answerWord48);
    putWord(answer, 52, data.answerWord52);
    putWord(answer, 40, data.answerWord40);
    putWord(answer, 44, data.answerWord44);
    answer->aux4068 = data.aux4068;
    answer->aux4064 = data.aux4064;
    answer->internalStatus = data.internalStatus;
}

int decodeVerboseAnswer(const uint8_t* reply, size_t length, bool v3, answer_t* answer, int32_t* sensorCycle) {
    const size_t head = v3 ? sizeof(flam_data_v3_t) : sizeof(flam_data_t);
    constexpr size_t block = sizeof(answer->verboseBlock);
    if (reply == nullptr || length < head + block) return 1;
    std::memcpy(sensorCycle, reply + 4, sizeof(*sensorCycle));
    std::memset(answer, 0, sizeof(*answer));
    if (v3) {
        flam_data_v3_t data;
        std::memcpy(&data, reply, sizeof(data));
        engDataToAnswerV3(data, answer);
    } else {
        flam_data_t data;
        std::memcpy(&data, reply, sizeof(data));
        engDataToAnswer(data, answer);
    }
    std::memcpy(answer->verboseBlock, reply + head, block);
    return 0;
}

size_t paramTransferText(const uint8_t* record, size_t length, const char** text) {
    length = std::min(length, kParamTransferSize);
    if (record == nullptr || length <= 8) {
        *text = "";
        return 0;
    }
    *text = reinterpret_cast<const char*>(record + 8);
    return strnlen(*text, length - 8);
}

int buildParamTransfer(const char* json, uint8_t (&record)[kParamTransferSize]) {
    std::memset(record, 0, sizeof(record));
    const size_t n = json != nullptr ? std::strlen(json) : 0;
    if (n > kParamJsonMax) return 1;
    const uint32_t header[2] = {0, static_cast<uint32_t>(n)};
    std::memcpy(record, header, sizeof(header));
    if (n > 0) std::memcpy(record + 8, json, n);
    return 0;
}

int jsonTextToParams(const char* text, size_t length, kernelParams_t* params) {
    cJSON* document = cJSON_ParseWithLength(text, length);
    const int result = jsonToParams(document, params);
    cJSON_Delete(document);
    return result;
}
