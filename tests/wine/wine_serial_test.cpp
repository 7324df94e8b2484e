// Runs the Win32 serial port code as Windows runs it (here: under Wine) against the
// sensor simulator on a pseudo-terminal mapped as a COM port.
//
//   wine_serial_test.exe uart COM5     (simulator: --uart, faults truncheader=3@2 noreply@3)
//   wine_serial_test.exe usb COM12     (simulator: --usb,  faults truncheader=3@2 noreply@3)
//
// Prints one line per check and exits non-zero when any check fails.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "serialport.h"
#include "vqs_crc.h"

namespace {

int failures = 0;

void check(bool ok, const char* what, const std::string& detail = {}) {
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() ? "" : ": ", detail.c_str());
    if (!ok) ++failures;
}

double nowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string fmt(const char* format, double a, double b = 0) {
    char text[128];
    std::snprintf(text, sizeof(text), format, a, b);
    return text;
}

// UART request frame: cmd, 0, u16 length, u16 0, u16 check value over the frame, payload.
std::vector<uint8_t> uartFrame(uint8_t command, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(8 + payload.size(), 0);
    frame[0] = command;
    frame[2] = static_cast<uint8_t>(payload.size());
    frame[3] = static_cast<uint8_t>(payload.size() >> 8);
    std::memcpy(frame.data() + 8, payload.data(), payload.size());
    const uint16_t crc = crc16False(frame.data(), static_cast<uint32_t>(frame.size()));
    frame[6] = static_cast<uint8_t>(crc);
    frame[7] = static_cast<uint8_t>(crc >> 8);
    return frame;
}

