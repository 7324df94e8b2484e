// Windows implementation: the Enhanced Cryptographic Provider's SHA-1 hash and
// RC4 key derivation.
#ifdef _WIN32

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "cipher.h"

namespace {

constexpr DWORD kKeyFlags = 0x00800000;  // 128-bit key length in the upper 16 bits, no salt

class CryptoApiCipher : public RecordCipher {
public:
    ~CryptoApiCipher() override { release(); }

    bool init(const char* passPhrase) override {
        provider = 0;
        key = 0;
        hash = 0;
        if (!CryptAcquireContextA(&provider, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            // Any other error falls through: creating the hash then fails and says so.
            if (GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET)) {
                if (!CryptAcquireContextA(&provider, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
                    fail("Could not create a new key container:", GetLastError());
                    release();
                    return false;
                }
            }
        }
        if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
            fail("Error during CryptCreateHash:", GetLastError());
            release();
            return false;
        }
        if (!CryptHashData(hash, reinterpret_cast<const BYTE*>(passPhrase),
                           static_cast<DWORD>(std::strlen(passPhrase)), 0)) {
            fail("Error during CryptHashData:", GetLastError());
            release();
            return false;
        }
        if (!CryptDeriveKey(provider, CALG_RC4, hash, kKeyFlags, &key)) {
            fail("Error during CryptDeriveKey:", GetLastError());
            release();
            return false;
        }
        return true;
    }

    void release() override {
        if (hash) {
            if (!CryptDestroyHash(hash))
                fail("Error during CryptDestroyHash:", GetLastError());
            hash = 0;
        }
        if (key) {
            if (!CryptDestroyKey(key))
                fail("Error during CryptDestroyKey:", GetLastError());
            key = 0;
        }
        if (provider) {
            if (!CryptReleaseContext(provider, 0))
                fail("Error during CryptReleaseContext:", GetLastError());
            provider = 0;
        }
    }

    bool querySize(uint32_t length, uint32_t bufferLength) override {
        DWORD size = length;
        if (!CryptEncrypt(key, 0, TRUE, 0, nullptr, &size, bufferLength)) {
            fail("Error during CryptEncrypt:", GetLastError());
            return false;
        }
        return true;
    }

    bool encipher(uint8_t* data, uint32_t length, uint32_t bufferLength) override {
        DWORD size = length;
        if (!CryptEncrypt(key, 0, TRUE, 0, data, &size, bufferLength)) {
            fail("Error during CryptEncrypt:", GetLastError());
            return false;
        }
        return true;
    }

private:
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
};

}  // namespace

std::unique_ptr<RecordCipher> createRecordCipher() {
    return std::make_unique<CryptoApiCipher>();
}

#endif
