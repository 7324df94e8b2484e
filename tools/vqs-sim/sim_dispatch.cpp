// The reply pipeline shared by both framings: log the request, pick its faults, run the
// command, encode, disturb and write the reply.
#include "sim_impl.h"

#include <algorithm>

#include <cstdio>
#include <termios.h>

namespace vqssim {

void Simulator::Impl::dispatch(Request& r, const Reply* errorReply) {
    logRequest(r);
    std::vector<int64_t> values;
    std::vector<FaultKind> kinds = faultsFor(r, &values);
    if (!kinds.empty()) {
        std::lock_guard<std::mutex> lock(m);
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            if (it->index == r.index) {
                it->faults = kinds;
                break;
            }
        }
    }
    Reply reply;
    if (errorReply) {
        reply = *errorReply;
    } else {
        reply = handle(r, kinds, values);
    }
    if (reply.none) return;
    if (hasFault(kinds, FaultKind::HangUp)) {
        hangUp();
        return;
    }
    if (hasFault(kinds, FaultKind::NoReply)) {
        // A swallowed bootloader request still switches the device: only the reply is lost.
        if (reply.enterBootloader) {
            std::lock_guard<std::mutex> lock(m);
            bootloader = true;
            bootInit = false;
            pagesErased = bytesWritten = lowestWrite = 0;
        }
        return;
    }
    uint32_t delay = opt.replyDelayMs;
    if (hasFault(kinds, FaultKind::Delay)) delay += uint32_t(faultValue(kinds, values, FaultKind::Delay, 1500));
    if (delay && !sleepFor(delay)) return;

    std::vector<uint8_t> bytes =
        framing == Framing::Uart ? encodeUart(r, reply, kinds, values) : encodeUsb(r, reply, kinds, values);
    auto noiseBytes = [&](FaultKind k) {
        std::vector<uint8_t> g(size_t(faultValue(kinds, values, k, 7)));
        std::lock_guard<std::mutex> lock(m);
        for (uint8_t& b : g) b = uint8_t(noise());
        return g;
    };
    if (hasFault(kinds, FaultKind::Garbage)) bytes = noiseBytes(FaultKind::Garbage);
    if (hasFault(kinds, FaultKind::GarbledHeader)) {
        // Noise behind a plausible header that announces fewer bytes than follow.
        const bool uart = framing == Framing::Uart;
        const size_t header = uart ? 6 : 16;
        std::vector<uint8_t> g(size_t(std::max<int64_t>(int64_t(header),
                                                        faultValue(kinds, values, FaultKind::GarbledHeader, uart ? 16 : 32))));
        {
            std::lock_guard<std::mutex> lock(m);
            for (uint8_t& b : g) b = uint8_t(noise());
        }
        if (uart) {
            g[0] = uint8_t(r.command);
            g[1] = 0;
            g[2] = 5;
            g[3] = 0;
        } else {
            const uint8_t start[10] = {0x7E, 0x20, 0, 0, uint8_t(r.sequence), uint8_t(r.sequence >> 8),
                                       uint8_t(r.command), uint8_t(r.command >> 8), 5, 0};
            std::copy(start, start + 10, g.begin());
        }
        bytes = g;
    }
    if (hasFault(kinds, FaultKind::GarbageBefore)) {
        std::vector<uint8_t> g = noiseBytes(FaultKind::GarbageBefore);
        bytes.insert(bytes.begin(), g.begin(), g.end());
    }
    if (opt.verbose) fprintf(stderr, "vqs-sim: reply to #%u: %zu bytes\n", r.index, bytes.size());
    {
        // Counted (and the mode switched) before the bytes go out, so a client that has read
        // the reply already sees the device in its new state.
        std::lock_guard<std::mutex> lock(m);
        ++replies;
        if (reply.enterBootloader) {
            bootloader = true;
            bootInit = false;
            pagesErased = bytesWritten = lowestWrite = 0;
        }
    }
    writeAll(bytes);
    if (reply.enterBootloader) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(m);
            fd = master;
        }
        if (fd >= 0) tcdrain(fd);
        applyPortMode(true);
        rx.clear();
    }
}

}  // namespace vqssim
