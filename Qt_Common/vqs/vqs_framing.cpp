// The USB and UART framings' forms of the commands, the table that maps a
// transport value to its framing, and the sensor object's choice of framing.
#include "vqs_framing.h"

#include <QDebug>

#include <cstring>

#include "vqs_decode.h"

namespace {

constexpr uint16_t kUsbSetParams = 0x01A1;
constexpr uint16_t kUartSetParams = 0x46;

constexpr uint32_t kPostAddress = 0x0803C000;

// Baud rate, then read interval / multiplier / constant, then write multiplier / constant (ms).
constexpr SerialPortSettings kUsbPort{115200, 100, 40, 100, 20, 100};  // the sensor's own virtual COM port
constexpr SerialPortSettings kUartPort{38400, 0, 40, 1000, 20, 100};   // USB-to-UART adapter

class UsbFraming final : public VQSFraming {
public:
    const SerialPortSettings* portSettings() const override { return &kUsbPort; }
    bool pacedCycles() const override { return true; }

    VQSStatus reboot(VQS& sensor) const override { return sensor.usbReboot(); }
    VQSStatus getVersion(VQS& sensor) const override { return sensor.usbGetVersion(); }
    VQSStatus getSensorName(VQS& sensor) const override { return sensor.usbGetSensorName(); }
    VQSStatus getParams(VQS& sensor) const override { return sensor.usbGetParams(); }
    VQSStatus clearHistory(VQS& sensor) const override { return sensor.usbClearHistory(); }
    VQSStatus setState(VQS& sensor, VQSState state) const override { return sensor.usbSetState(state); }
    VQSStatus getAnswer(VQS& sensor) const override { return sensor.usbGetAnswer(); }
    // Flash, calibration, analog output and self-test are UART commands only.
    VQSStatus readFlash(VQS&, uart_readflash_t, uint8_t*) const override { return VQS_FAILURE; }
    VQSStatus calibrate(VQS&, cal_rqst_t) const override { return VQS_FAILURE; }
    VQSStatus getAnalogOut(VQS&) const override { return VQS_FAILURE; }
    VQSStatus readPost(VQS&) const override { return VQS_FAILURE; }

    VQSStatus sendParams(VQS& sensor, uint8_t* record, uint16_t length) const override {
        uint16_t replyLength = 0;
        VQSBuffer reply;
        if (sensor.usbSend(kUsbSetParams, record, length) == 0)
            reply = sensor.usbRecv(kUsbSetParams, &replyLength, 5);
        if (!reply) {
            qWarning() << sensor.logName() << "- setParams(USB) rxData == NULL";
            return VQS_FAILURE;
        }
        return VQS_SUCCESS;
    }

    void completeIdentity(VQS& sensor) const override {
        // The parameter document is the only place a USB sensor names its SKU
        // and the unit it is configured for.
        if (sensor.usbGetParams() == VQS_SUCCESS) {
            copyText(sensor.sensorSku, sizeof(sensor.sensorSku), sensor.params.general.sku,
                     sizeof(sensor.params.general.sku));
            if (concUnitText(sensor.params.general.concUnit) != nullptr)
                sensor.configuredConcUnit = sensor.params.general.concUnit;
        } else {
            qInfo() << sensor.logName() << "- no parameter document; identified without SKU and unit";
        }
    }

    VQSStatus updateFirmware(VQS& sensor, char* path) const override { return sensor.usbUpdateFirmware(path); }
};

class UartFraming final : public VQSFraming {
public:
    const SerialPortSettings* portSettings() const override { return &kUartPort; }
    bool pacedCycles() const override { return false; }

