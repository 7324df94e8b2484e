// The two framings as variants of one interface: the sensor object asks the
// framing of its transport for each command's form instead of testing the
// transport in every command. Framings hold no state of their own; each works
// on the sensor object it is handed, through that object's usb*/uart* members.
#pragma once

#include "serialport.h"
#include "vqs.h"

class VQSFraming {
public:
    // The line the port is opened with; null for a transport value no framing
    // has, whose commands all fail without touching the port.
    virtual const SerialPortSettings* portSettings() const = 0;
    // Whether a run's cycles are held to the shortest cycle spacing.
    virtual bool pacedCycles() const = 0;

    virtual VQSStatus reboot(VQS& sensor) const = 0;
    virtual VQSStatus getVersion(VQS& sensor) const = 0;
    virtual VQSStatus getSensorName(VQS& sensor) const = 0;
    virtual VQSStatus getParams(VQS& sensor) const = 0;
    virtual VQSStatus clearHistory(VQS& sensor) const = 0;
    virtual VQSStatus setState(VQS& sensor, VQSState state) const = 0;
    virtual VQSStatus getAnswer(VQS& sensor) const = 0;
    virtual VQSStatus readFlash(VQS& sensor, uart_readflash_t request, uint8_t* destination) const = 0;
    virtual VQSStatus calibrate(VQS& sensor, cal_rqst_t request) const = 0;
    virtual VQSStatus getAnalogOut(VQS& sensor) const = 0;
    // The self-test text into postText (already cleared) and postPassed.
    virtual VQSStatus readPost(VQS& sensor) const = 0;
    // Sends a built parameter transfer record.
    virtual VQSStatus sendParams(VQS& sensor, uint8_t* record, uint16_t length) const = 0;
    // What identification learns beyond the version and the name.
    virtual void completeIdentity(VQS& sensor) const = 0;
    virtual VQSStatus updateFirmware(VQS& sensor, char* path) const = 0;

protected:
    // Framings are constant objects that are never deleted through this interface.
    ~VQSFraming() = default;
};

// The framing of a transport value: the one place a transport value is mapped.
const VQSFraming& framingFor(int transport);
