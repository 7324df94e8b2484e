// Code tables and the record decoders: texts byte for byte, the rebuild of the
// answer record from both engineering layouts, and decoders fed hostile bytes.
#include <QtTest>

#include <cstring>
#include <vector>

#include "record_fields.h"
#include "vqs.h"
#include "vqs_decode.h"

namespace {

const char* const kBitTexts[32] = {
    "Constant Resistance", "Analog Out Error", "POST Failed", "VDD", "MCU Flash", "Sensor Start-Up", "IDE", "VREF",
    "Temp Out of Range", "Temp Sensor Malfunction", "Humidity Out of Range", "Humidity Sensor Malfunction",
    "Pressure Out of Range", "Pressure Sensor Malfunction", "Sensor Negative", "Kelvin Resistance",
    "Total Resistance", "RefMid R Target", "RefMax R Target", "RefMid Power", "RefMax Power", "Condensation",
    "Sensor Initializing", "On In Flam", "Slow Leak", "Sensor Warm Up", "Breath or Humdity Surge", "ADC Error",
    "Watchdog Error", "Watchdog Reset", "Configuration Error", "RAM Error",
};

void putWord(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

// Every 32-bit word of the record gets a value naming its offset: 0x1000 + offset.
template <typename T>
T numberedRecord() {
    std::vector<uint8_t> bytes(sizeof(T));
    for (size_t off = 0; off < sizeof(T); off += 4) putWord(bytes, off, 0x1000u + static_cast<uint32_t>(off));
    T record;
    std::memcpy(&record, bytes.data(), sizeof(T));
    return record;
}

// Source offset -> answer offset, rows of the mapping table (sample number not copied).
struct Move {
    uint32_t from, to;
};
const std::vector<Move> kV3Map = {{0, 28},     {8, 4},      {12, 0},     {16, 4088},  {20, 4092},
                                  {24, 4096},  {28, 4100},  {32, 12},    {36, 16},    {40, 4072},
                                  {44, 4076},  {48, 4080},  {52, 4084},  {56, 48},    {60, 52},
                                  {64, 40},    {68, 44},    {72, 4068},  {76, 4064},  {80, 4128}};
const std::vector<Move> kMap = {{0, 28},     {8, 4},      {12, 0},     {16, 4088},  {20, 4092},  {24, 4096},
                                {28, 4100},  {32, 4112},  {36, 4116},  {40, 4120},  {44, 4124},  {48, 12},
                                {52, 16},    {56, 4072},  {60, 4076},  {64, 4080},  {68, 4084},  {72, 48},
                                {76, 52},    {80, 40},    {84, 44},    {88, 4068},  {92, 4064},  {96, 4128}};

// The conversion writes exactly the mapped words; every other byte keeps its canary.
void verifyMapping(const answer_t& answer, const std::vector<Move>& map) {
    std::vector<uint8_t> bytes(sizeof(answer));
    std::memcpy(bytes.data(), &answer, sizeof(answer));
    std::vector<bool> written(sizeof(answer), false);
    for (const Move& m : map) {
        uint32_t word;
        std::memcpy(&word, bytes.data() + m.to, 4);
        QCOMPARE(word, 0x1000u + m.from);
        for (int i = 0; i < 4; ++i) written[m.to + i] = true;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!written[i] && bytes[i] != 0xAB) QFAIL(qPrintable(QStringLiteral("byte %1 touched").arg(i)));
    }
}

std::vector<uint8_t> versionReply(uint8_t major, uint8_t minor, uint8_t build, uint8_t rev) {
    std::vector<uint8_t> r(58, 0);
    r[0] = major; r[1] = minor; r[2] = build; r[3] = rev;
    r[4] = 2; r[5] = 1; r[6] = 0xEE; r[7] = 0xFF;
    std::memcpy(r.data() + 8, "release", 7);
    std::memcpy(r.data() + 24, "Jan 15 2024", 11);
    std::memcpy(r.data() + 40, "10:20:30", 8);
    return r;
}

}  // namespace

