// USB framing, device side: 16-byte packets both ways.
//   u16 0x207E, u16 flags, u16 sequence, u16 command, u16 length, u16 CRC (seed 0xFFFF over
//   header with the field 0, then payload), 4 reserved bytes, payload.
#include "sim_impl.h"

#include <cstring>

namespace vqssim {

namespace {
constexpr size_t kHeader = 16;
constexpr uint16_t kFlagCrc = 0x0004;
constexpr uint16_t kFlagTruncated = 0x0010;

uint16_t u16(const std::vector<uint8_t>& v, size_t off) { return uint16_t(v[off] | (v[off + 1] << 8)); }

void set16(std::vector<uint8_t>& v, size_t off, uint16_t x) {
    v[off] = uint8_t(x);
    v[off + 1] = uint8_t(x >> 8);
}

Reply flagged(uint16_t flags) {
    Reply r;
    r.flags = flags;
    return r;
}
}  // namespace

void Simulator::Impl::pumpUsb() {
    while (!rx.empty()) {
        // Skip noise up to the next start marker 0x7E 0x20.
        size_t start = 0;
        while (start < rx.size() && !(rx[start] == 0x7E && (start + 1 == rx.size() || rx[start + 1] == 0x20))) ++start;
        if (start > 0) {
            rx.erase(rx.begin(), rx.begin() + long(start));
            rxFirst = Clock::now();
            if (rx.empty()) return;
        }
        auto now = Clock::now();
        bool stale = now - rxFirst > std::chrono::milliseconds(opt.requestTimeoutMs);
        size_t need = rx.size() >= kHeader ? kHeader + u16(rx, 8) : SIZE_MAX;
        if (rx.size() >= need) {
            Request r;
            r.bytes.assign(rx.begin(), rx.begin() + long(need));
            rx.erase(rx.begin(), rx.begin() + long(need));
            rxFirst = now;
            r.flags = u16(r.bytes, 2);
            r.sequence = u16(r.bytes, 4);
            r.command = u16(r.bytes, 6);
            r.payload.assign(r.bytes.begin() + kHeader, r.bytes.end());
            std::vector<uint8_t> zeroed = r.bytes;
            set16(zeroed, 10, 0);
            r.checkOk = simCrc16(zeroed.data(), zeroed.size(), 0xFFFF) == u16(r.bytes, 10);
            r.repeat = (r.flags & 0x0002) != 0;
            Reply crcError = flagged(kFlagCrc);
            dispatch(r, r.checkOk ? nullptr : &crcError);
            continue;
        }
        if (!stale) return;
        // The packet stopped arriving: report it truncated with what we know of its header.
        Request r;
        r.bytes = rx;
        rx.clear();
        std::vector<uint8_t> h = r.bytes;
        h.resize(kHeader, 0);
        r.flags = u16(h, 2);
        r.sequence = u16(h, 4);
        r.command = u16(h, 6);
        r.checkOk = false;
        if (r.bytes.size() > kHeader) r.payload.assign(r.bytes.begin() + kHeader, r.bytes.end());
        Reply truncated = flagged(kFlagTruncated);
        dispatch(r, &truncated);
        return;
    }
}

std::vector<uint8_t> Simulator::Impl::encodeUsb(const Request& r, const Reply& reply,
                                                 const std::vector<FaultKind>& kinds,
                                                 const std::vector<int64_t>& values) {
    holdLateReply(*this, kinds, values);
    std::vector<uint8_t> payload = reply.payload;
    if (hasFault(kinds, FaultKind::ReplyStatus)) {
        uint16_t code = uint16_t(faultValue(kinds, values, FaultKind::ReplyStatus, 0x05));
        if (payload.size() < 2) payload.resize(2, 0);
        memcpy(payload.data(), &code, 2);
    }
    if (hasFault(kinds, FaultKind::PayloadSize))
        payload.resize(size_t(faultValue(kinds, values, FaultKind::PayloadSize, 0)), 0);
    payload.resize(std::min<size_t>(payload.size(), 0xFFFF));
    std::vector<uint8_t> p(kHeader + payload.size(), 0);
    uint16_t flags = reply.flags;
    if (hasFault(kinds, FaultKind::UsbFlags)) flags |= uint16_t(faultValue(kinds, values, FaultKind::UsbFlags, kFlagCrc));
    set16(p, 0, 0x207E);
    set16(p, 2, flags);
    set16(p, 4, r.sequence);
    set16(p, 6, uint16_t(r.command + faultValue(kinds, values, FaultKind::WrongCommand, hasFault(kinds, FaultKind::WrongCommand))));
    set16(p, 8, uint16_t(payload.size()));
    if (!payload.empty()) memcpy(p.data() + kHeader, payload.data(), payload.size());
    uint16_t crc = simCrc16(p.data(), p.size(), 0xFFFF);
    if (hasFault(kinds, FaultKind::BadCrc)) crc ^= uint16_t(faultValue(kinds, values, FaultKind::BadCrc, 0x5A5A));
    set16(p, 10, crc);
    if (hasFault(kinds, FaultKind::OversizeLength))
        set16(p, 8, uint16_t(faultValue(kinds, values, FaultKind::OversizeLength, 27000)));
    if (hasFault(kinds, FaultKind::TruncatedHeader))
        p.resize(std::min<size_t>(kHeader - 1, size_t(faultValue(kinds, values, FaultKind::TruncatedHeader, 8))));
    else if (hasFault(kinds, FaultKind::TruncatedPayload) && !payload.empty())
        p.resize(kHeader + std::min<size_t>(payload.size() - 1, size_t(faultValue(kinds, values, FaultKind::TruncatedPayload,
                                                                                   int64_t(payload.size() / 2)))));
    return p;
}

}  // namespace vqssim
