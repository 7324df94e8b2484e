// USB framing: request packets, reading and checking a packet, the reply wait,
// acknowledgements and retransmission.
#include "vqs.h"

#include <QDebug>

#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace {

constexpr uint16_t kUsbMarker = 0x207E;
constexpr uint16_t kUsbCrcSeed = 0xFFFF;

// Header offsets.
constexpr size_t kFlagsAt = 2;
constexpr size_t kSequenceAt = 4;
constexpr size_t kCommandAt = 6;
constexpr size_t kLengthAt = 8;
constexpr size_t kCheckAt = 10;

// Flags.
constexpr uint16_t kFlagAck = 0x0001;
constexpr uint16_t kFlagRetransmission = 0x0002;
constexpr uint16_t kFlagChecksumError = 0x0004;
constexpr uint16_t kFlagVersionError = 0x0008;
constexpr uint16_t kFlagTruncated = 0x0010;
constexpr uint16_t kErrorFlags = kFlagChecksumError | kFlagVersionError | kFlagTruncated;

constexpr unsigned kPollPauseMs = 100;

// No reply is longer than the answer record. A header announcing more is corrupt: waiting for
// its payload would hold the read for 40 ms per announced byte (18 minutes for 27,000 bytes).
constexpr uint16_t kLargestReply = sizeof(answer_t);
// Replies to other requests skipped in one read for the awaited reply.
constexpr unsigned kMaxStaleReplies = 4;

uint16_t getU16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

void putU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// Error flags a reply can carry, reported in this order; only the first one set counts.
struct UsbErrorFlag {
    uint16_t flag;
    const char* message;
    uint16_t VQS::*counter;
};

const UsbErrorFlag kUsbErrorFlags[] = {
    {kFlagChecksumError, "- checksum mismatch (sent)", &VQS::checksumErrors},
    {kFlagVersionError, "- incompatible protocol version", &VQS::versionErrors},
    {kFlagTruncated, "- truncated command (sent)", &VQS::truncationErrors},
};

// Seconds elapsed since a mark, on a monotonic high-resolution clock.
class ElapsedClock {
public:
    ElapsedClock() {
#ifdef _WIN32
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
#else
        start_ = std::chrono::steady_clock::now();
#endif
    }

    double seconds() const {
#ifdef _WIN32
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
#else
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
#endif
    }

private:
#ifdef _WIN32
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
#else
    std::chrono::steady_clock::time_point start_;
#endif
};

// Header fields of a packet that passed its checks.
struct PacketHeader {
    uint16_t flags = 0;
    uint16_t sequence = 0;
    uint16_t command = 0;
};

// Reads and checks one packet; also hands back its header fields, which the waits need
// even when the packet carries a payload.
VQSBuffer readPacket(VQS& vqs, uint16_t* length, PacketHeader* fields) {
    if (length)
        *length = 0;
    VQSBuffer header(new (std::nothrow) uint8_t[kUsbHeaderSize]());
    if (!header) {
        qCritical() << vqs.logName() << "- Error allocating memory for header";
        return nullptr;
    }
    const int headerRead = vqs.serialRead(header.get(), kUsbHeaderSize);
    if (headerRead <= 0)
        return nullptr;
    vqs.rxBytes += static_cast<uint64_t>(headerRead);

    const uint16_t received = getU16(&header[kCheckAt]);
    putU16(&header[kCheckAt], 0);
    const uint16_t payloadLength = getU16(&header[kLengthAt]);
    const uint16_t marker = getU16(&header[0]);
    if (marker != kUsbMarker || payloadLength > kLargestReply) {
        // Whatever follows belongs to the same broken packet; drop it so the next read starts
        // clean, and let the wait and its retransmission recover.
        qWarning("%s - corrupt reply header refused (start 0x%04x, payload length %u)", vqs.logName(),
                 static_cast<unsigned>(marker), static_cast<unsigned>(payloadLength));
        vqs.serialDiscardInput();
        return nullptr;
    }

    VQSBuffer payload;
    uint16_t computed = crc16(header.get(), kUsbHeaderSize, kUsbCrcSeed);
    if (payloadLength != 0) {
        payload.reset(new (std::nothrow) uint8_t[payloadLength]());
        if (!payload) {
            qCritical() << vqs.logName() << "- Error allocating memory for payload";
            return nullptr;
        }
        const int payloadRead = vqs.serialRead(payload.get(), payloadLength);
        if (payloadRead > 0)
            vqs.rxBytes += static_cast<uint64_t>(payloadRead);
        computed = crc16(payload.get(), payloadLength, computed);
    }
    ++vqs.rxPackets;
    putU16(&header[kCheckAt], received);

    if (computed != received) {
        qWarning() << vqs.logName() << "- checksum mismatch (RCVD)";
        ++vqs.checksumErrors;
        return nullptr;
    }

    const uint16_t packetFlags = getU16(&header[kFlagsAt]);
    vqs.lastUsbFlags = 0;
    if (packetFlags & kErrorFlags) {
        vqs.lastUsbFlags = packetFlags;
        for (const UsbErrorFlag& error : kUsbErrorFlags) {
            if (packetFlags & error.flag) {
                qWarning() << vqs.logName() << error.message;
                ++(vqs.*error.counter);
                break;
            }
        }
        return nullptr;
    }

    if (fields) {
        fields->flags = packetFlags;
        fields->sequence = getU16(&header[kSequenceAt]);
        fields->command = getU16(&header[kCommandAt]);
    }
    if (length)
        *length = payloadLength;
    return payloadLength != 0 ? std::move(payload) : std::move(header);
}