    VQSStatus reboot(VQS& sensor) const override { return sensor.uartReboot(); }
    VQSStatus getVersion(VQS& sensor) const override { return sensor.uartGetVersion(); }
    VQSStatus getSensorName(VQS& sensor) const override { return sensor.uartGetSensorInfo(); }
    VQSStatus getParams(VQS& sensor) const override {
        sensor.uartGetSensorInfo();
        return sensor.uartGetParams();
    }
    VQSStatus clearHistory(VQS& sensor) const override { return sensor.uartClearHistory(); }
    VQSStatus setState(VQS& sensor, VQSState state) const override { return sensor.uartSetState(state); }
    VQSStatus getAnswer(VQS& sensor) const override { return sensor.uartGetAnswer(); }
    VQSStatus readFlash(VQS& sensor, uart_readflash_t request, uint8_t* destination) const override {
        return sensor.uartReadFlash(request, destination);
    }
    VQSStatus calibrate(VQS& sensor, cal_rqst_t request) const override { return sensor.uartCalibrate(request); }
    VQSStatus getAnalogOut(VQS& sensor) const override {
        // Firmware before 4100 has no analog-output query.
        if (sensor.firmwareNumber > 4099) return sensor.uartGetAnalogOut();
        return VQS_SUCCESS;
    }

    VQSStatus readPost(VQS& sensor) const override {
        sensor.postPassed = false;
        uint8_t flash[sizeof(sensor.postText)] = {};
        const uart_readflash_t request{kPostAddress, sizeof(flash)};
        if (sensor.uartReadFlash(request, flash) != VQS_SUCCESS) return VQS_FAILURE;
        // Flash need not hold a terminator; the text keeps one inside its capacity.
        copyText(sensor.postText, sizeof(sensor.postText), flash, sizeof(flash));
        sensor.postPassed = std::strstr(sensor.postText, "POST passed") != nullptr;
        return VQS_SUCCESS;
    }

    VQSStatus sendParams(VQS& sensor, uint8_t* record, uint16_t length) const override {
        if (sensor.uartSend(kUartSetParams, record, length) != 0 || sensor.uartRecv(kUartSetParams, nullptr, 0) != 0) {
            qWarning() << sensor.logName() << "- setParams(UART) failed";
            return VQS_FAILURE;
        }
        return VQS_SUCCESS;
    }

    void completeIdentity(VQS&) const override {}

    VQSStatus updateFirmware(VQS& sensor, char* path) const override { return sensor.uartUpdateFirmware(path); }
};

// A transport value no framing has: nothing can be said to the sensor.
class NoFraming final : public VQSFraming {
public:
    const SerialPortSettings* portSettings() const override { return nullptr; }
    bool pacedCycles() const override { return false; }

    VQSStatus reboot(VQS&) const override { return VQS_FAILURE; }
    VQSStatus getVersion(VQS&) const override { return VQS_FAILURE; }
    VQSStatus getSensorName(VQS&) const override { return VQS_FAILURE; }
    VQSStatus getParams(VQS&) const override { return VQS_FAILURE; }
    VQSStatus clearHistory(VQS&) const override { return VQS_FAILURE; }
    VQSStatus setState(VQS&, VQSState) const override { return VQS_FAILURE; }
    VQSStatus getAnswer(VQS&) const override { return VQS_FAILURE; }
    VQSStatus readFlash(VQS&, uart_readflash_t, uint8_t*) const override { return VQS_FAILURE; }
    VQSStatus calibrate(VQS&, cal_rqst_t) const override { return VQS_FAILURE; }
    VQSStatus getAnalogOut(VQS&) const override { return VQS_FAILURE; }
    VQSStatus readPost(VQS&) const override { return VQS_FAILURE; }
    VQSStatus sendParams(VQS&, uint8_t*, uint16_t) const override { return VQS_FAILURE; }
    void completeIdentity(VQS&) const override {}
    VQSStatus updateFirmware(VQS&, char*) const override { return VQS_FAILURE; }
};

// Constant-initialised, so they exist before any sensor object can ask for them.
constexpr UsbFraming kUsbFraming{};
constexpr UartFraming kUartFraming{};
constexpr NoFraming kNoFraming{};

struct FramingRow {
    int transport;
    const VQSFraming& framing;
};

const FramingRow kFramings[] = {
    {0, kUsbFraming},
    {1, kUartFraming},
};

}  // namespace

const VQSFraming& framingFor(int transport) {
    for (const FramingRow& row : kFramings) {
        if (row.transport == transport) return row.framing;
    }
    return kNoFraming;
}

const VQSFraming& VQS::framing() {
    if (chosenFraming == nullptr || chosenFor != transport) {
        chosenFraming = &framingFor(transport);
        chosenFor = transport;
    }
    return *chosenFraming;
}

bool VQS::cyclesPaced() {
    return framing().pacedCycles();
}
