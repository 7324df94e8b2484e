// Round trip of the version command through the real framing code over a
// pseudo-terminal, against the simulator, for each framing. A pseudo-terminal
// has no baud pacing, so the round trip is what the program, the simulator and
// the kernel add; the wire time of the same bytes at the link's baud rate is
// printed beside it for scale. The "memory" rows run the same exchange against
// a port that answers from memory at once: what the framing code alone costs.
//
//   bench_link_roundtrip [exchanges per framing, default 2000]
#include "serialport.h"
#include "simulator.h"
#include "vqs.h"

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

void dropLog(QtMsgType, const QMessageLogContext&, const QString&) {}

struct Result {
    const char* framing = "";
    unsigned baud = 0;
    size_t requestBytes = 0;
    size_t replyBytes = 0;
    size_t failures = 0;
    std::vector<double> microseconds;
};

void putU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value & 0xFF);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Answers every write with one canned reply, at once.
class MemoryPort : public SerialPortIo {
public:
    explicit MemoryPort(std::vector<uint8_t> reply) : reply_(std::move(reply)) {}
    SerialOpenResult open(const char*, const SerialPortSettings&) override { return SerialOpenResult::Ok; }
    bool close() override { return true; }
    bool isOpen() const override { return true; }
    long write(const uint8_t* data, uint32_t n) override {
        // A USB reply echoes the request's sequence number, as the sensor's does.
        if (n >= kUsbHeaderSize && reply_.size() >= kUsbHeaderSize && reply_[0] == 0x7E && reply_[1] == 0x20) {
            std::memcpy(&reply_[4], data + 4, 2);
            putU16(reply_, 10, 0);
            putU16(reply_, 10, crc16False(reply_.data(), static_cast<uint32_t>(reply_.size())));
        }
        pending_.insert(pending_.end(), reply_.begin(), reply_.end());
        return static_cast<long>(n);
    }
    long read(uint8_t* out, uint32_t n) override {
        if (pending_.empty())
            return -1;
        const size_t count = std::min<size_t>(n, pending_.size());
        std::copy(pending_.begin(), pending_.begin() + static_cast<long>(count), out);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(count));
        return static_cast<long>(count);
    }
    bool flush() override { return true; }
    intptr_t nativeHandle() const override { return 0; }
    SerialPortSettings settings() const override { return {}; }

private:
    std::vector<uint8_t> reply_;
    std::deque<uint8_t> pending_;
};

std::vector<uint8_t> uartVersionReply() {
    std::vector<uint8_t> reply(kUartReplyHeaderSize + sizeof(uartVersionRecord_t), 0x31);
    reply[0] = static_cast<uint8_t>(vqssim::cmd::UartVersion);
    reply[1] = 0;
    putU16(reply, 2, sizeof(uartVersionRecord_t));
    putU16(reply, 4, 0);
    putU16(reply, 4, crc16False(reply.data(), static_cast<uint32_t>(reply.size())));
    return reply;
}

std::vector<uint8_t> usbVersionReply() {
    const char text[] = "VQS FW 4.1.0.0 HW 2.1 vqs-sim memory";
    std::vector<uint8_t> reply(kUsbHeaderSize + sizeof(text), 0);
    putU16(reply, 0, 0x207E);
    putU16(reply, 4, 1);
    putU16(reply, 6, vqssim::cmd::UsbVersion);
    putU16(reply, 8, sizeof(text));
    std::memcpy(&reply[kUsbHeaderSize], text, sizeof(text));
    putU16(reply, 10, crc16False(reply.data(), static_cast<uint32_t>(reply.size())));
    return reply;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5));
    return values[index];
}

// One exchange of the version command; false when it failed. Sets the byte counts.
using Exchange = bool (*)(VQS& vqs, Result& result);

bool uartVersion(VQS& vqs, Result& result) {
    uint8_t reply[sizeof(uartVersionRecord_t)];
    const uint64_t before = vqs.rxBytes;
    uint8_t key = 0x55;  // the version request's one payload byte
    if (vqs.uartSend(vqssim::cmd::UartVersion, &key, 1) != 0)
        return false;
    if (vqs.uartRecv(vqssim::cmd::UartVersion, reply, sizeof(reply)) != 0)
        return false;
    result.requestBytes = kUartRequestHeaderSize + 1;
    result.replyBytes = static_cast<size_t>(vqs.rxBytes - before);
    return true;
}

bool usbVersion(VQS& vqs, Result& result) {
    uint16_t length = 0;
    const uint64_t before = vqs.rxBytes;
    if (vqs.usbSend(vqssim::cmd::UsbVersion, nullptr, 0) != 0)
        return false;
    if (!vqs.usbRecv(vqssim::cmd::UsbVersion, &length, 1))
        return false;
    result.requestBytes = kUsbHeaderSize;
    result.replyBytes = static_cast<size_t>(vqs.rxBytes - before);
    return true;
}

void measure(VQS& vqs, Exchange exchange, int count, Result& result) {
    for (int i = 0; i < 20; ++i)  // warm-up
        exchange(vqs, result);
    result.microseconds.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = exchange(vqs, result);
        const auto end = std::chrono::steady_clock::now();
        if (!ok) {
            ++result.failures;
            continue;
        }
        result.microseconds.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
}

Result runInMemory(std::vector<uint8_t> reply, int transport, unsigned baud, const char* name, Exchange exchange,
                   int count) {
    Result result;
    result.framing = name;
    result.baud = baud;
    VQS vqs;
    vqs.transport = transport;
    vqs.retryCount = 0;
    vqs.portHandle.reset(new MemoryPort(std::move(reply)));
    vqs.portOpen = true;
    measure(vqs, exchange, count, result);
    return result;
}

Result run(vqssim::Framing framing, int transport, unsigned baud, const char* name, Exchange exchange, int count) {
    Result result;
    result.framing = name;
    result.baud = baud;
    vqssim::Simulator sim(framing);
    if (!sim.openPty()) {
        std::fprintf(stderr, "%s: no pseudo-terminal: %s\n", name, sim.lastError().c_str());
        return result;
    }
    sim.start();
    VQS vqs;
    vqs.transport = transport;
    vqs.retryCount = 0;
    vqs.portPath = sim.path();
    if (vqs.connect() != VQS_SUCCESS) {
        std::fprintf(stderr, "%s: cannot open %s\n", name, sim.path().c_str());
        return result;
    }
    measure(vqs, exchange, count, result);
    vqs.disconnect();
    sim.stop();
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(dropLog);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    const Result results[] = {
        run(vqssim::Framing::Uart, 1, 38400, "UART", uartVersion, count),
        run(vqssim::Framing::Usb, 0, 115200, "USB", usbVersion, count),
        runInMemory(uartVersionReply(), 1, 38400, "UART mem", uartVersion, count),
        runInMemory(usbVersionReply(), 0, 115200, "USB mem", usbVersion, count),
    };

    std::printf("Version command round trip over a pseudo-terminal, %d exchanges per framing\n\n", count);
    std::printf("%-9s %9s %9s %10s %10s %12s %9s\n", "framing", "req B", "reply B", "median us", "p99 us",
                "wire us", "failed");
    for (const Result& r : results) {
        // 8N1: ten bit times per byte.
        const double wire = static_cast<double>(r.requestBytes + r.replyBytes) * 10.0 * 1e6 / r.baud;
        std::printf("%-9s %9zu %9zu %10.1f %10.1f %12.1f %9zu\n", r.framing, r.requestBytes, r.replyBytes,
                    percentile(r.microseconds, 0.5), percentile(r.microseconds, 0.99), wire, r.failures);
    }
    return 0;
}
