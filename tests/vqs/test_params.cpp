// The parameter record and its JSON document: key order, round trip, and the
// rules for absent, mistyped and oversized values.
#include <QtTest>

#include <cjson/cJSON.h>

#include <cstring>
#include <string>

#include "record_fields.h"
#include "vqs.h"
#include "vqs_decode.h"

namespace {

// Every field set to a distinct value that survives the trip through JSON.
kernelParams_t sampleParams() {
    kernelParams_t p{};
    std::strcpy(p.general.sensorName, "SENSOR-0042");
    std::strcpy(p.general.sku, "VQS-FL-100");
    std::strcpy(p.general.mfgDate, "2023-12-01");
    p.general.enviroID = 7;
    p.general.cycle = 4000000000u;
    p.general.cycleTime = 2.5f;
    p.general.autostart = 1;
    p.general.commChannel = 2;
    p.general.concUnit = 3;
    p.general.enableEnviroLatch = 0;
    p.general.enableOnInFlamLatch = 1;
    p.dsc.enabled = 1;
    p.dsc.midResistance = 12.345f;
    p.dsc.maxResistance = 23.456f;
    p.dsc.midRampTime = 100;
    p.dsc.midHoldTime = 200;
    p.dsc.maxRampTime = 300;
    p.dsc.maxHoldTime = 65535;
    p.dsc.rampDownTime = 50;
    p.dsc.minCurrent = 0.001f;
    p.dsc.maxCurrent = 0.1f;
    p.dsc.KP = 1.5f;
    p.dsc.KI = -0.25f;
    p.dsc.KD = 1e-7f;
    p.flam.enabled = 1;
    p.flam.analogOut = 4;
    p.flam.analogSlope = 0.032f;
    p.flam.analogOffset = 0.4f;
    p.flam.analogStatus = 0.2f;
    p.flam.analogFault = 0.1f;
    p.flam.analogWarn = 0.3f;
    p.flam.analogStartupV = 0.35f;
    p.flam.analogStartupHold = 30.0f;
    p.flam.midNormCoeff = 1.0123f;
    p.flam.maxNormCoeff = 0.9876f;
    for (int i = 0; i < 6; ++i) {
        p.flam.dsc1MidPLS1[i] = 0.1f * static_cast<float>(i) + 0.01f;
        p.flam.dsc1MidPLS2[i] = -1.0f / static_cast<float>(i + 3);
        p.flam.dsc1MaxPLS1[i] = 3.0e10f * static_cast<float>(i + 1);
        p.flam.dsc1MaxPLS2[i] = static_cast<float>(i) - 2.5f;
    }
    std::strcpy(p.flam.calDateTime, "2024-01-15");
    p.flam.crmCycleCount = -1234;
    p.flam.crmTemperature = 23.7f;
    return p;
}

// JSON written with single quotes for readability.
std::string q(std::string text) {
    for (char& c : text)
        if (c == '\'') c = '"';
    return text;
}

int fromText(const std::string& json, kernelParams_t* p) {
    const std::string text = q(json);
    return jsonTextToParams(text.c_str(), text.size(), p);
}

std::string print(const kernelParams_t& p) {
    cJSON* doc = paramsToJson(&p);
    char* text = cJSON_PrintUnformatted(doc);
    std::string out(text);
    cJSON_free(text);
    cJSON_Delete(doc);
    return out;
}

}  // namespace

class TestParams : public QObject {
    Q_OBJECT

private slots:
    void keysInOrder() {
        const std::string text = print(sampleParams());
        const char* keys[] = {
            "generalParams", "sensorName", "sku", "mfgDate", "enviroID", "cycle\"", "cycleTime", "autostart",
            "commChannel", "concUnit", "enableEnviroLatch", "enableOnInFlamLatch", "dscParams", "number",
            "enabled", "midResistance", "maxResistance", "midRampTime", "midHoldTime", "maxRampTime",
            "maxHoldTime", "rampDownTime", "minCurrent", "maxCurrent", "KP", "KI", "KD", "flamParams",
            "enabled", "analogOut", "analogSlope", "analogOffset", "analogStatus", "analogFault", "analogWarn",
            "analogStartupV", "analogStartupHold", "midNormCoeff", "maxNormCoeff", "calDateTime",
            "crmCycleCount", "crmTemperature", "dsc1MidPLS1", "dsc1MidPLS2", "dsc1MaxPLS1", "dsc1MaxPLS2",
            "flamCalData"};
        size_t at = 0;
        for (const char* key : keys) {
            const size_t found = text.find(std::string("\"") + key, at);
            QVERIFY2(found != std::string::npos, key);
            at = found + 1;
        }
        QVERIFY(text.find(q("'dscParams':[{'number':1,'enabled':true,")) != std::string::npos);
        QVERIFY(text.find(q("'autostart':true,")) != std::string::npos);
        QVERIFY(text.find(q("'enableEnviroLatch':false,")) != std::string::npos);
        QVERIFY(text.find(q("'cycle':4000000000,")) != std::string::npos);
        QVERIFY(text.find(q("'crmCycleCount':-1234,")) != std::string::npos);
        QVERIFY(text.size() < 2000);
        QVERIFY(text.rfind(q("'flamCalData':{}}")) == text.size() - 17);
    }

