// The command set: one handler per (framing, command), chosen from a table.
#include "sim_impl.h"

#include <cstring>

#include "vqs_records.h"

namespace vqssim {

namespace {

using Impl = Simulator::Impl;

constexpr uint8_t kBadParam = 0x02;
constexpr uint8_t kUnknownCmd = 0x05;
constexpr uint16_t kUsbAccepted = 3;
constexpr uint16_t kUsbRefused = 2;
constexpr uint16_t kUsbUnknown = 5;

struct Ctx {
    Impl& d;
    const Request& r;
    const std::vector<FaultKind>& kinds;
    const std::vector<int64_t>& values;
};

Reply payload(std::vector<uint8_t> p) {
    Reply rep;
    rep.payload = std::move(p);
    return rep;
}

Reply uartError(uint8_t status) {
    Reply rep;
    rep.statusSet = true;
    rep.status = status;
    return rep;
}

Reply usbCode(uint16_t code) {
    std::vector<uint8_t> p(2);
    memcpy(p.data(), &code, 2);
    return payload(p);
}

template <typename T>
std::vector<uint8_t> le(T v) {
    std::vector<uint8_t> p(sizeof(T));
    memcpy(p.data(), &v, sizeof(T));
    return p;
}

// State byte: 2 measuring or 3 idle, unit code 0..3 in the upper four bits.
bool validState(uint8_t b) { return ((b & 0x0F) == 2 || (b & 0x0F) == 3) && (b >> 4) <= 3; }

// ---- shared ----

Reply doReboot(Ctx& c) {
    Reply rep;
    rep.none = true;
    rep.reboot = true;
    ++c.d.rebootCount;
    return rep;
}

// ---- UART ----

Reply uVerbose(Ctx& c) { return payload(c.d.verboseAnswer(c.d.sampleLocked())); }

Reply uEngData(Ctx& c) {
    std::vector<uint8_t> rec = c.d.engRecord(c.d.sampleLocked());
    std::vector<uint8_t> p(1024, 0);
    uint32_t n = uint32_t(rec.size());
    memcpy(p.data(), &n, 4);
    memcpy(p.data() + 4, rec.data(), rec.size());
    return payload(p);
}

Reply uVersion(Ctx& c) {
    if (c.r.payload[0] != 0x55) return uartError(kBadParam);
    return payload(c.d.versionRecord());
}

Reply uSensorInfo(Ctx& c) {
    if (c.r.payload.empty()) return payload(c.d.sensorInfo(true));
    if (c.r.payload[0] != 0xAA) return uartError(kBadParam);
    return payload(c.d.sensorInfo(false));
}

Reply uReadFlash(Ctx& c) {
    uart_readflash_t q;
    memcpy(&q, c.r.payload.data(), sizeof q);
    uint32_t n = q.count & 0xFFFF;
    if (q.address < kFlashBase || uint64_t(q.address) + n > uint64_t(kFlashBase) + c.d.flashMem.size())
        return uartError(kBadParam);
    size_t off = q.address - kFlashBase;
    return payload(std::vector<uint8_t>(c.d.flashMem.begin() + long(off), c.d.flashMem.begin() + long(off + n)));
}

Reply uGetParams(Ctx& c) { return payload(c.d.paramsRecord()); }

Reply uSetParams(Ctx& c) {
    if (!c.d.acceptParams(c.r.payload.data(), c.r.payload.size())) return uartError(kBadParam);
    return Reply();
}

Reply uCalibrate(Ctx& c) { return payload(c.d.calibrationReply(c.r.payload.data(), c.d.sampleLocked())); }

Reply uSetState(Ctx& c) {
    if (!validState(c.r.payload[0])) return uartError(kBadParam);
    c.d.applyStateLocked(c.r.payload[0]);
    return Reply();
}

Reply uBootloader(Ctx& c) {
    Reply rep;
    rep.enterBootloader = true;
    c.d.bootSilent = hasFault(c.kinds, FaultKind::SilentBootloader);
    return rep;
}

Reply uClearHistory(Ctx& c) {
    ++c.d.clears;
    return Reply();
}

Reply uAnalogOut(Ctx& c) {
    if (c.d.v3()) return uartError(kUnknownCmd);  // older firmware has no analog-output query
    Measurement w = c.d.measure(c.d.sampleLocked(), 0);
    return payload(le(w.analogOut));
}

// ---- USB ----

Reply sAnswer(Ctx& c) {
    c.d.lastAnswered = c.d.sampleLocked();
    return payload(c.d.answerRecord(c.d.lastAnswered));
}

Reply sEnviro(Ctx& c) { return payload(c.d.enviroRecord(c.d.sampleLocked())); }

Reply sSetState(Ctx& c) {
    uint32_t v;
    memcpy(&v, c.r.payload.data(), 4);
    if (v > 0xFF || !validState(uint8_t(v))) return usbCode(kUsbRefused);
    c.d.applyStateLocked(uint8_t(v));
    return usbCode(kUsbAccepted);
}

Reply sClearHistory(Ctx& c) {
    ++c.d.clears;
    return usbCode(kUsbAccepted);
}

Reply sVersion(Ctx& c) {
    std::string t = c.d.usbVersionText();
    std::vector<uint8_t> p(t.begin(), t.end());
    p.push_back(0);
    return payload(p);
}

Reply sSetParams(Ctx& c) {
    return usbCode(c.d.acceptParams(c.r.payload.data(), c.r.payload.size()) ? kUsbAccepted : kUsbRefused);
}

Reply sGetParams(Ctx& c) { return payload(c.d.paramsRecord()); }

Reply sName(Ctx& c) {
    std::vector<uint8_t> p(c.d.id.name.begin(), c.d.id.name.end());
    p.push_back(0);
    return payload(p);
}

std::vector<uint8_t> chunkReply(uint32_t status, uint32_t chunk) {
    firmwareWriteReply rep{status, chunk};
    std::vector<uint8_t> p(sizeof rep);
    memcpy(p.data(), &rep, sizeof rep);
    return p;
}

Reply sFirmwareChunk(Ctx& c) {
    Impl& d = c.d;
    firmwareWriteRequest q;
    memcpy(&q, c.r.payload.data(), sizeof q);
    if (q.chunkNumber == 0) {
        d.image.clear();
        d.nextChunk = 0;
        d.chainCrc = 0xFFFF;
        d.imageComplete = false;
    }
    // A resent chunk whose reply was lost: answer it again without writing it twice.
    if (d.nextChunk > 0 && q.chunkNumber == d.nextChunk - 1 && d.image.size() >= 64 &&
        memcmp(d.image.data() + d.image.size() - 64, q.data, 64) == 0)
        return payload(chunkReply(3, q.chunkNumber));
    if (q.chunkNumber != d.nextChunk) return payload(chunkReply(2, d.nextChunk));
    uint16_t crc = simCrc16(q.data, 64, q.chunkNumber == 0 ? 0xFFFF : d.chainCrc);
    if (q.checksum != crc) return payload(chunkReply(1, q.chunkNumber));
    if (hasFault(c.kinds, FaultKind::ChunkRefused))
        return payload(chunkReply(uint32_t(faultValue(c.kinds, c.values, FaultKind::ChunkRefused, 1)), q.chunkNumber));
    d.image.insert(d.image.end(), q.data, q.data + 64);
    d.chainCrc = crc;
    ++d.nextChunk;
    d.imageComplete = q.lastChunk != 0;
    uint32_t echoed = q.chunkNumber;
    if (hasFault(c.kinds, FaultKind::ChunkOutOfSequence))
        echoed = uint32_t(faultValue(c.kinds, c.values, FaultKind::ChunkOutOfSequence, int64_t(q.chunkNumber) - 1));
    return payload(chunkReply(3, echoed));
}

struct Handler {
    Framing framing;
    uint16_t command;
    int minLength;  // payload bytes accepted
    int maxLength;
    Reply (*fn)(Ctx&);
};

const Handler kHandlers[] = {
    {Framing::Uart, cmd::UartVerboseAnswer, 0, 0, uVerbose},
    {Framing::Uart, cmd::UartEngData, 0, 0, uEngData},
    {Framing::Uart, cmd::UartVersion, 1, 1, uVersion},
    {Framing::Uart, cmd::UartSensorInfo, 0, 1, uSensorInfo},
    {Framing::Uart, cmd::UartReadFlash, 8, 8, uReadFlash},
    {Framing::Uart, cmd::UartGetParams, 0, 0, uGetParams},
    {Framing::Uart, cmd::UartSetParams, int(kParamTransferSize), int(kParamTransferSize), uSetParams},
    {Framing::Uart, cmd::UartCalibrate, 8, 8, uCalibrate},
    {Framing::Uart, cmd::UartSetState, 1, 1, uSetState},
    {Framing::Uart, cmd::UartEnterBootloader, 0, 0, uBootloader},
    {Framing::Uart, cmd::UartClearHistory, 0, 0, uClearHistory},
    {Framing::Uart, cmd::UartReboot, 0, 0, doReboot},
    {Framing::Uart, cmd::UartAnalogOut, 0, 0, uAnalogOut},
    {Framing::Usb, cmd::UsbAnswer, 0, 6, sAnswer},
    {Framing::Usb, cmd::UsbEnviro, 0, 0, sEnviro},
    {Framing::Usb, cmd::UsbSetState, 4, 4, sSetState},
    {Framing::Usb, cmd::UsbClearHistory, 0, 0, sClearHistory},
    {Framing::Usb, cmd::UsbVersion, 0, 0, sVersion},
    {Framing::Usb, cmd::UsbReboot, 0, 0, doReboot},
    {Framing::Usb, cmd::UsbSetParams, int(kParamTransferSize), int(kParamTransferSize), sSetParams},
    {Framing::Usb, cmd::UsbGetParams, 0, 0, sGetParams},
    {Framing::Usb, cmd::UsbSensorName, 0, 0, sName},
    {Framing::Usb, cmd::UsbFirmwareChunk, int(sizeof(firmwareWriteRequest)), int(sizeof(firmwareWriteRequest)),
     sFirmwareChunk},
};

}  // namespace

void Simulator::Impl::holdForNextSample() {
    Clock::time_point until;
    {
        std::lock_guard<std::mutex> lock(m);
        until = Clock::now() + std::chrono::milliseconds(opt.samplePeriodMs);
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m);
            // Sample 0 is no measurement (a device powered up and not yet measuring): held too.
            const uint32_t now = sampleLocked();
            if (opt.answerAtOnce || (lastAnswered == 0 && now != 0) || now != lastAnswered) return;
        }
        if (Clock::now() >= until || !sleepFor(5)) return;
    }
}

