// Feeds arbitrary bytes to the USB packet reader: one reply wait, then an
// acknowledgement wait on whatever is left.
#include "fuzz_port.h"
#include "vqs.h"

#include <QtGlobal>

static void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(silence);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VQS vqs;
    vqs.transport = 0;
    vqs.retryCount = 1;
    vqs.portHandle.reset(new FuzzPort(data, size));
    vqs.portOpen = true;

    uint8_t request[2] = {0x10, 0x20};
    vqs.usbSend(0x0042, request, sizeof(request));
    // A zero wait limit makes one read before the retransmission, so no input
    // waits on the poll pause.
    uint16_t length = 0;
    VQSBuffer reply = vqs.usbRecv(0x0042, &length, 0);
    if (reply && length != 0) {
        volatile uint8_t last = reply[length - 1];
        (void)last;
    }
    vqs.usbSend(0x0043, nullptr, 0);
    vqs.receiveAck();
    return 0;
}