    void roundTrip() {
        const kernelParams_t original = sampleParams();
        kernelParams_t back;
        std::memset(&back, 0x5A, sizeof(back));
        std::memset(back.general.reserved, 0, sizeof(back.general.reserved));
        // Text fields: the bytes after the terminator are zero after a read.
        std::memset(back.general.sensorName, 0, 32);
        std::memset(back.general.sku, 0, 32);
        std::memset(back.general.mfgDate, 0, 16);
        std::memset(back.flam.calDateTime, 0, 16);
        QCOMPARE(fromText(print(original).c_str(), &back), 0);
        QVERIFY(std::memcmp(&original, &back, sizeof(back)) == 0);
    }

    void onlyFlamParamsApplied() {
        kernelParams_t p = sampleParams();
        QCOMPARE(fromText("{'flamParams':{'analogOut':9,'calDateTime':'2025-02-02 08:00'}}", &p), 1);
        QCOMPARE(val(p.flam.analogOut), uint8_t(9));
        QCOMPARE(txt(p.flam.calDateTime), txt("2025-02-02"));
        QCOMPARE(txt(p.general.mfgDate), txt("2023-12-01"));  // general block never reached

        p = sampleParams();
        QCOMPARE(fromText("{'flamParams':{},'generalParams':{'cycle':5}}", &p), 1);  // no dscParams
        QCOMPARE(val(p.general.cycle), 5u);
        QCOMPARE(fromText("{'flamParams':[],'generalParams':{},'dscParams':[]}", &p), 1);
        QCOMPARE(fromText("not json", &p), 1);
        QCOMPARE(jsonToParams(nullptr, &p), 1);
        QCOMPARE(print(p), print([] {
                     kernelParams_t q = sampleParams();
                     q.general.cycle = 5;
                     std::strcpy(q.general.mfgDate, "2024-01-15");  // absent: the calibration date
                     q.general.enableEnviroLatch = 1;    // absent: true
                     q.general.enableOnInFlamLatch = 0;  // absent: false
                     return q;
                 }()));
    }

    void dateAndLatchDefaults() {
        kernelParams_t p = sampleParams();
        QCOMPARE(fromText("{'flamParams':{'calDateTime':'2024-03-04 12:13:14'},'generalParams':{},'dscParams':[]}",
                          &p),
                 0);
        QCOMPARE(txt(p.flam.calDateTime), txt("2024-03-04"));
        QCOMPARE(txt(p.general.mfgDate), txt("2024-03-04"));
        QCOMPARE(val(p.general.enableEnviroLatch), uint8_t(1));
        QCOMPARE(val(p.general.enableOnInFlamLatch), uint8_t(0));

        // Present but not bools: both keep what they held; a mistyped mfgDate also takes the date.
        p.general.enableEnviroLatch = 0;
        p.general.enableOnInFlamLatch = 1;
        std::strcpy(p.flam.calDateTime, "2020-01-01");
        QCOMPARE(fromText("{'flamParams':{},'generalParams':{'enableEnviroLatch':1,'enableOnInFlamLatch':0,"
                          "'mfgDate':5},'dscParams':[]}",
                          &p),
                 0);
        QCOMPARE(val(p.general.enableEnviroLatch), uint8_t(0));
        QCOMPARE(val(p.general.enableOnInFlamLatch), uint8_t(1));
        QCOMPARE(txt(p.general.mfgDate), txt("2020-01-01"));
    }