Reply Simulator::Impl::handle(const Request& r, const std::vector<FaultKind>& kinds,
                              const std::vector<int64_t>& values) {
    // The sensor measures once per cycle and answers an answer request with a new sample.
    if (framing == Framing::Usb && r.command == cmd::UsbAnswer && r.checkOk) holdForNextSample();
    std::lock_guard<std::mutex> lock(m);
    Ctx c{*this, r, kinds, values};
    const Handler* h = nullptr;
    for (const Handler& x : kHandlers)
        if (x.framing == framing && x.command == r.command) h = &x;
    Reply rep;
    if (!h) {
        rep = framing == Framing::Uart ? uartError(kUnknownCmd) : usbCode(kUsbUnknown);
    } else if (int(r.payload.size()) < h->minLength || int(r.payload.size()) > h->maxLength) {
        rep = framing == Framing::Uart ? uartError(kBadParam) : usbCode(kUsbRefused);
    } else {
        rep = h->fn(c);
    }
    auto o = overrides.find(r.command);
    if (o != overrides.end() && !rep.none) {
        rep.payload = o->second;
        rep.statusSet = false;
    }
    if (rep.reboot) {
        resetDeviceLocked();
        return rep;
    }
    if (!rep.none && !rep.statusSet) {
        rep.status = statusLocked();
        ++statusReplies;
    }
    return rep;
}

}  // namespace vqssim
