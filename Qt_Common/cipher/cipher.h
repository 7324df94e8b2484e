// RC4 encipherment of the run's enciphered copies, free of Qt so that the
// Windows build and the reader tool share it.
//
// Key: the first 16 bytes of the SHA-1 of the pass phrase (no salt), as the
// Windows provider derives a 128-bit RC4 key from a SHA-1 hash. Every
// encipher() call starts the key stream afresh, as the provider does after a
// call with the final flag, so records never depend on each other.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// The program's own pass phrase (64 printable ASCII characters).
extern const char* const builtInPassPhrase;

class RecordCipher {
public:
    // A failed provider call: the message to log and the system error code.
    struct Failure {
        const char* message;
        unsigned long code;
    };

    virtual ~RecordCipher() = default;

    // Derives the key from passPhrase (its characters without the terminator).
    virtual bool init(const char* passPhrase) = 0;
    // Releases what init acquired; harmless when nothing is held.
    virtual void release() = 0;
    // Asks the provider whether `length` bytes can be enciphered in a buffer of
    // `bufferLength` bytes. RC4 keeps the length, so only success matters.
    virtual bool querySize(uint32_t length, uint32_t bufferLength) = 0;
    // Enciphers `length` bytes in place with the key stream from its start;
    // `bufferLength` (>= length) is the room the data area has.
    virtual bool encipher(uint8_t* data, uint32_t length, uint32_t bufferLength) = 0;

    // Failures recorded since the last call, oldest first.
    std::vector<Failure> takeFailures();

protected:
    void fail(const char* message, unsigned long code);

private:
    std::vector<Failure> failures;
};

// The platform's implementation: CryptoAPI on Windows, a portable one elsewhere.
std::unique_ptr<RecordCipher> createRecordCipher();

// RC4 is symmetric, so deciphering a field is enciphering it again.
inline bool decipher(RecordCipher& cipher, uint8_t* data, uint32_t length) {
    return cipher.encipher(data, length, length);
}