// USB request packet: 0x207E, flags, sequence, command, length, check value, 4 reserved.
std::vector<uint8_t> usbPacket(uint16_t sequence, uint16_t command) {
    std::vector<uint8_t> packet(16, 0);
    packet[0] = 0x7E;
    packet[1] = 0x20;
    packet[4] = static_cast<uint8_t>(sequence);
    packet[5] = static_cast<uint8_t>(sequence >> 8);
    packet[6] = static_cast<uint8_t>(command);
    packet[7] = static_cast<uint8_t>(command >> 8);
    const uint16_t crc = crc16False(packet.data(), 16);
    packet[10] = static_cast<uint8_t>(crc);
    packet[11] = static_cast<uint8_t>(crc >> 8);
    return packet;
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void checkSettings(SerialPortIo& port, const SerialPortSettings& want) {
    HANDLE handle = reinterpret_cast<HANDLE>(port.nativeHandle());
    DCB dcb;
    std::memset(&dcb, 0, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    check(GetCommState(handle, &dcb) != 0, "GetCommState on the open port");
    check(dcb.BaudRate == want.baudRate, "baud rate", fmt("%.0f", dcb.BaudRate));
    check(dcb.ByteSize == 8 && dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT, "8N1");
    COMMTIMEOUTS t;
    check(GetCommTimeouts(handle, &t) != 0, "GetCommTimeouts");
    check(t.ReadIntervalTimeout == want.readIntervalTimeout &&
              t.ReadTotalTimeoutMultiplier == want.readTotalTimeoutMultiplier &&
              t.ReadTotalTimeoutConstant == want.readTotalTimeoutConstant &&
              t.WriteTotalTimeoutMultiplier == want.writeTotalTimeoutMultiplier &&
              t.WriteTotalTimeoutConstant == want.writeTotalTimeoutConstant,
          "time-outs as set", fmt("interval %.0f constant %.0f", t.ReadIntervalTimeout, t.ReadTotalTimeoutConstant));
}

// Reads like the link layer: one read; an empty one drains output and pauses 200 ms.
long linkRead(SerialPortIo& port, uint8_t* buffer, uint32_t n) {
    const long got = port.read(buffer, n);
    if (got == 0) {
        port.flush();
        Sleep(200);
    }
    return got < 0 ? 0 : got;
}

void runUart(const char* com) {
    const SerialPortSettings settings{38400, 0, 40, 1000, 20, 100};
    const std::string path = std::string("\\\\.\\") + com;
    auto port = createSerialPort();
    check(port->open(path.c_str(), settings) == SerialOpenResult::Ok, "open", path);
    if (!port->isOpen()) return;
    checkSettings(*port, settings);

    // Request 1: a whole exchange, the version command with its 0x55 payload.
    const std::vector<uint8_t> request = uartFrame(0x42, {0x55});
    check(port->write(request.data(), static_cast<uint32_t>(request.size())) == long(request.size()), "write frame");
    uint8_t header[6];
    double t0 = nowMs();
    long got = port->read(header, 6);
    double elapsed = nowMs() - t0;
    check(got == 6, "reply header read completes", fmt("%.0f bytes in %.1f ms", double(got), elapsed));
    // Upper bounds are the time-out a read must not wait for, with room for a busy machine.
    check(elapsed < 1240, "complete read returns before its time-out", fmt("%.1f ms", elapsed));
    const uint16_t length = le16(header + 2);
    std::vector<uint8_t> payload(length);
    got = length ? port->read(payload.data(), length) : 0;
    check(got == length && length == 58, "version payload", fmt("%.0f of %.0f bytes", double(got), length));
    const uint16_t received = le16(header + 4);
    header[4] = header[5] = 0;
    const uint16_t crc = crc16(payload.data(), length, crc16False(header, 6));
    check(header[0] == 0x42 && crc == received, "reply echoes the command and its check value holds");

    // Request 2: the simulator sends only 3 header bytes (a partial read at the total time-out).
    port->write(request.data(), static_cast<uint32_t>(request.size()));
    t0 = nowMs();
    got = port->read(header, 6);
    elapsed = nowMs() - t0;
    check(got == 3, "partial read returns what arrived", fmt("%.0f bytes", double(got)));
    check(elapsed > 1100 && elapsed < 2400, "partial read ends at 1000 + 6 x 40 ms", fmt("%.1f ms", elapsed));

    // Request 3: no reply; the empty read drains output and pauses 200 ms like the link.
    port->write(request.data(), static_cast<uint32_t>(request.size()));
    t0 = nowMs();
    got = linkRead(*port, header, 6);
    elapsed = nowMs() - t0;
    check(got == 0, "empty read returns 0");
    check(elapsed > 1300 && elapsed < 2600, "empty read: time-out plus the 200 ms pause", fmt("%.1f ms", elapsed));
    check(port->close(), "close");
}

void runUsb(const char* com) {
    const SerialPortSettings settings{115200, 100, 40, 100, 20, 100};
    const std::string path = std::string("\\\\.\\") + com;
    auto port = createSerialPort();
    check(port->open(path.c_str(), settings) == SerialOpenResult::Ok, "open", path);
    if (!port->isOpen()) return;
    checkSettings(*port, settings);

    std::vector<uint8_t> request = usbPacket(1, 0x019A);
    port->write(request.data(), 16);
    uint8_t header[16];
    double t0 = nowMs();
    long got = port->read(header, 16);
    double elapsed = nowMs() - t0;
    check(got == 16 && elapsed < 740, "reply header read completes", fmt("%.0f bytes in %.1f ms", double(got), elapsed));
    const uint16_t length = le16(header + 8);
    std::vector<uint8_t> payload(length);
    got = length ? port->read(payload.data(), length) : 0;
    const uint16_t received = le16(header + 10);
    header[10] = header[11] = 0;
    check(got == length && le16(header + 6) == 0x019A &&
              crc16(payload.data(), length, crc16False(header, 16)) == received,
          "version reply packet with a good check value");

    // Request 2: 3 header bytes, then silence: the interval time-out ends the read.
    request = usbPacket(2, 0x019A);
    port->write(request.data(), 16);
    t0 = nowMs();
    got = port->read(header, 16);
    elapsed = nowMs() - t0;
    check(got == 3, "partial read returns what arrived", fmt("%.0f bytes", double(got)));
    check(elapsed > 60 && elapsed < 740, "partial read ends ~100 ms after the last byte", fmt("%.1f ms", elapsed));

    // Request 3: silence: 100 + 16 x 40 ms.
    request = usbPacket(3, 0x019A);
    port->write(request.data(), 16);
    t0 = nowMs();
    got = port->read(header, 16);
    elapsed = nowMs() - t0;
    check(got == 0, "empty read returns 0");
    check(elapsed > 650 && elapsed < 1500, "empty read ends at 100 + 16 x 40 ms", fmt("%.1f ms", elapsed));

    // Request 4: a reply left unread is dropped by purging the input (before a new request).
    request = usbPacket(4, 0x019A);
    port->write(request.data(), 16);
    Sleep(300);
    check(port->discardInput(), "input purged");
    got = port->read(header, 16);
    check(got == 0, "a purged reply is not read", fmt("%.0f bytes", double(got)));
    check(port->close(), "close");

    // The port can be opened again after closing (handles are really released).
    check(port->open(path.c_str(), settings) == SerialOpenResult::Ok, "reopen after close");
    port->close();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: %s uart|usb COMn\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "uart") runUart(argv[2]);
    else if (mode == "usb") runUsb(argv[2]);
    else if (mode == "missing") {
        auto port = createSerialPort();
        const std::string path = std::string("\\\\.\\") + argv[2];
        check(port->open(path.c_str(), SerialPortSettings{38400, 0, 40, 1000, 20, 100}) == SerialOpenResult::OpenFailed,
              "a port that does not exist fails to open", path);
    }
    std::printf("%s: %d failure(s)\n", argv[1], failures);
    return failures ? 1 : 0;
}
