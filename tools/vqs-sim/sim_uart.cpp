// UART framing, device side: 8-byte request header in, 6-byte reply header out.
//   request: u8 cmd, u8 0, u16 length, u16 0, u16 CRC (seed 0xFFFF over the frame, field 0), payload
//   reply:   u8 cmd, u8 status, u16 length, u16 CRC (seed 0xFFFF over header and payload), payload
#include "sim_impl.h"

#include <cstring>

namespace vqssim {

namespace {
constexpr size_t kReqHeader = 8;
constexpr size_t kRepHeader = 6;
constexpr uint16_t kMaxRequestPayload = 8200;
constexpr uint8_t kTxCrcError = 0x01;
constexpr uint8_t kIncomplete = 0x07;

Reply errorStatus(uint8_t status) {
    Reply r;
    r.statusSet = true;
    r.status = status;
    return r;
}
}  // namespace

void Simulator::Impl::pumpUart() {
    while (!rx.empty()) {
        auto now = Clock::now();
        bool stale = now - rxFirst > std::chrono::milliseconds(opt.requestTimeoutMs);
        uint16_t len = rx.size() >= 4 ? uint16_t(rx[2] | (rx[3] << 8)) : 0;
        bool tooLong = rx.size() >= 4 && len > kMaxRequestPayload;
        if (!tooLong && rx.size() >= kReqHeader + len) {
            Request r;
            r.bytes.assign(rx.begin(), rx.begin() + long(kReqHeader + len));
            rx.erase(rx.begin(), rx.begin() + long(kReqHeader + len));
            rxFirst = now;
            r.command = r.bytes[0];
            r.payload.assign(r.bytes.begin() + kReqHeader, r.bytes.end());
            std::vector<uint8_t> zeroed = r.bytes;
            zeroed[6] = zeroed[7] = 0;
            uint16_t sent = uint16_t(r.bytes[6] | (r.bytes[7] << 8));
            r.checkOk = simCrc16(zeroed.data(), zeroed.size(), 0xFFFF) == sent;
            r.repeat = r.bytes == prevFrame;
            prevFrame = r.bytes;
            Reply crcError = errorStatus(kTxCrcError);
            dispatch(r, r.checkOk ? nullptr : &crcError);
            continue;
        }
        if (!tooLong && !stale) return;  // wait for the rest
        // An impossible length, or a frame that stopped arriving: answer "incomplete", drop input.
        Request r;
        r.bytes = rx;
        r.command = rx[0];
        r.checkOk = false;
        rx.clear();
        if (tooLong) {
            while (readSome(50) > 0) {
            }
            rx.clear();
        }
        Reply incomplete = errorStatus(kIncomplete);
        dispatch(r, &incomplete);
        return;
    }
}

std::vector<uint8_t> Simulator::Impl::encodeUart(const Request& r, const Reply& reply,
                                                  const std::vector<FaultKind>& kinds,
                                                  const std::vector<int64_t>& values) {
    holdLateReply(*this, kinds, values);
    std::vector<uint8_t> payload = reply.payload;
    if (hasFault(kinds, FaultKind::PayloadSize))
        payload.resize(size_t(faultValue(kinds, values, FaultKind::PayloadSize, 0)), 0);
    std::vector<uint8_t> f(kRepHeader + payload.size());
    f[0] = uint8_t(r.command + faultValue(kinds, values, FaultKind::WrongCommand, hasFault(kinds, FaultKind::WrongCommand)));
    f[1] = hasFault(kinds, FaultKind::ReplyStatus) ? uint8_t(faultValue(kinds, values, FaultKind::ReplyStatus, 0x05))
                                                   : reply.status;
    f[2] = uint8_t(payload.size());
    f[3] = uint8_t(payload.size() >> 8);
    if (!payload.empty()) memcpy(f.data() + kRepHeader, payload.data(), payload.size());
    uint16_t crc = simCrc16(f.data(), f.size(), 0xFFFF);
    if (hasFault(kinds, FaultKind::BadCrc)) crc ^= uint16_t(faultValue(kinds, values, FaultKind::BadCrc, 0x5A5A));
    f[4] = uint8_t(crc);
    f[5] = uint8_t(crc >> 8);
    if (hasFault(kinds, FaultKind::OversizeLength)) {
        const uint16_t announced = uint16_t(faultValue(kinds, values, FaultKind::OversizeLength, 27000));
        f[2] = uint8_t(announced);
        f[3] = uint8_t(announced >> 8);
    }
    if (hasFault(kinds, FaultKind::TruncatedHeader))
        f.resize(std::min<size_t>(kRepHeader - 1, size_t(faultValue(kinds, values, FaultKind::TruncatedHeader, 3))));
    else if (hasFault(kinds, FaultKind::TruncatedPayload) && !payload.empty())
        f.resize(kRepHeader + std::min<size_t>(payload.size() - 1, size_t(faultValue(kinds, values, FaultKind::TruncatedPayload,
                                                                                    int64_t(payload.size() / 2)))));
    return f;
}

}  // namespace vqssim
