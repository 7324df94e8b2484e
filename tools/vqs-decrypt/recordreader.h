// Reads the enciphered record files (vqsData.enc, testInfo.enc) back into text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RecordCipher;

struct RecordReadResult {
    std::string text;        // the deciphered text of every complete record, in order
    bool complete = true;    // false when the file breaks off or is corrupt
    uint64_t breakOffset = 0;  // byte offset of the record where reading stopped
    std::string problem;     // what is wrong there
    uint64_t records = 0;
};

// The cipher must be initialised with the pass phrase the file was written with.
RecordReadResult readRecords(const std::vector<uint8_t>& data, RecordCipher& cipher);
