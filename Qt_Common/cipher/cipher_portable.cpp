// Portable implementation: reproduces the Windows provider's derivation with
// nettle's SHA-1 and RC4.
#ifndef _WIN32

#include <nettle/arcfour.h>
#include <nettle/sha1.h>

#include <cstring>

#include "cipher.h"

namespace {

constexpr unsigned kKeyLength = 16;  // 128-bit RC4 key

class PortableCipher : public RecordCipher {
public:
    bool init(const char* passPhrase) override {
        sha1_ctx hash;
        sha1_init(&hash);
        sha1_update(&hash, std::strlen(passPhrase), reinterpret_cast<const uint8_t*>(passPhrase));
        uint8_t digest[SHA1_DIGEST_SIZE];
        sha1_digest(&hash, sizeof digest, digest);
        std::memcpy(key, digest, kKeyLength);
        ready = true;
        return true;
    }

    void release() override {
        std::memset(key, 0, sizeof key);
        ready = false;
    }

    bool querySize(uint32_t, uint32_t) override { return ready; }

    bool encipher(uint8_t* data, uint32_t length, uint32_t) override {
        if (!ready)
            return false;
        arcfour_ctx stream;
        arcfour_set_key(&stream, kKeyLength, key);
        arcfour_crypt(&stream, length, data, data);
        return true;
    }

private:
    uint8_t key[kKeyLength] = {};
    bool ready = false;
};

}  // namespace

std::unique_ptr<RecordCipher> createRecordCipher() {
    return std::make_unique<PortableCipher>();
}

#endif
