// vqs-decrypt: prints enciphered run files and points at the byte where a file breaks.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "cipher.h"

namespace {

const char* const kTestPassPhrase = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";

QByteArray record(const char* passPhrase, const QByteArray& text) {
    auto cipher = createRecordCipher();
    cipher->init(passPhrase);
    const uint32_t n = uint32_t(text.size());
    uint8_t length[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    QByteArray body = text;
    cipher->encipher(length, 4, 4);
    cipher->encipher(reinterpret_cast<uint8_t*>(body.data()), n, n);
    return QByteArray(reinterpret_cast<const char*>(length), 4) + body;
}

struct Run {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

Run decrypt(const QStringList& arguments) {
    QProcess process;
    process.start(VQS_DECRYPT_PATH, arguments);
    process.waitForFinished(10000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

}  // namespace

class TestDecrypt : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

private slots:
    void printsWholeFile() {
        const QByteArray header = "Time [s], Cycle , T [C]";
        const QByteArray row = QByteArray(508, 'x');
        const QString path = write("vqsData.enc", record(kTestPassPhrase, header) + record(kTestPassPhrase, "\r\n") +
                                                      record(kTestPassPhrase, "") + record(kTestPassPhrase, row));
        const Run run = decrypt({"--pass-phrase", kTestPassPhrase, path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, header + "\r\n" + row);
        QVERIFY(run.err.isEmpty());
    }

    void usesTheBuiltInPassPhraseByDefault() {
        const QString path = write("testInfo.enc", record(builtInPassPhrase, "VQS Sensor Interface: 1.8.0.3\n"));
        const Run run = decrypt({path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("VQS Sensor Interface: 1.8.0.3\n"));
    }

    void reportsWhereAFileBreaks_data() {
        QTest::addColumn<int>("cut");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QByteArray>("message");
        // Records: "abc\n" (bytes 0..7), "defgh" (8..16).
        QTest::newRow("inside the length field") << 10 << QByteArray("abc\n")
                                                 << QByteArray("length field needs 4 bytes, 2 remain at byte offset 8");
        QTest::newRow("inside the text") << 15 << QByteArray("abc\n")
                                         << QByteArray("5 text bytes announced, 3 remain at byte offset 8");
        QTest::newRow("inside the first record") << 3 << QByteArray() << QByteArray("at byte offset 0");
    }
    void reportsWhereAFileBreaks() {
        QFETCH(int, cut);
        QFETCH(QByteArray, printed);
        QFETCH(QByteArray, message);
        const QByteArray whole = record(kTestPassPhrase, "abc\n") + record(kTestPassPhrase, "defgh");
        const Run run = decrypt({"-p", kTestPassPhrase, write("cut.enc", whole.left(cut))});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, printed);
        QVERIFY2(run.err.contains(message), run.err.constData());
    }

    void wrongPassPhraseIsCorruption() {
        const QString path = write("other.enc", record(kTestPassPhrase, "abc\n"));
        const Run run = decrypt({path});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains("corrupt record") && run.err.contains("at byte offset 0"), run.err.constData());
    }

    void corruptLengthAfterGoodRecords() {
        QByteArray bytes = record(kTestPassPhrase, "abc\n") + record(kTestPassPhrase, "defgh");
        bytes[10] = char(bytes[10] ^ 0x40);  // length 5 becomes 5 + 0x400000
        const Run run = decrypt({"-p", kTestPassPhrase, write("flipped.enc", bytes)});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray("abc\n"));
        QVERIFY2(run.err.contains("at byte offset 8 (after 1 complete records)"), run.err.constData());
    }

    void usageErrors() {
        QCOMPARE(decrypt({}).exitCode, 1);
        QCOMPARE(decrypt({dir.filePath("missing.enc")}).exitCode, 1);
        QCOMPARE(decrypt({"--help"}).exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestDecrypt)
#include "test_decrypt.moc"
