// Checks the Windows cipher against the recorded vectors: built with MinGW and
// run under Wine by scripts/mingw-check-cipher.sh. Prints one line per vector
// and exits non-zero on any mismatch.
#include <cstdio>
#include <cstring>
#include <string>

#include "cipher.h"

namespace {

const char* const kTestPassPhrase = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";

std::string hex(const unsigned char* data, size_t length) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", data[i]);
        text += digits;
    }
    return text;
}

// One record as the writer builds it: size query, then length and text separately.
std::string record(RecordCipher& cipher, const std::string& text) {
    unsigned char out[512] = {};
    const uint32_t n = uint32_t(text.size());
    std::memcpy(out + 4, text.data(), n);
    if (!cipher.querySize(n, (n / 8) * 8 + 8))
        return "size query failed";
    unsigned char length[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    if (!cipher.encipher(length, 4, 4) || !cipher.encipher(out + 4, n, 508))
        return "encipher failed";
    std::memcpy(out, length, 4);
    return hex(out, n + 4);
}

}  // namespace

int main() {
    auto cipher = createRecordCipher();
    if (!cipher->init(kTestPassPhrase)) {
        for (const auto& failure : cipher->takeFailures())
            std::printf("%s %lu\n", failure.message, failure.code);
        return 1;
    }
    std::string long508;
    for (int i = 0; i < 508; ++i)
        long508 += char('A' + i % 26);
    struct Vector {
        const char* name;
        std::string text;
        const char* expectedStart;
    } vectors[] = {
        {"empty", "", "52210cfe"},
        {"abc LF", "abc\n", "56210cfe33436ff4"},
        {"508 characters", long508, "ae200cfe13634fba17e38507ffeca9cbd69fb32ca166931303d8a02020ac4739"},
    };
    int failures = 0;
    for (const Vector& vector : vectors) {
        const std::string got = record(*cipher, vector.text);
        const bool ok = got.compare(0, std::strlen(vector.expectedStart), vector.expectedStart) == 0 &&
                        got.size() == 2 * (vector.text.size() + 4);
        std::printf("%-16s %s\n", vector.name, ok ? "ok" : ("MISMATCH " + got.substr(0, 64)).c_str());
        failures += !ok;
    }
    // A second record of the same text is identical: the key stream restarts.
    const bool repeatable = record(*cipher, "abc\n") == record(*cipher, "abc\n");
    std::printf("%-16s %s\n", "repeatable", repeatable ? "ok" : "MISMATCH");
    failures += !repeatable;
    cipher->release();
    return failures ? 1 : 0;
}
