// A serial port as the sensor link needs it: exclusive open, 8N1 at a fixed baud rate,
// and reads and writes bounded by Win32-style time-outs. Qt-free, so the Windows
// implementation can be compile-checked and run on its own.
#pragma once

#include <cstdint>
#include <memory>

// Baud rate and the five COMMTIMEOUTS values, in milliseconds.
struct SerialPortSettings {
    uint32_t baudRate = 0;
    uint32_t readIntervalTimeout = 0;          // gap allowed between bytes once one has arrived; 0 = unused
    uint32_t readTotalTimeoutMultiplier = 0;   // per byte requested
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;  // per byte written
    uint32_t writeTotalTimeoutConstant = 0;
};

// Which step of opening the port failed, so the caller can say so.
enum class SerialOpenResult {
    Ok,
    OpenFailed,         // the device could not be opened (missing, busy, no permission)
    GetStateFailed,     // its line settings could not be read (not a serial device)
    SetStateFailed,     // baud rate or framing rejected
    SetTimeoutsFailed,  // time-outs rejected
};

class SerialPortIo {
public:
    virtual ~SerialPortIo() = default;

    // On failure the port is left closed.
    virtual SerialOpenResult open(const char* path, const SerialPortSettings& settings) = 0;
    // False when the system refused to close; the port then counts as still open.
    virtual bool close() = 0;
    virtual bool isOpen() const = 0;

    // One write of n bytes bounded by the write time-outs: the count written, -1 on failure.
    virtual long write(const uint8_t* data, uint32_t n) = 0;
    // One read of up to n bytes bounded by the read time-outs: the count read (0 when the
    // time-outs expired with nothing), -1 when the read failed (device hung up or gone).
    virtual long read(uint8_t* data, uint32_t n) = 0;
    // Waits until written data has left the driver; discards nothing.
    virtual bool flush() = 0;
    // Drops what has arrived and not been read yet: a reply to an earlier request must not be
    // taken for the answer to the next one. False when nothing could be dropped (a port that
    // cannot discard, such as a stand-in for tests, keeps its input).
    virtual bool discardInput() { return false; }

    // The system's handle (file descriptor or HANDLE value), for log lines.
    virtual intptr_t nativeHandle() const = 0;
    // The settings given to the last successful open.
    virtual SerialPortSettings settings() const = 0;
};

std::unique_ptr<SerialPortIo> createSerialPort();
