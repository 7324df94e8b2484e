#include "recordreader.h"

#include <cstring>

#include "cipher.h"

namespace {
// The writer never puts more text than this into one record; a longer length
// field means damage or a wrong pass phrase.
constexpr uint32_t kMaxRecordText = 508;
}  // namespace

RecordReadResult readRecords(const std::vector<uint8_t>& data, RecordCipher& cipher) {
    RecordReadResult result;
    uint64_t offset = 0;
    const uint64_t size = data.size();
    auto stop = [&](std::string problem) {
        result.complete = false;
        result.breakOffset = offset;
        result.problem = std::move(problem);
    };
    while (offset < size) {
        if (size - offset < 4) {
            stop("truncated record: the length field needs 4 bytes, " + std::to_string(size - offset) +
                 " remain");
            break;
        }
        uint8_t field[4];
        std::memcpy(field, data.data() + offset, 4);
        if (!decipher(cipher, field, 4)) {
            stop("the cipher failed");
            break;
        }
        const uint32_t n = uint32_t(field[0]) | uint32_t(field[1]) << 8 | uint32_t(field[2]) << 16 |
                           uint32_t(field[3]) << 24;
        if (n > kMaxRecordText) {
            stop("corrupt record: text length " + std::to_string(n) + " exceeds " +
                 std::to_string(kMaxRecordText) + " (damaged file or wrong pass phrase)");
            break;
        }
        if (size - offset - 4 < n) {
            stop("truncated record: " + std::to_string(n) + " text bytes announced, " +
                 std::to_string(size - offset - 4) + " remain");
            break;
        }
        std::vector<uint8_t> text(data.begin() + long(offset + 4), data.begin() + long(offset + 4 + n));
        if (n && !decipher(cipher, text.data(), n)) {
            stop("the cipher failed");
            break;
        }
        result.text.append(text.begin(), text.end());
        ++result.records;
        offset += 4 + n;
    }
    return result;
}