class TestTables : public QObject {
    Q_OBJECT

private slots:
    void gasNames() {
        VQS vqs;
        const std::pair<uint32_t, const char*> known[] = {
            {0, "None"},       {1, "Hydrogen"},  {2, "Hydrogen Mixture"}, {3, "Methane"}, {4, "Light Gas"},
            {5, "Medium Gas"}, {6, "Heavy Gas"}, {7, "A2L"},              {8, "A1"},      {255, "Over Range"}};
        for (const auto& entry : known) {
            vqs.gasNameFromId(entry.first);
            QCOMPARE(txt(vqs.gasName), txt(entry.second));
        }
        vqs.gasNameFromId(9);
        QCOMPARE(txt(vqs.gasName), txt("Unknown Gas: 9"));
        QVERIFY(gasTableText(9) == nullptr);
        vqs.gasNameFromId(0xFFFFFFFFu);
        QCOMPARE(txt(vqs.gasName), txt("Unknown Gas: 4294967295"));
    }

    void unitsTypesAndStatusCodes() {
        QCOMPARE(concUnitText(0), "%LEL(ISO)");
        QCOMPARE(concUnitText(1), "%VOL");
        QCOMPARE(concUnitText(2), "%LEL(IEC)");
        QCOMPARE(concUnitText(3), "PPM");
        QVERIFY(concUnitText(4) == nullptr);

        QCOMPARE(sensorTypeText(3), "VQS Flam. Gas");
        QCOMPARE(sensorTypeText(4), "VQS A2L Refrigerant");
        QCOMPARE(sensorTypeText(5), "VQS Methane Gas");
        QCOMPARE(sensorTypeText(6), "VQS A1 Gas");
        QCOMPARE(sensorTypeText(0), "Unknown Sensor");
        QCOMPARE(sensorTypeText(7), "Unknown Sensor");

        const std::pair<uint8_t, const char*> codes[] = {
            {0x20, "Analog Out Failed"},         {0x21, "VDD Out of Range"},
            {0x22, "VREF Out of Range"},         {0x23, "Environmental Out of Range"},
            {0x24, "Environmental Sensor Malfunction"}, {0x25, "MCU Error"},
            {0x26, "Sensor Initializing"},       {0x27, "Sensor Start-Up"},
            {0x28, "Sensor Warm-Up"},            {0x30, "Sensor Output Negative"},
            {0x31, "Condensation Condition"},    {0x32, "Sensor Malfunction"},
            {0x33, "Sensor started in flammable gas"}, {0x34, "Sensor detected slow leak"},
            {0x35, "Breath or humidity surge"},  {0x36, "Watchdog reset"},
            {0x37, "Watchdog error"}};
        for (const auto& c : codes) QCOMPARE(statusCodeText(c.first), c.second);
        for (uint8_t missing : {0x00, 0x1F, 0x29, 0x2F, 0x38, 0xFF}) QVERIFY(statusCodeText(missing) == nullptr);
    }

    void statusBitsEachAlone() {
        for (int bit = 0; bit < 32; ++bit) {
            char out[502];
            statusBitsToText(1u << bit, out);
            QCOMPARE(txt(out), txt(kBitTexts[bit]));
        }
    }

    void statusBitsJoined() {
        char out[600];
        std::memset(out, 'x', sizeof(out));
        statusBitsToText(0, out);
        QCOMPARE(txt(out), txt(""));

        statusBitsToText(0x80000001u, out);
        QCOMPARE(txt(out), txt("Constant Resistance:RAM Error"));

        // All 32: every text once, bit 0 first, one colon between; the longest result fits 502 bytes.
        std::memset(out, 'x', sizeof(out));
        statusBitsToText(0xFFFFFFFFu, out);
        QStringList expected;
        for (const char* t : kBitTexts) expected << QString::fromLatin1(t);
        QCOMPARE(QString::fromLatin1(out), expected.join(':'));
        QCOMPARE(std::strlen(out), size_t(501));
        QCOMPARE(out[502], 'x');
    }

    void engDataV3ToAnswer() {
        answer_t answer;
        std::memset(&answer, 0xAB, sizeof(answer));
        const flam_data_v3_t data = numberedRecord<flam_data_v3_t>();
        engDataToAnswerV3(data, &answer);
        verifyMapping(answer, kV3Map);
    }

