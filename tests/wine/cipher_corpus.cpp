// Writes the enciphered record of every piece length 0..508 (Latin-1 text) with the
// platform's cipher. Built natively it uses the portable cipher, built with mingw-w64 the
// CryptoAPI one; the two output files must be byte-identical.
//   cipher_corpus <output file>
#include <cstdio>
#include <vector>

#include "cipher.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    const char* const passPhrase = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";
    auto cipher = createRecordCipher();
    if (!cipher->init(passPhrase)) {
        std::fprintf(stderr, "cipher initialisation failed\n");
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) return 1;
    for (uint32_t n = 0; n <= 508; ++n) {
        // Printable Latin-1, upper half included (0x20..0x7E, 0xA0..0xFF).
        std::vector<uint8_t> record(4 + n);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t k = (i * 31 + n * 7) % 190;
            record[4 + i] = static_cast<uint8_t>(k < 95 ? 0x20 + k : 0xA0 + (k - 95));
        }
        uint8_t length[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
        if (!cipher->querySize(n, 512) || !cipher->encipher(length, 4, 4) ||
            !cipher->encipher(record.data() + 4, n, 508)) {
            std::fprintf(stderr, "encipher failed at length %u\n", n);
            return 1;
        }
        for (int i = 0; i < 4; ++i) record[i] = length[i];
        std::fwrite(record.data(), 1, record.size(), out);
    }
    cipher->release();
    return std::fclose(out) == 0 ? 0 : 1;
}
