// Decoders for the records the sensor sends. They take the reply bytes as
// received (any length, any content) and never read or write outside the
// given buffers; the commands call them and the fuzz targets drive them directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vqs_records.h"

// Copies a text of at most srcCapacity bytes (it may lack a terminator) into
// dst, cut to dstCapacity - 1 characters; dst is always NUL-terminated and the
// rest of it zero.
void copyText(char* dst, size_t dstCapacity, const void* src, size_t srcCapacity);

// Numeric and text identity taken from the UART version record.
struct VersionFields {
    uint8_t firmwareVersion[4];
    uint8_t hardwareVersion[4];
    uint16_t firmwareNumber;
    bool v3Answer;
    char firmwareVersionText[32];
    char hardwareVersionText[16];
    char versionText[128];
};

// The USB version reply is text only ("Firmware: 4.1.0.0\r\nComment: ...\r\nHardware: 1.2\r\nDOB: ...").
// Fills the numeric fields and their texts from its "Firmware:" and "Hardware:" lines; a line that does
// not hold dotted numbers of 0..255 leaves its fields zero (and its text empty). versionText and v3Answer
// are not touched. Returns true when the firmware version was read.
bool decodeUsbVersionText(const char* text, size_t length, VersionFields* out);

// payloadLength is the length the reply header announced; bytes beyond
// min(payloadLength, bufferLength) read as zero.
void decodeVersionRecord(const uint8_t* payload, size_t bufferLength, size_t payloadLength, VersionFields* out);

enum class SensorInfoLayout { Short, Long, Fallback };

constexpr size_t kSensorInfoShortSize = 112;
constexpr size_t kSensorInfoLongSize = 144;
constexpr size_t kSensorInfoFallbackSize = 124;

// Fills the sensor-information fields from one reply. The fallback layout
// carries only the name: info, mcuId and sku are left as they were. A sensor
// type of 0 or 1 is replaced by 3 for every layout.
void decodeSensorInfo(const uint8_t* reply, size_t length, SensorInfoLayout layout, sensorInfo_t* info,
                      char (&sensorName)[160], char (&mcuId)[32], char (&sku)[32]);

// Engineering-data reply: uint32 count n, then n bytes. Copies the n bytes to
// destination and returns 0; returns 1 (destination untouched) when n exceeds
// 1020, the reply or the destination.
int decodeEngData(const uint8_t* reply, size_t length, uint8_t* destination, size_t destinationSize);

// Rebuild of the answer record from engineering data: each copies exactly the
// fields its layout carries and touches nothing else.
void engDataToAnswerV3(const flam_data_v3_t& data, answer_t* answer);
void engDataToAnswer(const flam_data_t& data, answer_t* answer);

// Verbose UART answer (4112 bytes for v3, 4128 otherwise): clears the answer,
// converts the leading engineering record and copies the detail block.
// Returns 1 without touching anything when the reply is shorter than that.
int decodeVerboseAnswer(const uint8_t* reply, size_t length, bool v3, answer_t* answer, int32_t* sensorCycle);

// Parameter transfer record: uint32 0, uint32 text length, NUL-terminated JSON
// text from byte 8. Returns the length of the text, bounded by the record.
size_t paramTransferText(const uint8_t* record, size_t length, const char** text);

// Builds the 2008-byte transfer record around a JSON text; returns 1 when the
// text does not fit (more than 1999 characters).
int buildParamTransfer(const char* json, uint8_t (&record)[kParamTransferSize]);

// JSON text (not necessarily NUL-terminated) to parameters: 0 success, 1 failure.
int jsonTextToParams(const char* text, size_t length, kernelParams_t* params);
