// Reads enciphered record files back: each record is a 4-byte enciphered
// little-endian length and that many enciphered bytes, all from one key stream.
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstring>

#include "cipher.h"

// The deciphered pieces of `file` in order; "<broken>" stands for a tail that is
// no whole record.
inline QList<QByteArray> decipherPieces(const QByteArray& file, const char* passPhrase) {
    auto cipher = createRecordCipher();
    cipher->init(passPhrase);
    QList<QByteArray> out;
    int offset = 0;
    while (offset + 4 <= file.size()) {
        uint8_t length[4];
        std::memcpy(length, file.constData() + offset, 4);
        decipher(*cipher, length, 4);
        const uint32_t n = uint32_t(length[0]) | uint32_t(length[1]) << 8 | uint32_t(length[2]) << 16 |
                           uint32_t(length[3]) << 24;
        if (n > 508 || offset + 4 + int(n) > file.size())
            break;
        QByteArray text = file.mid(offset + 4, int(n));
        decipher(*cipher, reinterpret_cast<uint8_t*>(text.data()), n);
        out.append(text);
        offset += 4 + int(n);
    }
    if (offset != file.size())
        out.append("<broken>");
    return out;
}