// Marks the kept request as a retransmission, re-checks it and writes it again.
void retransmitPending(VQS& vqs) {
    if (!vqs.pendingRequest || vqs.pendingRequestLength < kUsbHeaderSize)
        return;
    uint8_t* packet = vqs.pendingRequest.get();
    putU16(&packet[kFlagsAt], static_cast<uint16_t>(getU16(&packet[kFlagsAt]) | kFlagRetransmission));
    putU16(&packet[kCheckAt], 0);
    putU16(&packet[kCheckAt], crc16(packet, vqs.pendingRequestLength, kUsbCrcSeed));
    // What a garbled reply left behind would otherwise open the resend's reply.
    vqs.serialDiscardInput();
    ++vqs.retransmissions;
    ++vqs.txPackets;
    vqs.txBytes += vqs.pendingRequestLength;
    vqs.serialWrite(packet, vqs.pendingRequestLength);
}

// Reads the reply to the pending request. A packet answering another request (one answered
// late, after its resend had been answered as well) is dropped and the read goes on.
VQSBuffer readAwaitedReply(VQS& vqs, uint16_t* length) {
    if (!vqs.pendingRequest || vqs.pendingRequestLength < kUsbHeaderSize)
        return readPacket(vqs, length, nullptr);
    const uint16_t sequence = getU16(&vqs.pendingRequest[kSequenceAt]);
    const uint16_t command = getU16(&vqs.pendingRequest[kCommandAt]);
    for (unsigned dropped = 0; dropped < kMaxStaleReplies; ++dropped) {
        PacketHeader fields;
        VQSBuffer packet = readPacket(vqs, length, &fields);
        if (!packet || (fields.sequence == sequence && fields.command == command))
            return packet;
        if (length)
            *length = 0;
        qWarning("%s - reply to another request dropped (sequence %u, command 0x%04x; awaited %u, 0x%04x)",
                 vqs.logName(), static_cast<unsigned>(fields.sequence), static_cast<unsigned>(fields.command),
                 static_cast<unsigned>(sequence), static_cast<unsigned>(command));
    }
    return nullptr;
}

void releasePending(VQS& vqs) {
    vqs.pendingRequest.reset();
    vqs.pendingRequestLength = 0;
}

}  // namespace

int VQS::usbSend(uint16_t cmdId, uint8_t* payload, uint16_t length) {
    if (length != 0 && payload == nullptr) {
        qWarning() << logName() << "- no payload given but payload length is non-zero";
        return 1;
    }
    // The packet length is computed in 16 bits; a payload that would wrap it cannot be sent.
    if (static_cast<uint32_t>(length) + kUsbHeaderSize > 0xFFFF) {
        qWarning() << logName() << "- payload too long for one packet:" << length;
        return 1;
    }
    const uint16_t packetLength = static_cast<uint16_t>(length + kUsbHeaderSize);
    VQSBuffer packet(new (std::nothrow) uint8_t[packetLength]());
    if (!packet) {
        qCritical() << logName() << "- Error allocating memory for tx packet";
        return 1;
    }
    putU16(&packet[0], kUsbMarker);
    putU16(&packet[kSequenceAt], usbSequence);
    usbSequence = static_cast<uint16_t>(usbSequence + 1);
    putU16(&packet[kCommandAt], cmdId);
    putU16(&packet[kLengthAt], length);
    if (length != 0)
        std::memcpy(&packet[kUsbHeaderSize], payload, length);
    putU16(&packet[kCheckAt], crc16(packet.get(), packetLength, kUsbCrcSeed));

    // Whatever is still unread answered an earlier request; drop it before asking anew.
    serialDiscardInput();
    ++txPackets;
    txBytes += packetLength;
    serialWrite(packet.get(), packetLength);
    pendingRequest = std::move(packet);
    pendingRequestLength = packetLength;
    return 0;
}

VQSBuffer VQS::getPacket(uint16_t* length) {
    return readPacket(*this, length, nullptr);
}

VQSBuffer VQS::usbRecv(uint16_t cmdId, uint16_t* length, uint32_t waitSeconds) {
    (void)cmdId;  // the awaited reply is known by the pending request's sequence number and command
    const ElapsedClock clock;
    for (;;) {
        if (VQSBuffer packet = readAwaitedReply(*this, length)) {
            releasePending(*this);
            return packet;
        }
        if (clock.seconds() > static_cast<double>(waitSeconds))
            break;
        sleepMs(kPollPauseMs);
    }
    qWarning() << logName() << "- timeout:  retransmitting request";
    for (unsigned attempt = 1; attempt <= retryCount; ++attempt) {
        retransmitPending(*this);
        if (VQSBuffer packet = readAwaitedReply(*this, length)) {
            releasePending(*this);
            return packet;
        }
    }
    qWarning("%s - No valid response (%u re-tranmissions attempted)", logName(), static_cast<unsigned>(retryCount));
    return nullptr;
}

uint32_t VQS::receiveAck() {
    for (unsigned attempt = 0; attempt <= retryCount; ++attempt) {
        if (attempt != 0)
            retransmitPending(*this);
        PacketHeader fields;
        if (readPacket(*this, nullptr, &fields) && (fields.flags & kFlagAck)) {
            releasePending(*this);
            return 1;
        }
    }
    qWarning("%s - No ACK (%u re-transissions attempted)", logName(), static_cast<unsigned>(retryCount));
    return 0;
}
