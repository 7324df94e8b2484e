// Byte layouts exchanged with the sensor. All records are little-endian with
// IEEE 754 single-precision floats; sizes and offsets are checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(float) == 4, "records carry IEEE 754 single-precision floats");
#if defined(__BYTE_ORDER__) && (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
#error "sensor records are little-endian; this build target is not"
#endif

// Result of every sensor command and dispatcher.
enum VQSStatus : int { VQS_SUCCESS = 0, VQS_FAILURE = 1 };

// State requested from the sensor; sent with the concentration unit in the upper four bits.
enum VQSState : int { VQS_STATE_MEASURING = 2, VQS_STATE_IDLE = 3 };

#pragma pack(push, 1)

// 6-byte UART reply header, followed directly by the payload.
struct uartReplyHeader_t {
    uint8_t cmdId;
    uint8_t status;
    uint16_t length;
    uint16_t checksum;
};

// UART version record (reply of command 0x42).
struct uartVersionRecord_t {
    uint8_t firmware[4];     // major, minor, build, revision
    uint8_t hardware[2];     // major, minor
    uint8_t hardwareExtra[2];
    char comment[16];
    char buildDate[16];
    char buildTime[16];
    uint8_t reserved[2];
};

// Sensor-information record as held by VQS.
struct sensorInfo_t {
    char infoName[32];
    uint32_t sensorType;
    char infoText1[16];
    char infoText2[16];
    char calibrationDate[16];
    char infoText4[12];  // 84..95: the word at 96 ends the record, so the fourth text holds 11 characters
    uint32_t infoWord;
};

// The newest measurement cycle.
struct answer_t {
    uint32_t gasId;
    float concentration;
    uint8_t reserved8[4];
    float midCompNorm;
    float maxCompNorm;
    uint8_t reserved20[8];
    int32_t sensorStatus;
    uint8_t reserved32[4];
    uint8_t verboseBlock[4028];  // bytes 36..4063; the UART rebuild writes the words at 40, 44, 48, 52
    float aux4064;
    float aux4068;
    float dsc1MidPower;
    float dsc1MaxPower;
    float aux4080;
    float aux4084;
    float temperature;
    float pressure;
    float humidity;
    float absHumidity;
    uint8_t reserved4104[8];
    float temperatureRaw;
    float pressureRaw;
    float humidityRaw;
    float aux4124;
    uint32_t internalStatus;
};

// UART engineering data, firmware below 4100.
struct flam_data_v3_t {
    int32_t sensorStatus;
    int32_t sampleNumber;
    float concentration;
    uint32_t gasId;
    float temperature;
    float pressure;
    float humidity;
    float absHumidity;
    float midCompNorm;
    float maxCompNorm;
    float dsc1MidPower;
    float dsc1MaxPower;
    float aux4080;
    float aux4084;
    uint32_t answerWord48;
    uint32_t answerWord52;
    uint32_t answerWord40;
    uint32_t answerWord44;
    float aux4068;
    float aux4064;
    uint32_t internalStatus;
};

// UART engineering data, firmware 4100 and later.
struct flam_data_t {
    int32_t sensorStatus;
    int32_t sampleNumber;
    float concentration;
    uint32_t gasId;
    float temperature;
    float pressure;
    float humidity;
    float absHumidity;
    float temperatureRaw;
    float pressureRaw;
    float humidityRaw;
    float aux4124;
    float midCompNorm;
    float maxCompNorm;
    float dsc1MidPower;
    float dsc1MaxPower;
    float aux4080;
    float aux4084;
    uint32_t answerWord48;
    uint32_t answerWord52;
    uint32_t answerWord40;
    uint32_t answerWord44;
    float aux4068;
    float aux4064;
    uint32_t internalStatus;
};

// Flash read request (UART command 0x44).
struct uart_readflash_t {
    uint32_t address;
    uint32_t count;  // low 16 bits: reply length to receive
};

// Calibration request (UART command 0x47).
struct cal_rqst_t {
    uint32_t command;
    float value;
};

// USB firmware chunk request (command 0x01A4) and the first 8 bytes of its reply.
struct firmwareWriteRequest {
    uint32_t lastChunk;
    uint32_t chunkNumber;
    uint32_t checksum;
    uint8_t data[64];
};

struct firmwareWriteReply {
    uint32_t status;
    uint32_t chunkNumber;
};

