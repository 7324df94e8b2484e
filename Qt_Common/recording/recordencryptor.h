// Writer of the enciphered record files (vqsData.enc, testInfo.enc).
// Record: 4-byte little-endian text length, then the text, each field
// enciphered separately with the key stream from its start.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>

class RecordCipher;

class RecordEncryptor {
public:
    // Longest text one record carries: the writer's 512-byte area less the length field.
    static constexpr uint32_t kRecordArea = 512;
    static constexpr uint32_t kMaxPieceLength = kRecordArea - 4;
    static constexpr uint32_t kFailed = 0xFFFFFFFFu;

    RecordEncryptor();
    ~RecordEncryptor();
    RecordEncryptor(const RecordEncryptor&) = delete;
    RecordEncryptor& operator=(const RecordEncryptor&) = delete;

    // 0: not set up yet; 1: key ready; -1: set-up failed, never retried.
    int encryptState = 0;

    bool EncryptInit(const char* passPhrase);
    void EncryptDeInit();
    // Writes one record of the zero-terminated `text` into `out`; returns its
    // length (text length + 4) or kFailed. Sets the key up on first use.
    uint32_t EncryptData(const uint8_t* text, uint8_t* out, uint32_t outSize);
    // Formats printf-style (numbers as the "C" locale writes them, whatever the
    // process locale) and appends the text to `file` as records, flushing
    // after each. A text longer than one record holds goes out as several
    // consecutive records, so a reader that joins the records gets it whole.
    void writeEncrypted(FILE* file, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    void writeEncryptedV(FILE* file, const char* format, va_list args);
    void writeEncryptedText(FILE* file, const char* text, size_t length);

private:
    void logFailures(bool infoLevel);

    std::unique_ptr<RecordCipher> cipher;
};
