// Judgements on an identified sensor that the page and the command-line tool
// share: what its type is called, whether it passed its self test, what its
// firmware allows and which unit it reports in. Widget-free.
#pragma once

#include <QString>

#include <cstdint>

class VQS;

// "VQS Flam. Gas", ... or "Unknown Sensor".
QString sensorTypeName(uint32_t type);
// The type as the identity panel shows it: the name of a reported type; for a
// sensor that reports none (the USB commands carry no type) what is known
// instead, "Not reported by the sensor (configured for PPM)" or "Not reported
// by the sensor", rather than a word that reads as a fault.
QString sensorTypeDescription(const VQS& sensor);
// The sensor status codes that still count as a passed power-on self test.
bool selfTestPassed(uint8_t statusCode);
// Firmware 3.0.0.0 or later runs with this program.
bool firmwareCompatible(const uint8_t version[4]);
// Firmware that knows the "%LEL(IEC)" scale: above 3, or 3.x with minor > 0 or build > 4.
bool firmwareCompatibleIEC(const uint8_t version[4]);
// Methane and A1 sensors report in PPM; so does a sensor of unknown type that
// says it is configured for PPM (a USB sensor tells no type).
bool reportsInPpm(const VQS& sensor);
