// Writes a 114 KiB image (the whole application area) through usbUpdateFirmware: to
// the simulator over a pseudo-terminal (no baud pacing: what the program, the
// simulator and the kernel add), and to an in-memory port that answers every chunk
// at once (what the program alone spends per chunk). The wire time of the same bytes
// at 115200 8N1 is printed for scale.
//
//   bench_firmware_write [runs, default 3] [image KiB, default and at most 114]
#include "serialport.h"
#include "simulator.h"
#include "vqs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void dropLog(QtMsgType, const QMessageLogContext&, const QString&) {}

void putU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// Answers every chunk request with "written" and the request's chunk number, at once.
class ChunkAckPort : public SerialPortIo {
public:
    SerialOpenResult open(const char*, const SerialPortSettings&) override { return SerialOpenResult::Ok; }
    bool close() override { return true; }
    bool isOpen() const override { return true; }
    long write(const uint8_t* data, uint32_t n) override {
        if (n < kUsbHeaderSize + sizeof(firmwareWriteRequest))
            return static_cast<long>(n);
        firmwareWriteRequest request;
        std::memcpy(&request, data + kUsbHeaderSize, sizeof(request));
        const firmwareWriteReply reply{3, request.chunkNumber};
        uint8_t packet[kUsbHeaderSize + sizeof(reply)] = {};
        putU16(packet, 0x207E);
        std::memcpy(packet + 4, data + 4, 4);  // sequence and command echoed
        putU16(packet + 8, sizeof(reply));
        std::memcpy(packet + kUsbHeaderSize, &reply, sizeof(reply));
        putU16(packet + 10, crc16False(packet, sizeof(packet)));
        pending_.insert(pending_.end(), packet, packet + sizeof(packet));
        return static_cast<long>(n);
    }
    long read(uint8_t* out, uint32_t n) override {
        const size_t count = std::min<size_t>(n, pending_.size());
        std::copy(pending_.begin(), pending_.begin() + static_cast<long>(count), out);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(count));
        return static_cast<long>(count);
    }
    bool flush() override { return true; }
    intptr_t nativeHandle() const override { return 0; }
    SerialPortSettings settings() const override { return {}; }

private:
    std::deque<uint8_t> pending_;
};

struct Run {
    double totalMs = 0;
    std::vector<double> chunkUs;  // time between consecutive progress reports
    bool ok = false;
};

Run writeImage(VQS& vqs, const QByteArray& path) {
    Run run;
    auto last = Clock::now();
    QObject::connect(&vqs, &VQS::VQSFWChunkWritten, [&run, &last](int) {
        const auto now = Clock::now();
        run.chunkUs.push_back(std::chrono::duration<double, std::micro>(now - last).count());
        last = now;
    });
    QByteArray mutablePath = path;
    const auto start = Clock::now();
    last = start;
    run.ok = vqs.usbUpdateFirmware(mutablePath.data()) == VQS_SUCCESS;
    run.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    QObject::disconnect(&vqs, &VQS::VQSFWChunkWritten, nullptr, nullptr);
    return run;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5))];
}

void report(const char* name, const std::vector<Run>& runs, size_t chunks) {
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& r = runs[i];
        std::printf("%-8s run %zu: %s total %9.1f ms  per chunk mean %8.1f us  median %8.1f us  p99 %8.1f us\n", name,
                    i + 1, r.ok ? "ok    " : "FAILED", r.totalMs, r.totalMs * 1000.0 / static_cast<double>(chunks),
                    percentile(r.chunkUs, 0.5), percentile(r.chunkUs, 0.99));
    }
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(dropLog);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // A larger image is refused before a single chunk goes out.
    constexpr int kMaxKib = 114;
    const int kib = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, kMaxKib) : kMaxKib;

    std::vector<uint8_t> image(static_cast<size_t>(kib) * 1024);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31 + (i >> 10));
    const QString file = QDir::temp().filePath(QStringLiteral("bench_firmware_write_%1.bin").arg(QCoreApplication::applicationPid()));
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())) !=
                static_cast<qint64>(image.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    const QByteArray path = file.toUtf8();
    const size_t chunks = (image.size() + 63) / 64;

    std::vector<Run> ptyRuns;
    bool matches = true;
    for (int i = 0; i < runs; ++i) {
        vqssim::Simulator sim(vqssim::Framing::Usb);
        if (!sim.openPty()) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", sim.lastError().c_str());
            return 1;
        }
        sim.start();
        VQS vqs;
        vqs.transport = 0;
        vqs.portPath = sim.path();
        ptyRuns.push_back(writeImage(vqs, path));
        matches = matches && sim.firmwareImageMatches(image);
        sim.stop();
    }

    std::vector<Run> memoryRuns;
    for (int i = 0; i < runs; ++i) {
        VQS vqs;
        vqs.transport = 0;
        vqs.portHandle.reset(new ChunkAckPort);
        vqs.portOpen = true;  // connect() keeps an open port
        memoryRuns.push_back(writeImage(vqs, path));
    }
    QFile::remove(file);

    // Each chunk: a 16 + 76 byte request and a 16 + 8 byte reply; 8N1 is ten bit times per byte.
    const double wireMs = static_cast<double>(chunks) * (16 + 76 + 16 + 8) * 10.0 * 1000.0 / 115200.0;
    std::printf("USB firmware write of a %d KiB image: %zu chunks of 64 bytes\n", kib, chunks);
    std::printf("image in the simulator matches the file: %s\n", matches ? "yes" : "NO");
    std::printf("wire time of the same bytes at 115200 8N1: %.1f ms (%.1f us per chunk)\n\n", wireMs,
                wireMs * 1000.0 / static_cast<double>(chunks));
    report("pty+sim", ptyRuns, chunks);
    report("memory", memoryRuns, chunks);
    return 0;
}
