// UART framing: request frames, reply checks, reply-status texts and retransmission.
#include "vqs.h"

#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

struct ReplyStatusName {
    uint8_t first;
    uint8_t last;
    const char* name;
};

// Codes 0x08..0x20 are reserved by the sensor for request errors it does not name yet.
const ReplyStatusName kReplyStatusNames[] = {
    {0x00, 0x00, "Success"},
    {0x01, 0x01, "TxCRC Error"},
    {0x02, 0x02, "Bad Param"},
    {0x03, 0x03, "Exec Error"},
    {0x04, 0x04, "No Memory"},
    {0x05, 0x05, "Unknown Cmd"},
    {0x06, 0x06, "POST Error"},
    {0x07, 0x07, "Corrupted/Incomplete Request"},
    {0x08, 0x20, "Reserved Error"},
};

constexpr uint8_t kLastReplyStatus = 0x20;
constexpr uint16_t kUartCrcSeed = 0xFFFF;
// No reply the program takes is longer than the answer record; the receive area is larger.
constexpr size_t kLargestReply = sizeof(answer_t);
static_assert(kLargestReply <= kUartRxAreaSize - kUartReplyHeaderSize, "largest reply fits the receive area");
// Replies to other requests skipped while one reply is awaited.
constexpr unsigned kMaxStaleReplies = 4;

// The UART framing runs the check over the constant table directly.
uint16_t uartCrc(const uint8_t* data, size_t length) {
    uint16_t reg = kUartCrcSeed;
    for (size_t i = 0; i < length; ++i)
        reg = static_cast<uint16_t>((reg << 8) ^ crc16ConstTable[((reg >> 8) ^ data[i]) & 0xFF]);
    return reg;
}

void putU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

const char* replyStatusName(uint8_t code) {
    for (const ReplyStatusName& entry : kReplyStatusNames)
        if (code >= entry.first && code <= entry.last)
            return entry.name;
    return nullptr;
}

int VQS::uartSend(uint16_t cmdId, uint8_t* payload, uint16_t length) {
    if (length != 0 && payload == nullptr) {
        qWarning() << "No payload given but payload length is non-zero\n";
        return 1;
    }
    // The frame length is a 16-bit field; a payload that would wrap it cannot be framed.
    if (static_cast<uint32_t>(length) + kUartRequestHeaderSize > 0xFFFF) {
        qWarning() << logName() << "- payload too long for one frame:" << length;
        return 1;
    }
    const uint16_t frameLength = static_cast<uint16_t>(length + kUartRequestHeaderSize);
    VQSBuffer frame(new (std::nothrow) uint8_t[frameLength]());
    if (!frame) {
        qCritical() << logName() << "- Error allocating memory for tx packet";
        return 1;
    }
    frame[0] = static_cast<uint8_t>(cmdId & 0xFF);
    putU16(&frame[2], length);
    if (length != 0)
        std::memcpy(&frame[kUartRequestHeaderSize], payload, length);
    putU16(&frame[6], uartCrc(frame.get(), frameLength));

    // Whatever is still unread answered an earlier request (a reply that came after its resend
    // had been answered too); this request's reply must not be confused with it.
    serialDiscardInput();
    ++txPackets;
    txBytes += frameLength;
    const int written = serialWrite(frame.get(), frameLength);
    if (written != frameLength) {
        const int error = errno;
        qCritical("Failed to send packet: %s (%d)", std::strerror(error), error);
        return 1;
    }
    pendingRequest = std::move(frame);
    pendingRequestLength = frameLength;
    return 0;
}

namespace {

// Reads one whole reply into the receive area and checks its length and check value.
// 0 = a good reply in *header; 1 = missing or bad (statusText and the log say why).
int readUartReply(VQS& vqs, uint16_t cmdId, const char* when, uartReplyHeader_t* header) {
    uint8_t* const area = vqs.uartRxArea;
    const int headerRead = vqs.serialRead(area, kUartReplyHeaderSize);
    if (headerRead > 0)
        vqs.rxBytes += static_cast<uint64_t>(headerRead);
    if (headerRead <= 0) {
        qCritical("Failed to get reply (Cmd: %u)", static_cast<unsigned>(cmdId));
        return 1;
    }
    if (headerRead < static_cast<int>(kUartReplyHeaderSize)) {
        qWarning("Incomplete header received: %d bytes", headerRead);
        std::snprintf(vqs.statusText, sizeof(vqs.statusText), "No/Incomplete Reply\n(%s)", when);
        return 1;
    }

    std::memcpy(header, area, sizeof(*header));
    const uint16_t payloadLength = header->length;

    // Refused unread: waiting for a corrupt length would hold the link for 40 ms a byte (up to
    // minutes), and the rest of such a reply is dropped so it is not read as the next header.
    if (payloadLength > kLargestReply) {
        std::snprintf(vqs.statusText, sizeof(vqs.statusText), "Rx Payload Too Big\n(%s)", when);
        qCritical("%s - reply payload larger than any reply (%u < %u)", vqs.logName(),
                  static_cast<unsigned>(kLargestReply), static_cast<unsigned>(payloadLength));
        vqs.serialDiscardInput();
        return 1;
    }
    if (payloadLength != 0) {
        const int payloadRead = vqs.serialRead(area + kUartReplyHeaderSize, payloadLength);
        if (payloadRead > 0)
            vqs.rxBytes += static_cast<uint64_t>(payloadRead);
        if (payloadRead < static_cast<int>(payloadLength)) {
            const int error = errno;
            std::snprintf(vqs.statusText, sizeof(vqs.statusText), "No/Incomplete Rx Payload\n(%s)", when);
            qCritical("Failed to get reply payload: %s (%d)", std::strerror(error), error);
            return 1;
        }
    }

    vqs.lastReplyHeader = *header;
    const uint16_t received = header->checksum;
    putU16(area + 4, 0);
    const uint16_t computed = uartCrc(area, kUartReplyHeaderSize + payloadLength);
    putU16(area + 4, received);
    if (computed != received) {
        qWarning("Checksum failed: expected %u, received %u", static_cast<unsigned>(computed),
                 static_cast<unsigned>(received));
        std::snprintf(vqs.statusText, sizeof(vqs.statusText), "Rx CRC Error\n(%s)", when);
        return 1;
    }
    return 0;
}

}  // namespace

