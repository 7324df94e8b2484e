// CRC-16 with the CCITT polynomial 0x1021, MSB first, no reflection, no final XOR.
// Only the seed varies; chaining a check over pieces equals one check over their concatenation.
#pragma once

#include <cstdint>

uint16_t crc16(const uint8_t* data, uint32_t length, uint16_t seed);
uint16_t crc16Xmodem(const uint8_t* data, uint32_t length);  // seed 0x0000
uint16_t crc16Aug(const uint8_t* data, uint32_t length);     // seed 0x1D0F
uint16_t crc16False(const uint8_t* data, uint32_t length);   // seed 0xFFFF
uint16_t crc16Byte(uint16_t reg, uint8_t byte);

// The table built on first use, and the constant table the UART framing reads directly.
const uint16_t* crc16BuiltTable();
extern const uint16_t crc16ConstTable[256];
