#include "recordencryptor.h"

#include <QtDebug>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

#include "cformat.h"
#include "cipher.h"

RecordEncryptor::RecordEncryptor() : cipher(createRecordCipher()) {}

RecordEncryptor::~RecordEncryptor() {
    EncryptDeInit();
}

void RecordEncryptor::logFailures(bool infoLevel) {
    for (const RecordCipher::Failure& failure : cipher->takeFailures()) {
        if (infoLevel)
            qInfo() << failure.message << failure.code;
        else
            qDebug() << failure.message << failure.code;
    }
}

bool RecordEncryptor::EncryptInit(const char* passPhrase) {
    if (!cipher->init(passPhrase)) {
        logFailures(false);
        EncryptDeInit();
        encryptState = -1;
        return false;
    }
    encryptState = 1;
    return true;
}

void RecordEncryptor::EncryptDeInit() {
    cipher->release();
    logFailures(false);
}

uint32_t RecordEncryptor::EncryptData(const uint8_t* text, uint8_t* out, uint32_t outSize) {
    const uint32_t n = static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(text)));
    if (encryptState == -1)
        return kFailed;
    if (encryptState == 0 && !EncryptInit(builtInPassPhrase))
        return kFailed;

    std::memset(out, 0, outSize);
    if (outSize > 4)
        std::memcpy(out + 4, text, std::min(n, outSize - 4));

    const uint32_t bufferLength = (n / 8) * 8 + 8;
    if (!cipher->querySize(n, bufferLength)) {
        logFailures(true);
        return kFailed;
    }
    // RC4 keeps the length; the size query's answer is not used because some
    // providers answer with the buffer length instead.
    const uint32_t m = n;
    if (uint64_t(m) + 4 > outSize) {
        qDebug() << "Insufficient buffer size" << outSize << "vs." << bufferLength;
        return kFailed;
    }

    uint8_t length[4] = {uint8_t(m), uint8_t(m >> 8), uint8_t(m >> 16), uint8_t(m >> 24)};
    if (!cipher->encipher(length, 4, 4)) {
        logFailures(true);
        return kFailed;
    }
    std::memcpy(out, length, 4);
    // Never let the provider assume room beyond the output area.
    if (!cipher->encipher(out + 4, m, std::min(bufferLength, outSize - 4))) {
        logFailures(true);
        return kFailed;
    }
    return m + 4;
}

void RecordEncryptor::writeEncryptedText(FILE* file, const char* text, size_t length) {
    if (!file)
        return;
    uint8_t piece[kMaxPieceLength + 1];
    uint8_t record[kRecordArea];
    size_t offset = 0;
    do {
        const size_t take = std::min<size_t>(length - offset, kMaxPieceLength);
        std::memcpy(piece, text + offset, take);
        piece[take] = 0;
        const uint32_t size = EncryptData(piece, record, sizeof record);
        if (size != kFailed) {
            std::fwrite(record, 1, size, file);
            std::fflush(file);
        }
        offset += take;
    } while (offset < length);
}

void RecordEncryptor::writeEncrypted(FILE* file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeEncryptedV(file, format, args);
    va_end(args);
}

void RecordEncryptor::writeEncryptedV(FILE* file, const char* format, va_list args) {
    if (!file)
        return;
    std::string text;
    if (formatCLocale(&text, format, args))
        writeEncryptedText(file, text.data(), text.size());
}
