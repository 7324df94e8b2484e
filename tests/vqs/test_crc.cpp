#include <QtTest>

#include <cstring>
#include <thread>
#include <vector>

#include "vqs_crc.h"

namespace {
const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
}

class TestCrc : public QObject {
    Q_OBJECT

private slots:
    // First test on purpose: several threads race to build the table on first use.
    void firstUseFromSeveralThreads() {
        std::vector<uint16_t> results(4);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < results.size(); ++i)
            threads.emplace_back([&results, i] { results[i] = crc16False(kDigits, sizeof(kDigits)); });
        for (std::thread& t : threads) t.join();
        for (uint16_t r : results) QCOMPARE(r, uint16_t(0x29B1));
    }

    void catalogueValues() {
        QCOMPARE(crc16False(kDigits, sizeof(kDigits)), uint16_t(0x29B1));
        QCOMPARE(crc16Xmodem(kDigits, sizeof(kDigits)), uint16_t(0x31C3));
        QCOMPARE(crc16Aug(kDigits, sizeof(kDigits)), uint16_t(0xE5CC));
        QCOMPARE(crc16(kDigits, sizeof(kDigits), 0xFFFF), uint16_t(0x29B1));
        const uint8_t abc[] = {'a', 'b', 'c'};
        QCOMPARE(crc16False(abc, 3), uint16_t(0x514A));
    }

    void emptyInputReturnsSeed() {
        QCOMPARE(crc16(kDigits, 0, 0x1234), uint16_t(0x1234));
        QCOMPARE(crc16(nullptr, 9, 0xBEEF), uint16_t(0xBEEF));
        QCOMPARE(crc16False(nullptr, 0), uint16_t(0xFFFF));
        QCOMPARE(crc16Aug(nullptr, 5), uint16_t(0x1D0F));
    }

    void chainingEqualsConcatenation() {
        uint8_t packet[80];
        for (unsigned i = 0; i < sizeof(packet); ++i) packet[i] = static_cast<uint8_t>(i * 37 + 11);
        const uint16_t whole = crc16False(packet, sizeof(packet));
        for (uint32_t split : {0u, 1u, 6u, 16u, 79u, 80u}) {
            const uint16_t head = crc16False(packet, split);
            QCOMPARE(crc16(packet + split, sizeof(packet) - split, head), whole);
        }
        uint16_t reg = 0xFFFF;
        for (uint8_t b : packet) reg = crc16Byte(reg, b);
        QCOMPARE(reg, whole);
    }

    void tablesIdentical() {
        const uint16_t* built = crc16BuiltTable();
        QCOMPARE(built[0], uint16_t(0x0000));
        QCOMPARE(built[1], uint16_t(0x1021));
        QCOMPARE(built[2], uint16_t(0x2042));
        QCOMPARE(built[255], uint16_t(0x1EF0));
        QVERIFY(std::memcmp(built, crc16ConstTable, sizeof(crc16ConstTable)) == 0);
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "test_crc.moc"
