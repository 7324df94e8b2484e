// The records the simulated sensor sends: checksum, waveform, identity, measurement and
// parameter records, flash contents.
#include "sim_impl.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "vqs_records.h"

namespace vqssim {

// Bitwise on purpose: the device side does not share the client's table code.
uint16_t simCrc16(const uint8_t* data, size_t length, uint16_t seed) {
    uint16_t reg = seed;
    for (size_t i = 0; i < length; ++i) {
        reg ^= uint16_t(data[i] << 8);
        for (int b = 0; b < 8; ++b) reg = (reg & 0x8000) ? uint16_t((reg << 1) ^ 0x1021) : uint16_t(reg << 1);
    }
    return reg;
}

namespace {

template <typename T>
void put(std::vector<uint8_t>& v, size_t offset, const T& value) {
    if (offset + sizeof(T) > v.size()) v.resize(offset + sizeof(T));
    memcpy(v.data() + offset, &value, sizeof(T));
}

void putText(std::vector<uint8_t>& v, size_t offset, const std::string& s, size_t capacity) {
    if (offset + capacity > v.size()) v.resize(offset + capacity);
    size_t n = std::min(s.size(), capacity - 1);  // always NUL-terminated within its field
    memcpy(v.data() + offset, s.data(), n);
    memset(v.data() + offset + n, 0, capacity - n);
}

template <typename T>
std::vector<uint8_t> bytesOf(const T& rec) {
    std::vector<uint8_t> v(sizeof(T));
    memcpy(v.data(), &rec, sizeof(T));
    return v;
}

// Answer words 40, 44, 48, 52 as carried by both engineering layouts.
constexpr uint32_t kWord40 = 0x40, kWord44 = 0x44, kWord48 = 0x48, kWord52 = 0x52;

}  // namespace

namespace {

// Everything of a sample that follows its %LEL reading.
void applyLel(Measurement& w, float lel, uint8_t unit, uint32_t gasId) {
    w.lel = lel;
    switch (unit) {
    case 1: w.concentration = lel * 0.044f; break;
    case 2: w.concentration = lel * 0.88f; break;
    case 3: w.concentration = lel * 440.0f; break;
    default: w.concentration = lel; break;
    }
    w.gasId = lel == 0.0f ? 0 : gasId;
    w.midCompNorm = lel;
    w.maxCompNorm = lel * 1.1f;
    w.dsc1MidPower = 20.0f + lel * 0.1f;
    w.dsc1MaxPower = 30.0f + lel * 0.1f;
    w.analogOut = 0.4f + 0.032f * lel;
}

}  // namespace

Measurement Simulator::waveform(uint32_t n, uint8_t unit, uint32_t gasId) {
    Measurement w{};
    uint32_t phase = n % 60;
    float lel = 0.0f;
    if (phase >= 20 && phase < 40) lel = 2.5f * float(phase - 20);
    else if (phase >= 40) lel = 50.0f - 2.5f * float(phase - 40);
    applyLel(w, lel, unit, gasId);
    w.temperature = 25.0f + 0.1f * float(n % 50);
    w.pressure = 101.3f + 0.01f * float(n % 10);
    w.humidity = 40.0f + float(n % 20);
    w.absHumidity = w.humidity * 0.23f;
    w.temperatureRaw = w.temperature * 100.0f;
    w.pressureRaw = w.pressure * 10.0f;
    w.humidityRaw = w.humidity * 100.0f;
    w.internalStatus = n < 5 ? (1u << 25) : 0u;
    return w;
}

Measurement Simulator::Impl::measure(uint32_t n, uint8_t unit) const {
    Measurement w = waveform(n, unit, id.gasId);
    if (!opt.gasProfile.active()) return w;
    const double period = (opt.samplePeriodMs > 0 ? opt.samplePeriodMs : 1000) / 1000.0;
    const float lel = float(opt.gasProfile.reading((double(n) - 1.0) * period, n));
    applyLel(w, lel, unit, id.gasId);
    // A sensor names no gas for a reading within its noise of zero.
    if (std::fabs(lel) < 1.0f) w.gasId = 0;
    return w;
}

std::vector<uint8_t> Simulator::Impl::versionRecord() const {
    uartVersionRecord_t r{};
    memcpy(r.firmware, id.firmware.data(), 4);
    memcpy(r.hardware, id.hardware.data(), 2);
    std::vector<uint8_t> v = bytesOf(r);
    if (id.shortVersion) {
        v.resize(8);
        return v;
    }
    putText(v, offsetof(uartVersionRecord_t, comment), id.comment, 16);
    putText(v, offsetof(uartVersionRecord_t, buildDate), id.buildDate, 16);
    putText(v, offsetof(uartVersionRecord_t, buildTime), id.buildTime, 16);
    return v;
}

std::string Simulator::Impl::usbVersionText() const {
    if (!id.usbVersionText.empty()) return id.usbVersionText;
    char buf[96];
    snprintf(buf, sizeof buf, "Firmware: %u.%u.%u.%u\r\nHardware: %u.%u", id.firmware[0], id.firmware[1],
             id.firmware[2], id.firmware[3], id.hardware[0], id.hardware[1]);
    return buf;
}

std::vector<uint8_t> Simulator::Impl::sensorInfo(bool fallback) const {
    std::vector<uint8_t> v;
    if (fallback) {
        v.assign(124, 0);
        put(v, 0, uint32_t(0x0124));
        putText(v, 44, id.name, 32);
        put(v, 76, id.sensorType);
        return v;
    }
    if (v3()) {
        v.assign(112, 0);
        putText(v, 0, id.name, 32);
        put(v, 32, id.sensorType);
        putText(v, 36, id.calibrationDate, 16);
        putText(v, 52, id.infoText4, 16);
        put(v, 68, id.mcuId[2]);
        put(v, 72, id.mcuId[1]);
        put(v, 76, id.mcuId[0]);
        return v;
    }
    v.assign(144, 0);
    putText(v, 0, id.name, 32);
    put(v, 32, id.sensorType);
    putText(v, 36, id.sku, 32);
    putText(v, 68, id.calibrationDate, 16);
    putText(v, 84, id.infoText4, 12);
    put(v, 96, uint32_t(0x5EA50001));
    put(v, 100, id.mcuId[2]);
    put(v, 104, id.mcuId[1]);
    put(v, 108, id.mcuId[0]);
    for (size_t i = 112; i < 144; ++i) v[i] = uint8_t(i);
    return v;
}

std::vector<uint8_t> Simulator::Impl::engRecord(uint32_t n) const {
    Measurement w = measure(n, uint8_t(stateByte >> 4));
    int32_t status = statusLocked();
    uint32_t bits = w.internalStatus | extraBits;
    if (v3()) {
        flam_data_v3_t r{};
        r.sensorStatus = status;
        r.sampleNumber = int32_t(n);
        r.concentration = w.concentration;
        r.gasId = w.gasId;
        r.temperature = w.temperature;
        r.pressure = w.pressure;
        r.humidity = w.humidity;
        r.absHumidity = w.absHumidity;
        r.midCompNorm = w.midCompNorm;
        r.maxCompNorm = w.maxCompNorm;
        r.dsc1MidPower = w.dsc1MidPower;
        r.dsc1MaxPower = w.dsc1MaxPower;
        r.aux4080 = 80.0f;
        r.aux4084 = 84.0f;
        r.answerWord48 = kWord48;
        r.answerWord52 = kWord52;
        r.answerWord40 = kWord40;
        r.answerWord44 = kWord44;
        r.aux4068 = 68.0f;
        r.aux4064 = 64.0f;
        r.internalStatus = bits;
        return bytesOf(r);
    }
    flam_data_t r{};
    r.sensorStatus = status;
    r.sampleNumber = int32_t(n);
    r.concentration = w.concentration;
    r.gasId = w.gasId;
    r.temperature = w.temperature;
    r.pressure = w.pressure;
    r.humidity = w.humidity;
    r.absHumidity = w.absHumidity;
    r.temperatureRaw = w.temperatureRaw;
    r.pressureRaw = w.pressureRaw;
    r.humidityRaw = w.humidityRaw;
    r.aux4124 = 124.0f;
    r.midCompNorm = w.midCompNorm;
    r.maxCompNorm = w.maxCompNorm;
    r.dsc1MidPower = w.dsc1MidPower;
    r.dsc1MaxPower = w.dsc1MaxPower;
    r.aux4080 = 80.0f;
    r.aux4084 = 84.0f;
    r.answerWord48 = kWord48;
    r.answerWord52 = kWord52;
    r.answerWord40 = kWord40;
    r.answerWord44 = kWord44;
    r.aux4068 = 68.0f;
    r.aux4064 = 64.0f;
    r.internalStatus = bits;
    return bytesOf(r);
}

namespace {
void fillBlock(uint8_t* block, uint32_t n) {
    for (size_t i = 0; i < 4028; ++i) block[i] = uint8_t((i + n) & 0xFF);
}
}  // namespace

std::vector<uint8_t> Simulator::Impl::verboseAnswer(uint32_t n) const {
    std::vector<uint8_t> v = engRecord(n);
    size_t head = v.size();
    v.resize(head + 4028);
    fillBlock(v.data() + head, n);
    // The block is answer bytes 36..4063: keep the words at 40..52 consistent with the record.
    put(v, head + 4, kWord40);
    put(v, head + 8, kWord44);
    put(v, head + 12, kWord48);
    put(v, head + 16, kWord52);
    return v;
}

std::vector<uint8_t> Simulator::Impl::answerRecord(uint32_t n) const {
    Measurement w = measure(n, uint8_t(stateByte >> 4));
    answer_t a{};
    a.gasId = w.gasId;
    a.concentration = w.concentration;
    a.midCompNorm = w.midCompNorm;
    a.maxCompNorm = w.maxCompNorm;
    a.sensorStatus = statusLocked();
    fillBlock(a.verboseBlock, n);
    memcpy(a.verboseBlock + 4, &kWord40, 4);
    memcpy(a.verboseBlock + 8, &kWord44, 4);
    memcpy(a.verboseBlock + 12, &kWord48, 4);
    memcpy(a.verboseBlock + 16, &kWord52, 4);
    a.aux4064 = 64.0f;
    a.aux4068 = 68.0f;
    a.dsc1MidPower = w.dsc1MidPower;
    a.dsc1MaxPower = w.dsc1MaxPower;
    a.aux4080 = 80.0f;
    a.aux4084 = 84.0f;
    a.temperature = w.temperature;
    a.pressure = w.pressure;
    a.humidity = w.humidity;
    a.absHumidity = w.absHumidity;
    a.temperatureRaw = w.temperatureRaw;
    a.pressureRaw = w.pressureRaw;
    a.humidityRaw = w.humidityRaw;
    a.aux4124 = 124.0f;
    a.internalStatus = w.internalStatus | extraBits;
    return bytesOf(a);
}

std::vector<uint8_t> Simulator::Impl::enviroRecord(uint32_t n) const {
    Measurement w = waveform(n, 0, id.gasId);
    std::vector<uint8_t> v(40, 0);
    put(v, 0, w.temperature);
    put(v, 4, w.pressure);
    put(v, 8, w.humidity);
    put(v, 12, w.absHumidity);
    put(v, 16, w.temperatureRaw);
    put(v, 20, w.pressureRaw);
    put(v, 24, w.humidityRaw);
    put(v, 28, n);
    put(v, 32, uint32_t(0x454E5649));
    put(v, 36, uint32_t(0));
    return v;
}

std::vector<uint8_t> Simulator::Impl::calibrationReply(const uint8_t* req, uint32_t n) const {
    std::vector<uint8_t> v(140);
    for (size_t i = 16; i < v.size(); ++i) v[i] = uint8_t(i);
    memcpy(v.data(), req, 8);  // command and value echoed
    put(v, 8, uint32_t(3));
    put(v, 12, n);
    return v;
}

std::string buildDefaultParams(const Identity& id) {
    cJSON* doc = cJSON_CreateObject();
    cJSON* g = cJSON_AddObjectToObject(doc, "generalParams");
    cJSON_AddStringToObject(g, "sensorName", id.name.substr(0, 31).c_str());
    cJSON_AddStringToObject(g, "sku", id.sku.substr(0, 31).c_str());
    cJSON_AddStringToObject(g, "mfgDate", id.calibrationDate.substr(0, 15).c_str());
    cJSON_AddNumberToObject(g, "enviroID", 2);
    cJSON_AddNumberToObject(g, "cycle", 0);
    cJSON_AddNumberToObject(g, "cycleTime", 1.0);
    cJSON_AddBoolToObject(g, "autostart", 1);
    cJSON_AddNumberToObject(g, "commChannel", 1);
    // Methane and A1 sensors leave the factory configured for PPM (unit code 3).
    cJSON_AddNumberToObject(g, "concUnit", (id.sensorType == 5 || id.sensorType == 6) ? 3 : 0);
    cJSON_AddBoolToObject(g, "enableEnviroLatch", 1);
    cJSON_AddBoolToObject(g, "enableOnInFlamLatch", 0);
    cJSON* dscs = cJSON_AddArrayToObject(doc, "dscParams");
    cJSON* dsc = cJSON_CreateObject();
    cJSON_AddNumberToObject(dsc, "number", 1);
    cJSON_AddBoolToObject(dsc, "enabled", 1);
    cJSON_AddNumberToObject(dsc, "midResistance", 12.5);
    cJSON_AddNumberToObject(dsc, "maxResistance", 18.25);
    cJSON_AddNumberToObject(dsc, "midRampTime", 40);
    cJSON_AddNumberToObject(dsc, "midHoldTime", 200);
    cJSON_AddNumberToObject(dsc, "maxRampTime", 40);
    cJSON_AddNumberToObject(dsc, "maxHoldTime", 200);
    cJSON_AddNumberToObject(dsc, "rampDownTime", 60);
    cJSON_AddNumberToObject(dsc, "minCurrent", 0.5);
    cJSON_AddNumberToObject(dsc, "maxCurrent", 25);
    cJSON_AddNumberToObject(dsc, "KP", 1.5);
    cJSON_AddNumberToObject(dsc, "KI", 0.25);
    cJSON_AddNumberToObject(dsc, "KD", 0);
    cJSON_AddItemToArray(dscs, dsc);
    cJSON* f = cJSON_AddObjectToObject(doc, "flamParams");
    cJSON_AddBoolToObject(f, "enabled", 1);
    cJSON_AddNumberToObject(f, "analogOut", 1);
    cJSON_AddNumberToObject(f, "analogSlope", 0.032);
    cJSON_AddNumberToObject(f, "analogOffset", 0.4);
    cJSON_AddNumberToObject(f, "analogStatus", 0.2);
    cJSON_AddNumberToObject(f, "analogFault", 0.1);
    cJSON_AddNumberToObject(f, "analogWarn", 0.3);
    cJSON_AddNumberToObject(f, "analogStartupV", 0.25);
    cJSON_AddNumberToObject(f, "analogStartupHold", 30);
    cJSON_AddNumberToObject(f, "midNormCoeff", 1);
    cJSON_AddNumberToObject(f, "maxNormCoeff", 1.1);
    cJSON_AddStringToObject(f, "calDateTime", id.calibrationDate.substr(0, 15).c_str());
    cJSON_AddNumberToObject(f, "crmCycleCount", 12);
    cJSON_AddNumberToObject(f, "crmTemperature", 25);
    const float pls[6] = {0.5f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f};
    cJSON_AddItemToObject(f, "dsc1MidPLS1", cJSON_CreateFloatArray(pls, 6));
    cJSON_AddItemToObject(f, "dsc1MidPLS2", cJSON_CreateFloatArray(pls, 6));
    cJSON_AddItemToObject(f, "dsc1MaxPLS1", cJSON_CreateFloatArray(pls, 6));
    cJSON_AddItemToObject(f, "dsc1MaxPLS2", cJSON_CreateFloatArray(pls, 6));
    cJSON_AddObjectToObject(doc, "flamCalData");
    char* text = cJSON_PrintUnformatted(doc);
    std::string out = text ? text : "{}";
    cJSON_free(text);
    cJSON_Delete(doc);
    return out;
}

std::string Simulator::defaultParamsJson() const {
    return buildDefaultParams(identity());
}

std::vector<uint8_t> Simulator::Impl::paramsRecord() const {
    std::vector<uint8_t> v(kParamTransferSize, 0);
    size_t n = std::min(params.size(), kParamJsonMax);
    put(v, 0, uint32_t(0));
    put(v, 4, uint32_t(n));
    memcpy(v.data() + 8, params.data(), n);
    return v;
}

bool Simulator::Impl::acceptParams(const uint8_t* rec, size_t n) {
    if (n != kParamTransferSize) return false;
    uint32_t len;
    memcpy(&len, rec + 4, 4);
    if (len > kParamJsonMax) return false;
    const char* text = reinterpret_cast<const char*>(rec + 8);
    if (strnlen(text, kParamTransferSize - 8) != len) return false;  // length must match the text
    cJSON* doc = cJSON_ParseWithLength(text, len);
    if (!doc) return false;
    const cJSON* g = cJSON_GetObjectItem(doc, "generalParams");
    const cJSON* name = g ? cJSON_GetObjectItem(g, "sensorName") : nullptr;
    if (cJSON_IsString(name) && name->valuestring[0] != '\0') id.name = name->valuestring;
    cJSON_Delete(doc);
    params.assign(text, len);
    return true;
}

void Simulator::Impl::initFlashLocked() {
    if (flashMem.size() != kFlashSize) flashMem.assign(kFlashSize, 0xFF);
    const char* pass =
        "POST passed\r\nRAM: OK\r\nFlash CRC: OK\r\nVDD: 3.30 V\r\nVREF: 1.21 V\r\nADC: OK\r\nEnvironment sensor: OK\r\n";
    const char* fail =
        "POST FAILED: RAM check\r\nRAM: ERROR at 0x20001F00\r\nFlash CRC: OK\r\nVDD: 3.30 V\r\nVREF: 1.21 V\r\n";
    const char* text = postPassed ? pass : fail;
    size_t off = kPostAddress - kFlashBase;
    std::fill(flashMem.begin() + long(off), flashMem.begin() + long(off + 2048), uint8_t(0));
    memcpy(flashMem.data() + off, text, strlen(text) + 1);
}

}  // namespace vqssim
