// A port that serves a fixed byte string as the sensor's replies and swallows writes.
// Reads hand out at most what is left; an exhausted port fails its reads like a
// hung-up device, so the link never pauses on an empty read.
#pragma once

#include "serialport.h"

#include <algorithm>
#include <cstring>

class FuzzPort : public SerialPortIo {
public:
    FuzzPort(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    SerialOpenResult open(const char*, const SerialPortSettings& settings) override {
        settings_ = settings;
        return SerialOpenResult::Ok;
    }
    bool close() override { return true; }
    bool isOpen() const override { return true; }
    long write(const uint8_t*, uint32_t n) override { return static_cast<long>(n); }
    long read(uint8_t* out, uint32_t n) override {
        if (offset_ >= size_)
            return -1;
        const size_t count = std::min<size_t>(n, size_ - offset_);
        std::memcpy(out, data_ + offset_, count);
        offset_ += count;
        return static_cast<long>(count);
    }
    bool flush() override { return true; }
    intptr_t nativeHandle() const override { return 3; }
    SerialPortSettings settings() const override { return settings_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    SerialPortSettings settings_;
};