int VQS::getUARTPacket(uint16_t cmdId, uint8_t* buffer, uint32_t bufferSize) {
    const QByteArray stamp = replyTimeStamp().toLatin1();
    const char* when = stamp.constData();

    // Only the identifier's low byte travels in the request frame. A reply echoing another
    // one answers an earlier request (sent late, after its resend): it is dropped and the
    // read goes on, so it can neither pass for this reply nor cost a retransmission.
    const uint8_t awaited = static_cast<uint8_t>(cmdId & 0xFF);
    uartReplyHeader_t header;
    for (unsigned dropped = 0;; ++dropped) {
        if (readUartReply(*this, cmdId, when, &header) != 0)
            return 1;
        if (header.cmdId == awaited)
            break;
        std::snprintf(statusText, sizeof(statusText), "Cmd ID Mismatch\n(%s)", when);
        qWarning("cmdID mismatch: expected %u, received %u", static_cast<unsigned>(cmdId),
                 static_cast<unsigned>(header.cmdId));
        if (dropped + 1 >= kMaxStaleReplies)
            return 1;
    }
    const uint16_t payloadLength = header.length;

    if (header.status != 0) {
        if (header.status <= kLastReplyStatus) {
            std::snprintf(statusText, sizeof(statusText), "%s [0x%02x]\n(%s)", replyStatusName(header.status),
                          static_cast<unsigned>(header.status), when);
            DumpReplyHdr(&header);
            return 1;
        }
        // Above 0x20 the byte is the sensor's own status: reported, and the reply still counts.
        if (const char* name = statusCodeText(header.status))
            std::snprintf(statusText, sizeof(statusText), "%s\n(%s)", name, when);
        else
            std::snprintf(statusText, sizeof(statusText), "Unknown Error 0x%x\n(%s)",
                          static_cast<unsigned>(header.status), when);
    }

    if (payloadLength != 0) {
        if (buffer == nullptr || payloadLength > bufferSize) {
            std::snprintf(statusText, sizeof(statusText), "Rx Payload Too Big\n(%s)", when);
            qWarning("Buffer too small for payload (%u < %u)", buffer ? static_cast<unsigned>(bufferSize) : 0u,
                     static_cast<unsigned>(payloadLength));
            return 1;
        }
        std::memset(buffer, 0, bufferSize);
        std::memcpy(buffer, uartRxArea + kUartReplyHeaderSize, payloadLength);
    }
    return 0;
}

int VQS::uartRecv(uint16_t cmdId, uint8_t* buffer, uint32_t bufferSize) {
    if (getUARTPacket(cmdId, buffer, bufferSize) == 0) {
        pendingRequest.reset();
        pendingRequestLength = 0;
        return 0;
    }
    for (unsigned attempt = 1; attempt <= retryCount; ++attempt) {
        qWarning("%s Re-transmitting (cmdID %u): %u", logName(), static_cast<unsigned>(cmdId), attempt);
        if (pendingRequest && pendingRequestLength != 0) {
            // What a garbled reply left behind would otherwise open the resend's reply.
            serialDiscardInput();
            ++retransmissions;
            ++txPackets;
            txBytes += pendingRequestLength;
            serialWrite(pendingRequest.get(), pendingRequestLength);
        }
        if (getUARTPacket(cmdId, buffer, bufferSize) == 0) {
            pendingRequest.reset();
            pendingRequestLength = 0;
            return 0;
        }
    }
    qWarning("%s - No valid response (%u re-tranmissions attempted)", logName(), static_cast<unsigned>(retryCount));
    return 1;
}

void VQS::DumpReplyHdr(const uartReplyHeader_t* header) {
    qInfo("----\nREPLY:\n");
    qInfo("  CmdID: %u", static_cast<unsigned>(header->cmdId));
    qInfo("  Status: %u", static_cast<unsigned>(header->status));
    qInfo("  Length: %u", static_cast<unsigned>(header->length));
    qInfo("  Checksum: %u", static_cast<unsigned>(header->checksum));
}