// Sensor kernel parameters; travels as JSON inside the parameter transfer record.
struct generalParams_t {
    uint8_t reserved[2];
    char sensorName[32];
    char sku[32];
    char mfgDate[16];
    uint8_t enviroID;
    uint32_t cycle;
    float cycleTime;
    uint8_t autostart;
    uint8_t commChannel;
    uint8_t concUnit;
    uint8_t enableEnviroLatch;
    uint8_t enableOnInFlamLatch;
};

struct dscParams_t {
    uint8_t enabled;
    float midResistance;
    float maxResistance;
    uint16_t midRampTime;
    uint16_t midHoldTime;
    uint16_t maxRampTime;
    uint16_t maxHoldTime;
    uint16_t rampDownTime;
    float minCurrent;
    float maxCurrent;
    float KP;
    float KI;
    float KD;
};

struct flamParams_t {
    uint8_t enabled;
    uint8_t analogOut;
    float analogSlope;
    float analogOffset;
    float analogStatus;
    float analogFault;
    float analogWarn;
    float analogStartupV;
    float analogStartupHold;
    float midNormCoeff;
    float maxNormCoeff;
    float dsc1MidPLS1[6];
    float dsc1MidPLS2[6];
    float dsc1MaxPLS1[6];
    float dsc1MaxPLS2[6];
    char calDateTime[16];
    int16_t crmCycleCount;
    float crmTemperature;
};

struct kernelParams_t {
    generalParams_t general;
    dscParams_t dsc;
    flamParams_t flam;
};

#pragma pack(pop)

constexpr size_t kUartReplyHeaderSize = 6;
constexpr size_t kUartRequestHeaderSize = 8;
constexpr size_t kUartRxAreaSize = 8208;  // reply header plus 8202 payload bytes
constexpr size_t kUsbHeaderSize = 16;
constexpr size_t kParamTransferSize = 2008;
constexpr size_t kParamJsonMax = 1999;

static_assert(sizeof(uartReplyHeader_t) == 6, "UART reply header");
static_assert(sizeof(uartVersionRecord_t) == 58, "UART version record");
static_assert(offsetof(uartVersionRecord_t, comment) == 8 && offsetof(uartVersionRecord_t, buildDate) == 24 &&
                  offsetof(uartVersionRecord_t, buildTime) == 40,
              "version record offsets");
static_assert(sizeof(sensorInfo_t) == 100, "sensor information record");
static_assert(offsetof(sensorInfo_t, sensorType) == 32 && offsetof(sensorInfo_t, calibrationDate) == 68 &&
                  offsetof(sensorInfo_t, infoWord) == 96,
              "sensor information offsets");
static_assert(sizeof(answer_t) == 4132, "answer record");
static_assert(offsetof(answer_t, sensorStatus) == 28 && offsetof(answer_t, verboseBlock) == 36 &&
                  offsetof(answer_t, aux4064) == 4064 && offsetof(answer_t, dsc1MidPower) == 4072 &&
                  offsetof(answer_t, temperature) == 4088 && offsetof(answer_t, absHumidity) == 4100 &&
                  offsetof(answer_t, temperatureRaw) == 4112 && offsetof(answer_t, internalStatus) == 4128,
              "answer offsets");
static_assert(sizeof(flam_data_v3_t) == 84, "engineering data (firmware below 4100)");
static_assert(offsetof(flam_data_v3_t, midCompNorm) == 32 && offsetof(flam_data_v3_t, answerWord48) == 56 &&
                  offsetof(flam_data_v3_t, aux4068) == 72 && offsetof(flam_data_v3_t, internalStatus) == 80,
              "engineering data v3 offsets");
static_assert(sizeof(flam_data_t) == 100, "engineering data");
static_assert(offsetof(flam_data_t, temperatureRaw) == 32 && offsetof(flam_data_t, midCompNorm) == 48 &&
                  offsetof(flam_data_t, answerWord48) == 72 && offsetof(flam_data_t, aux4068) == 88 &&
                  offsetof(flam_data_t, internalStatus) == 96,
              "engineering data offsets");
static_assert(sizeof(uart_readflash_t) == 8 && sizeof(cal_rqst_t) == 8, "request records");
static_assert(sizeof(firmwareWriteRequest) == 76 && offsetof(firmwareWriteRequest, data) == 12, "firmware chunk");
static_assert(sizeof(firmwareWriteReply) == 8, "firmware chunk reply");
