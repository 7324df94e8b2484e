// Code tables naming the sensor's numbers, and the rebuild of the answer record
// from UART engineering data.
#include <cstring>

#include "presentation.h"
#include "vqs.h"
#include "vqs_decode.h"

namespace {

struct CodeText {
    uint32_t code;
    const char* text;
};

constexpr CodeText kSensorTypes[] = {
    {3, "VQS Flam. Gas"},
    {4, "VQS A2L Refrigerant"},
    {5, "VQS Methane Gas"},
    {6, "VQS A1 Gas"},
};

constexpr CodeText kStatusCodes[] = {
    {0x20, "Analog Out Failed"},
    {0x21, "VDD Out of Range"},
    {0x22, "VREF Out of Range"},
    {0x23, "Environmental Out of Range"},
    {0x24, "Environmental Sensor Malfunction"},
    {0x25, "MCU Error"},
    {0x26, "Sensor Initializing"},
    {0x27, "Sensor Start-Up"},
    {0x28, "Sensor Warm-Up"},
    {0x30, "Sensor Output Negative"},
    {0x31, "Condensation Condition"},
    {0x32, "Sensor Malfunction"},
    {0x33, "Sensor started in flammable gas"},
    {0x34, "Sensor detected slow leak"},
    {0x35, "Breath or humidity surge"},
    {0x36, "Watchdog reset"},
    {0x37, "Watchdog error"},
};

// Internal-status bits in table order; the first entry has no bit and never matches.
constexpr CodeText kStatusBits[] = {
    {0, "Success"},
    {1u << 0, "Constant Resistance"},
    {1u << 1, "Analog Out Error"},
    {1u << 2, "POST Failed"},
    {1u << 3, "VDD"},
    {1u << 4, "MCU Flash"},
    {1u << 5, "Sensor Start-Up"},
    {1u << 6, "IDE"},
    {1u << 7, "VREF"},
    {1u << 8, "Temp Out of Range"},
    {1u << 9, "Temp Sensor Malfunction"},
    {1u << 10, "Humidity Out of Range"},
    {1u << 11, "Humidity Sensor Malfunction"},
    {1u << 12, "Pressure Out of Range"},
    {1u << 13, "Pressure Sensor Malfunction"},
    {1u << 14, "Sensor Negative"},
    {1u << 15, "Kelvin Resistance"},
    {1u << 16, "Total Resistance"},
    {1u << 17, "RefMid R Target"},
    {1u << 18, "RefMax R Target"},
    {1u << 19, "RefMid Power"},
    {1u << 20, "RefMax Power"},
    {1u << 21, "Condensation"},
    {1u << 22, "Sensor Initializing"},
    {1u << 23, "On In Flam"},
    {1u << 24, "Slow Leak"},
    {1u << 25, "Sensor Warm Up"},
    {1u << 26, "Breath or Humdity Surge"},
    {1u << 27, "ADC Error"},
    {1u << 28, "Watchdog Error"},
    {1u << 29, "Watchdog Reset"},
    {1u << 30, "Configuration Error"},
    {1u << 31, "RAM Error"},
};

template <size_t N>
const char* lookup(const CodeText (&table)[N], uint32_t code) {
    for (const CodeText& entry : table) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

}  // namespace

// Gas and unit names are the program's shared presentation table.
const char* gasTableText(uint32_t id) {
    return presentation::gasName(id);
}

const char* concUnitText(uint8_t code) {
    return presentation::unitName(code);
}

const char* sensorTypeText(uint32_t type) {
    const char* text = lookup(kSensorTypes, type);
    return text != nullptr ? text : "Unknown Sensor";
}

const char* statusCodeText(uint8_t code) {
    return lookup(kStatusCodes, code);
}

void statusBitsToText(uint32_t bits, char* out) {
    char* p = out;
    for (const CodeText& entry : kStatusBits) {
        if ((bits & entry.code) == 0) continue;
        if (p != out) *p++ = ':';
        const size_t n = std::strlen(entry.text);
        std::memcpy(p, entry.text, n);
        p += n;
    }
    *p = '\0';
}

void VQS::gasNameFromId(uint32_t id) {
    const QByteArray text = presentation::gasText(id).toLatin1();
    copyText(gasName, sizeof(gasName), text.constData(), size_t(text.size()));
}

void VQS::uartEngDataToVerboseAnswerV3(flam_data_v3_t* data) {
    if (data != nullptr) engDataToAnswerV3(*data, &answer);
}

void VQS::uartEngDataToVerboseAnswer(flam_data_t* data) {
    if (data != nullptr) engDataToAnswer(*data, &answer);
}