    void numbersNarrowed() {
        kernelParams_t p = sampleParams();
        QCOMPARE(fromText("{'flamParams':{'analogOut':-1,'crmCycleCount':70000.9,'analogSlope':1e300},"
                          "'generalParams':{'cycleTime':2.5,'enviroID':300,'cycle':-1,'concUnit':3.99,"
                          "'commChannel':1e30,'sku':7,'autostart':'yes'},'dscParams':[{'midRampTime':65537.5}]}",
                          &p),
                 0);
        QCOMPARE(val(p.general.cycleTime), 2.5f);
        QCOMPARE(val(p.general.enviroID), uint8_t(44));
        QCOMPARE(val(p.general.cycle), 0xFFFFFFFFu);
        QCOMPARE(val(p.general.concUnit), uint8_t(3));
        QCOMPARE(val(p.general.commChannel), uint8_t(0xFF));  // saturated before the low bits are kept
        QCOMPARE(val(p.flam.analogOut), uint8_t(0xFF));
        QCOMPARE(val(p.flam.crmCycleCount), int16_t(70000 - 65536));
        QVERIFY(std::isinf(val(p.flam.analogSlope)));
        QCOMPARE(val(p.dsc.midRampTime), uint16_t(1));
        QCOMPARE(txt(p.general.sku), txt("VQS-FL-100"));  // mistyped: unchanged
        QCOMPARE(val(p.general.autostart), uint8_t(1));
    }

    void oversizedValuesCut() {
        kernelParams_t p{};
        const std::string longName(40, 'N');
        const std::string json = "{'flamParams':{'calDateTime':'2024-01-15T10:20:30Z','dsc1MidPLS1':[1,2,3,4,5,6,7,8],"
                                 "'dsc1MaxPLS2':[9,'x',11]},'generalParams':{'sensorName':'" +
                                 longName + "','mfgDate':'0123456789abcdefXYZ'},'dscParams':[]}";
        p.flam.dsc1MaxPLS2[1] = 42.0f;
        p.flam.dsc1MaxPLS2[5] = 43.0f;
        QCOMPARE(fromText(json, &p), 0);
        QCOMPARE(txt(p.flam.calDateTime), txt("2024-01-15T10:2"));
        QCOMPARE(txt(p.general.sensorName), QString(31, 'N'));
        QCOMPARE(txt(p.general.mfgDate), txt("0123456789abcde"));
        for (int i = 0; i < 6; ++i) QCOMPARE(val(p.flam.dsc1MidPLS1[i]), float(i + 1));
        QCOMPARE(val(p.flam.dsc1MaxPLS2[0]), 9.0f);
        QCOMPARE(val(p.flam.dsc1MaxPLS2[1]), 42.0f);  // not a number: left
        QCOMPARE(val(p.flam.dsc1MaxPLS2[2]), 11.0f);
        QCOMPARE(val(p.flam.dsc1MaxPLS2[5]), 43.0f);  // short array: the rest left
    }

    void onlyDetectorOneIsWritten() {
        kernelParams_t p{};
        const std::string head = "{'flamParams':{},'generalParams':{},'dscParams':";
        // No number: DSC 1. Number 2 is ignored, and so is the next element that keeps that selection.
        QCOMPARE(fromText((head + "[{'KP':1},{'number':2,'KP':2,'KI':2},{'KI':3},7,'x',{'number':1,'KD':4}]}").c_str(),
                          &p),
                 0);
        QCOMPARE(val(p.dsc.KP), 1.0f);
        QCOMPARE(val(p.dsc.KI), 0.0f);
        QCOMPARE(val(p.dsc.KD), 4.0f);
        QCOMPARE(fromText((head + "[{'number':0,'KP':5},{'number':-3,'KP':6},{'number':1e40,'KP':7}]}"), &p),
                 0);
        QCOMPARE(val(p.dsc.KP), 1.0f);
        QCOMPARE(fromText((head + "{'number':1}}"), &p), 1);  // not an array
    }

    void transferRecord() {
        uint8_t record[kParamTransferSize];
        const std::string fits(1999, 'a');
        QCOMPARE(buildParamTransfer(fits.c_str(), record), 0);
        uint32_t header[2];
        std::memcpy(header, record, sizeof(header));
        QCOMPARE(header[0], 0u);
        QCOMPARE(header[1], 1999u);
        QCOMPARE(record[8 + 1998], uint8_t('a'));
        QCOMPARE(record[8 + 1999], uint8_t(0));
        const std::string tooLong(2000, 'a');
        QCOMPARE(buildParamTransfer(tooLong.c_str(), record), 1);

        // A received record without any terminator is read only up to its end.
        std::memset(record, '{', sizeof(record));
        const char* text = nullptr;
        QCOMPARE(paramTransferText(record, sizeof(record), &text), size_t(2000));
        QCOMPARE(paramTransferText(record, 5000, &text), size_t(2000));
        QCOMPARE(paramTransferText(record, 8, &text), size_t(0));
        kernelParams_t p{};
        QCOMPARE(jsonTextToParams(reinterpret_cast<const char*>(record) + 8, 2000, &p), 1);
    }
};

QTEST_GUILESS_MAIN(TestParams)
#include "test_params.moc"