    void engDataToAnswerRecord() {
        answer_t answer;
        std::memset(&answer, 0xAB, sizeof(answer));
        const flam_data_t data = numberedRecord<flam_data_t>();
        engDataToAnswer(data, &answer);
        verifyMapping(answer, kMap);
    }

    void verboseAnswer() {
        for (bool v3 : {true, false}) {
            const size_t head = v3 ? 84 : 100;
            std::vector<uint8_t> reply(head + 4028);
            for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 7);
            putWord(reply, 4, 1234);
            answer_t answer;
            std::memset(&answer, 0xAB, sizeof(answer));
            int32_t cycle = -1;
            QCOMPARE(decodeVerboseAnswer(reply.data(), reply.size() - 1, v3, &answer, &cycle), 1);
            QCOMPARE(cycle, -1);
            QCOMPARE(decodeVerboseAnswer(reply.data(), reply.size(), v3, &answer, &cycle), 0);
            QCOMPARE(cycle, 1234);
            // The detail block is copied last, over the words the conversion wrote.
            QVERIFY(std::memcmp(answer.verboseBlock, reply.data() + head, 4028) == 0);
            QCOMPARE(val(answer.reserved8[0]), uint8_t(0));                      // cleared, not carried
            QCOMPARE(answer.temperatureRaw == 0.0f, v3);                    // only the long layout has raw T
            uint32_t status;
            std::memcpy(&status, reply.data(), 4);
            QCOMPARE(static_cast<uint32_t>(answer.sensorStatus), status);
        }
    }

    void versionRecordLayouts() {
        VersionFields v;
        std::vector<uint8_t> r = versionReply(4, 0, 9, 9);
        decodeVersionRecord(r.data(), r.size(), 58, &v);
        QCOMPARE(val(v.firmwareNumber), uint16_t(4099));
        QVERIFY(v.v3Answer);
        QCOMPARE(txt(v.versionText), txt("Firmware: 4.0.9.9\r\nComment: release\r\nHardware: 2.1\r\nDOB: Jan 15 2024 10:20:30"));
        QCOMPARE(val(v.hardwareVersion[2]), uint8_t(0xEE));
        QCOMPARE(val(v.hardwareVersion[3]), uint8_t(0xFF));

        r = versionReply(4, 1, 0, 0);
        decodeVersionRecord(r.data(), r.size(), 8, &v);  // a short reply: bytes past 8 were never sent
        QCOMPARE(val(v.firmwareNumber), uint16_t(4100));
        QVERIFY(!v.v3Answer);
        QCOMPARE(txt(v.firmwareVersionText), txt("4.1.0.0"));
        QCOMPARE(txt(v.versionText), txt("Firmware: 4.1.0.0\r\nHardware: 2.1"));

        // Texts filling their whole field without a terminator stay inside it.
        std::memset(r.data() + 8, 'C', 48);
        decodeVersionRecord(r.data(), r.size(), 58, &v);
        QCOMPARE(txt(v.versionText), txt(
                 "Firmware: 4.1.0.0\r\nComment: CCCCCCCCCCCCCCCC\r\nHardware: 2.1\r\nDOB: CCCCCCCCCCCCCCCC "
                 "CCCCCCCCCCCCCCCC"));
    }

    void sensorInfoShortLayout() {
        std::vector<uint8_t> r(112, 0);
        std::memcpy(r.data(), "SENSOR-A", 8);
        putWord(r, 32, 1);
        std::memcpy(r.data() + 36, "2024-01-15", 10);
        std::memset(r.data() + 52, 'F', 16);  // fourth text without terminator
        putWord(r, 68, 0x11111111);
        putWord(r, 72, 0x22222222);
        putWord(r, 76, 0xabcdef01);
        sensorInfo_t info;
        std::memset(&info, 0x55, sizeof(info));
        char name[160], mcu[32], sku[32] = "OLD-SKU";
        decodeSensorInfo(r.data(), r.size(), SensorInfoLayout::Short, &info, name, mcu, sku);
        QCOMPARE(val(info.sensorType), 3u);  // type 1 reads as 3
        QCOMPARE(sensorTypeText(info.sensorType), "VQS Flam. Gas");
        QCOMPARE(txt(name), txt("SENSOR-A"));
        QCOMPARE(txt(info.infoName), txt("SENSOR-A"));
        QCOMPARE(txt(info.calibrationDate), txt("2024-01-15"));
        QCOMPARE(txt(info.infoText4), txt("FFFFFFFFFFF"));
        QCOMPARE(txt(info.infoText1), txt(""));
        QCOMPARE(txt(sku), txt(""));
        QCOMPARE(txt(mcu), txt("abcdef012222222211111111"));
    }

    void sensorInfoLongLayout() {
        std::vector<uint8_t> r(144, 0);
        for (size_t i = 0; i < 100; ++i) r[i] = static_cast<uint8_t>('a' + i % 26);
        putWord(r, 32, 0);
        putWord(r, 100, 0x00000001);
        putWord(r, 104, 0x00000002);
        putWord(r, 108, 0xffffffff);
        sensorInfo_t info;
        char name[160], mcu[32], sku[32];
        decodeSensorInfo(r.data(), r.size(), SensorInfoLayout::Long, &info, name, mcu, sku);
        QCOMPARE(val(info.sensorType), 3u);
        QCOMPARE(txt(mcu), txt("ffffffff0000000200000001"));
        QCOMPARE(std::strlen(name), size_t(32));  // the name field is 32 bytes; the name member has room
        QCOMPARE(std::strlen(info.infoName), size_t(31));
        QCOMPARE(std::strlen(sku), size_t(31));
        QVERIFY(std::memcmp(sku, r.data() + 36, 31) == 0);
        QVERIFY(std::memcmp(info.infoText2, r.data() + 52, 15) == 0);
        QCOMPARE(val(info.infoText2[15]), '\0');

        // A short reply: the bytes not sent read as zero.
        r.assign(40, 'N');
        putWord(r, 32, 6);
        decodeSensorInfo(r.data(), r.size(), SensorInfoLayout::Long, &info, name, mcu, sku);
        QCOMPARE(val(info.sensorType), 6u);
        QCOMPARE(txt(mcu), txt("000000000000000000000000"));
        QCOMPARE(txt(sku), txt("NNNN"));
    }

    void sensorInfoFallbackTakesOnlyTheName() {
        std::vector<uint8_t> r(124, 0);
        std::memcpy(r.data() + 44, "FALLBACK-NAME", 13);
        sensorInfo_t info{};
        info.sensorType = 5;
        char name[160] = "old", mcu[32] = "mcu", sku[32] = "sku";
        decodeSensorInfo(r.data(), r.size(), SensorInfoLayout::Fallback, &info, name, mcu, sku);
        QCOMPARE(txt(name), txt("FALLBACK-NAME"));
        QCOMPARE(txt(mcu), txt("mcu"));
        QCOMPARE(txt(sku), txt("sku"));
        QCOMPARE(val(info.sensorType), 5u);
    }

    void engDataCounts() {
        std::vector<uint8_t> reply(1024, 0x77);
        uint8_t dest[100];
        std::memset(dest, 0, sizeof(dest));
        putWord(reply, 0, 100);
        QCOMPARE(decodeEngData(reply.data(), reply.size(), dest, sizeof(dest)), 0);
        QCOMPARE(dest[99], uint8_t(0x77));
        std::memset(dest, 0, sizeof(dest));
        putWord(reply, 0, 101);  // more than the record holds
        QCOMPARE(decodeEngData(reply.data(), reply.size(), dest, sizeof(dest)), 1);
        QCOMPARE(dest[0], uint8_t(0));
        std::vector<uint8_t> big(1100);
        putWord(reply, 0, 1021);  // more than any reply carries
        QCOMPARE(decodeEngData(reply.data(), reply.size(), big.data(), big.size()), 1);
        putWord(reply, 0, 1020);
        QCOMPARE(decodeEngData(reply.data(), reply.size(), big.data(), big.size()), 0);
        QCOMPARE(decodeEngData(reply.data(), 3, dest, sizeof(dest)), 1);
    }
};

QTEST_GUILESS_MAIN(TestTables)
#include "test_tables.moc"
