// Feeds arbitrary bytes to the UART reply reader as the sensor's answer to a request.
// The first three bytes choose the expected command and the caller's buffer size.
#include "fuzz_port.h"
#include "vqs.h"

#include <QtGlobal>

#include <vector>

static void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(silence);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const uint16_t cmdId = data[0];
    const uint32_t bufferSize = (static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8)) % 4200;
    data += 3;
    size -= 3;

    VQS vqs;
    vqs.transport = 1;
    vqs.retryCount = 2;
    vqs.portHandle.reset(new FuzzPort(data, size));
    vqs.portOpen = true;

    uint8_t request[4] = {1, 2, 3, 4};
    if (vqs.uartSend(cmdId, request, sizeof(request)) != 0)
        return 0;
    std::vector<uint8_t> buffer(bufferSize);
    vqs.uartRecv(cmdId, bufferSize ? buffer.data() : nullptr, bufferSize);
    return 0;
}
