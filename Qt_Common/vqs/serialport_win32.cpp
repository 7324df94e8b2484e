// Win32 serial port: synchronous, exclusive COM handle; the driver applies the time-outs.
#ifdef _WIN32

#include "serialport.h"

#include <windows.h>

#include <cstring>

namespace {

class Win32SerialPort final : public SerialPortIo {
public:
    ~Win32SerialPort() override { close(); }

    SerialOpenResult open(const char* path, const SerialPortSettings& settings) override {
        close();
        HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return SerialOpenResult::OpenFailed;

        DCB dcb;
        std::memset(&dcb, 0, sizeof(dcb));
        dcb.DCBlength = sizeof(dcb);
        if (!GetCommState(handle, &dcb)) {
            CloseHandle(handle);
            return SerialOpenResult::GetStateFailed;
        }
        // Flow control, binary mode and special characters stay as the driver reports them.
        dcb.BaudRate = settings.baudRate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        if (!SetCommState(handle, &dcb)) {
            CloseHandle(handle);
            return SerialOpenResult::SetStateFailed;
        }

        COMMTIMEOUTS timeouts;
        timeouts.ReadIntervalTimeout = settings.readIntervalTimeout;
        timeouts.ReadTotalTimeoutMultiplier = settings.readTotalTimeoutMultiplier;
        timeouts.ReadTotalTimeoutConstant = settings.readTotalTimeoutConstant;
        timeouts.WriteTotalTimeoutMultiplier = settings.writeTotalTimeoutMultiplier;
        timeouts.WriteTotalTimeoutConstant = settings.writeTotalTimeoutConstant;
        if (!SetCommTimeouts(handle, &timeouts)) {
            CloseHandle(handle);
            return SerialOpenResult::SetTimeoutsFailed;
        }
        handle_ = handle;
        settings_ = settings;
        return SerialOpenResult::Ok;
    }

    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return true;
        if (!CloseHandle(handle_)) return false;
        handle_ = INVALID_HANDLE_VALUE;
        return true;
    }

    bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    long write(const uint8_t* data, uint32_t n) override {
        DWORD written = 0;
        if (!WriteFile(handle_, data, n, &written, nullptr)) return -1;
        return static_cast<long>(written);
    }

    long read(uint8_t* data, uint32_t n) override {
        DWORD got = 0;
        if (!ReadFile(handle_, data, n, &got, nullptr)) return -1;
        return static_cast<long>(got);
    }

    bool flush() override { return FlushFileBuffers(handle_) != 0; }

    bool discardInput() override { return PurgeComm(handle_, PURGE_RXCLEAR) != 0; }

    intptr_t nativeHandle() const override { return reinterpret_cast<intptr_t>(handle_); }
    SerialPortSettings settings() const override { return settings_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    SerialPortSettings settings_;
};

}  // namespace

std::unique_ptr<SerialPortIo> createSerialPort() {
    return std::make_unique<Win32SerialPort>();
}

#endif  // _WIN32
