// Enciphered records against the recorded vectors of the Windows provider.
#include <QTemporaryFile>
#include <QtTest>

#include <cstring>

#include "captured_log.h"
#include "cipher.h"
#include "recordencryptor.h"
#include "record_pieces.h"

namespace {

const char* const kTestPassPhrase = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";

const char* const kRecord508 =
    "ae200cfe13634fba17e38507ffeca9cbd69fb32ca166931303d8a02020ac473957c908110b207c922613659a19108ea81b0cc8566"
    "3b52f70e9907296db00b64c95d7cbe44ff4d3f5c7b03ea4f8cfa5c0f8a2ff751ff0c519c2db73f9a8b5de0476079507783be67e03"
    "7bee82af7e32f676a66c3fc576d74550f12c266864deb7baa81c89489fe5208663d3f0e89b466a0aa8d198af612cdc682ea1d6af0"
    "3d26995e67ea30db1d881e9cc77f31adfaf3dbed14616e278f38abd17ad52259476e90653d437a1f68216befcb4f53ba1bff762e3"
    "e5a6da0b739affb2ff4cd9c9fdf68073327ad2516f6274d454865b780fa2bd6966598f80cbe005fc9dc14df8490300d64ebfc9b79"
    "8511503fa7550434a2b4800cad3d85162db786209fe3d8ef6044520aee9f590a0c0c5f583df047c4b8ae51f5e5b70c725727e8560"
    "5c67a882a57cb3687c1d9f3254d1cc27c48f723bbd4bc87feae96305303ed0fdc30ea29d293cecb0efa233ef840b1f7440ffadecd"
    "dada81b9dfbd01a9998ef217ffbcc1c53718941d215187e8c4bce4858d584c2cac992404b1ae67b4c3ada3a453ea8d802089da9b2"
    "ab7a248d9d821117637a3d9e58436c3289932704c85407c4abf4ddb4742cb5a9801e94f0f976309c483d26f6a140578e1713fbc77"
    "59e8534d6560f132485dd555da1973744f921fee3b3541d3d22f1b792a3d2d267456975f51e5425";

QByteArray alphabet(int length) {
    QByteArray text;
    for (int i = 0; i < length; ++i)
        text.append(char('A' + i % 26));
    return text;
}

QByteArray record(RecordEncryptor& encryptor, const QByteArray& text) {
    uint8_t out[512];
    const uint32_t size =
        encryptor.EncryptData(reinterpret_cast<const uint8_t*>(text.constData()), out, sizeof out);
    if (size == RecordEncryptor::kFailed)
        return "failed";
    return QByteArray(reinterpret_cast<const char*>(out), int(size));
}

}  // namespace

class TestCipher : public QObject {
    Q_OBJECT

private slots:
    void recordVectors() {
        RecordEncryptor encryptor;
        QVERIFY(encryptor.EncryptInit(kTestPassPhrase));
        QCOMPARE(encryptor.encryptState, 1);
        QCOMPARE(record(encryptor, "").toHex(), QByteArray("52210cfe"));
        QCOMPARE(record(encryptor, "abc\n").toHex(), QByteArray("56210cfe33436ff4"));
        QCOMPARE(record(encryptor, alphabet(508)).toHex(), QByteArray(kRecord508));
        // The key stream restarts for every field: the same piece gives the same record.
        QCOMPARE(record(encryptor, "abc\n"), record(encryptor, "abc\n"));
    }

    void tooLongForOneRecordIsRefused() {
        RecordEncryptor encryptor;
        QVERIFY(encryptor.EncryptInit(kTestPassPhrase));
        CapturedLog log;
        QCOMPARE(record(encryptor, alphabet(509)), QByteArray("failed"));
        QVERIFY2(log.has(QtDebugMsg, "Insufficient buffer size 512 vs. 512"), qPrintable(log.dump()));
        // The next piece is handled normally.
        QCOMPARE(record(encryptor, "abc\n").toHex(), QByteArray("56210cfe33436ff4"));
    }

    void firstUseSetsUpTheBuiltInPassPhrase() {
        RecordEncryptor encryptor;
        QCOMPARE(encryptor.encryptState, 0);
        const QByteArray first = record(encryptor, "abc\n");
        QCOMPARE(encryptor.encryptState, 1);
        QCOMPARE(first.size(), 8);
        QCOMPARE(decipherPieces(first, builtInPassPhrase), QList<QByteArray>{"abc\n"});
        QVERIFY(first.toHex() != QByteArray("56210cfe33436ff4"));
        QCOMPARE(int(std::strlen(builtInPassPhrase)), 64);
        for (const char* c = builtInPassPhrase; *c; ++c)
            QVERIFY(*c > ' ' && *c < 0x7F);
    }

    void writerSplitsLongPiecesAndKeepsThemWhole() {
        RecordEncryptor encryptor;
        QVERIFY(encryptor.EncryptInit(kTestPassPhrase));
        QTemporaryFile file;
        QVERIFY(file.open());
        FILE* stream = std::fopen(QFile::encodeName(file.fileName()).constData(), "ab");
        QVERIFY(stream);
        const QByteArray status = "1, 33554432, " + alphabet(1200) + ", ";
        encryptor.writeEncrypted(stream, "%s", alphabet(508).constData());
        encryptor.writeEncrypted(stream, "%s", status.constData());
        encryptor.writeEncrypted(stream, "%s", "");
        encryptor.writeEncrypted(stream, "%d%%\r\n", 42);
        encryptor.writeEncrypted(nullptr, "ignored");  // no file: nothing happens
        std::fclose(stream);

        const QByteArray bytes = file.readAll();
        const QList<QByteArray> got = decipherPieces(bytes, kTestPassPhrase);
        QCOMPARE(got.size(), 1 + 3 + 1 + 1);
        QCOMPARE(got[0], alphabet(508));
        QCOMPARE(got[1] + got[2] + got[3], status);
        QCOMPARE(got[1].size(), 508);
        QCOMPARE(got[4], QByteArray());
        QCOMPARE(got[5], QByteArray("42%\r\n"));
        // The unsplit 508-character piece is exactly the vector record.
        QCOMPARE(bytes.left(512).toHex(), QByteArray(kRecord508));
    }
};

QTEST_GUILESS_MAIN(TestCipher)
#include "test_cipher.moc"
