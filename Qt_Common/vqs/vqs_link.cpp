// The sensor object's serial link: open, configure, close, and single-call reads and writes.
#include "vqs.h"

#include <QDebug>

#include <cstdio>

#include "serialport.h"
#include "vqs_framing.h"

namespace {

const char* const kOpenFailureText[] = {
    nullptr,                              // SerialOpenResult::Ok
    "- error opening serial port",        // OpenFailed
    "- error getting device state",       // GetStateFailed
    "- error setting device parameters",  // SetStateFailed
    "- error setting timeouts",           // SetTimeoutsFailed
};

// How long an empty read waits before it hands back, so that a silent port is not polled flat out.
constexpr unsigned kEmptyReadPauseMs = 200;

void* handleForLog(const std::unique_ptr<SerialPortIo>& port) {
    return port ? reinterpret_cast<void*>(port->nativeHandle()) : nullptr;
}

}  // namespace

VQSStatus VQS::connect() {
    // An explicit device path replaces the port number, so the number is not checked then.
    if (portPath.empty() && portNumber == 0) {
        qWarning() << logName() << "- bad COM port number. Cannot open port";
        return VQS_FAILURE;
    }
    if (portOpen) return VQS_SUCCESS;

    // The framing is chosen here, as the port opens, and its line settings used.
    const SerialPortSettings* settings = framing().portSettings();
    if (!settings) {
        // No settings exist for an unknown transport; opening the port would only mislead.
        qWarning() << logName() << "- unknown transport" << transport;
        return VQS_FAILURE;
    }

    char comPath[32];
    std::snprintf(comPath, sizeof(comPath), "\\\\.\\COM%d", portNumber);
    const char* path = portPath.empty() ? comPath : portPath.c_str();

    std::unique_ptr<SerialPortIo> port = createSerialPort();
    const SerialOpenResult result = port->open(path, *settings);
    if (result != SerialOpenResult::Ok) {
        // The port has already closed whatever it opened.
        const char* text = kOpenFailureText[static_cast<int>(result)];
        if (result != SerialOpenResult::OpenFailed)
            qWarning() << logName() << text;
        else if (portPath.empty())
            qWarning() << logName() << text << portNumber;
        else
            qWarning() << logName() << text << portPath.c_str();
        return VQS_FAILURE;
    }
    portHandle = std::move(port);
    portOpen = true;
    return VQS_SUCCESS;
}

VQSStatus VQS::disconnect() {
    if (!portOpen) return VQS_SUCCESS;
    if (portHandle && !portHandle->close()) {
        qWarning() << logName() << "- error closing serial port";
        return VQS_FAILURE;
    }
    portHandle.reset();
    portOpen = false;
    return VQS_SUCCESS;
}

int VQS::serialWrite(uint8_t* data, uint32_t length) {
    const long written = (portOpen && portHandle) ? portHandle->write(data, length) : -1;
    if (written < 0) {
        qWarning() << logName() << "- error writing to serial port" << handleForLog(portHandle);
        return 0;
    }
    return static_cast<int>(written);
}

int VQS::serialRead(uint8_t* data, uint32_t length) {
    if (!portOpen || !portHandle || length == 0) return 0;
    const long got = portHandle->read(data, length);
    if (got < 0) return 0;  // failed (hung up): the caller learns at once, without a pause
    if (got == 0) {
        portHandle->flush();
        sleepMs(kEmptyReadPauseMs);
        return 0;
    }
    return static_cast<int>(got);
}

void VQS::serialDiscardInput() {
    if (portOpen && portHandle)
        portHandle->discardInput();
}
