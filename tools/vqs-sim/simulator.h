// vqs-sim: the device side of a VQS gas sensor, on a pseudo-terminal or a real serial port.
//
// Speaks the UART framing (8-byte request header / 6-byte reply header) or the USB framing
// (16-byte packets) byte for byte, answers every command of the sensor's command set, injects
// link faults on a chosen request or at random, logs the exact bytes of every request, accepts
// USB firmware chunks and, after UART command 0x63, acts as an STM32 system bootloader that
// stm32flash can write through.
//
// Typical use in a test:
//   vqssim::Simulator sim(vqssim::Framing::Uart);
//   QVERIFY(sim.openPty());
//   sim.start();
//   vqs.portPath = sim.path();
//   ... exercise the client ...
//   QCOMPARE(sim.requestCount(0x42), size_t(1));
//   sim.stop();
//
// Thread safety: every public method may be called from any thread while the worker runs.
//
// ---------------------------------------------------------------------------------------------
// Measurement waveform (see waveform()): a pure function of the sample number n and the
// concentration-unit code u last set by the set-state command (0 at start).
//   phase         = n % 60
//   lel (%LEL)    = 0                         for phase <  20
//                   2.5 * (phase - 20)        for 20 <= phase < 40   (0 .. 47.5)
//                   50 - 2.5 * (phase - 40)   for 40 <= phase < 60   (50 .. 2.5)
//   concentration = lel                       u = 0 "%LEL(ISO)"
//                   lel * 0.044               u = 1 "%VOL" (methane, 4.4 %VOL = 100 %LEL)
//                   lel * 0.88                u = 2 "%LEL(IEC)" (5.0 %VOL = 100 %LEL)
//                   lel * 440                 u = 3 "PPM"
//                   lel                       any other code
//   gasId         = 0 ("None") when lel == 0, else Identity::gasId (default 3 "Methane")
//   temperature   = 25.0 + 0.1 * (n % 50)     degrees C
//   pressure      = 101.3 + 0.01 * (n % 10)   kPa
//   humidity      = 40.0 + (n % 20)           %RH
//   absHumidity   = humidity * 0.23           g/m3
//   raw T/P/RH    = temperature*100, pressure*10, humidity*100
//   midCompNorm   = lel, maxCompNorm = lel * 1.1
//   dsc1MidPower  = 20 + lel * 0.1, dsc1MaxPower = 30 + lel * 0.1   mW
//   internalStatus = bit 25 "Sensor Warm Up" while n < 5, plus extraStatusBits() always
//   sensorStatus  = the reply status the device is currently reporting (0, a start-up code, or
//                   setSensorStatus()); it is word 0 of the engineering record.
// With Options::gasProfile set, lel follows the profile instead (gasprofile.h): sample n is
// taken at (n - 1) * samplePeriodMs on the sample clock, gasId is 0 below 1 %LEL, and
// everything derived from lel (concentration, norms, powers, analog output) follows it.
// The sample number starts at 1 at start() (and at reboot) and advances by one every
// samplePeriodMs (default 1000) while not held (holdSamples()). After a power-cycled replug it
// stays at 0 until the device is told to measure, then counts 1, 2, ... from that moment.
//
// Other records:
//   analog output (UART 0x6B) = 0.4 + 0.032 * lel volts (float)
//   environment (USB 0x0002), 40 bytes: floats T, P, RH, AH, rawT, rawP, rawRH, then uint32 n,
//                   uint32 0x454E5649 ("ENVI"), uint32 0
//   calibration (UART 0x47), 140 bytes: uint32 command, float value, uint32 3 (done), uint32 n,
//                   then bytes 16..139 = (i & 0xFF)
//   verbose block (answer bytes 36..4063 / verbose reply after the engineering record):
//                   byte i of the block = (i + n) & 0xFF, except that the answer words at
//                   40, 44, 48, 52 carry 0x40, 0x44, 0x48, 0x52 (the engineering record's
//                   answerWord fields carry the same values)
//   flash: 256 KiB at 0x08000000, erased (0xFF); the self-test text lives at 0x0803C000,
//                   NUL-terminated: "POST passed\r\n..." or, with setPostPassed(false),
//                   "POST FAILED: RAM check\r\n..."
//
// Replies to ill-formed requests:
//   UART: bad check value -> status 0x01; unknown command -> 0x05; wrong payload size -> 0x02;
//         header declaring more than 8200 payload bytes or a payload not arriving within
//         requestTimeoutMs -> 0x07 (input flushed). Each with an empty payload.
//   USB:  bad check value -> flag 0x0004; payload not arriving within requestTimeoutMs ->
//         flag 0x0010; bytes before a 0x7E 0x20 start are skipped as noise. Unknown command ->
//         uint16 result code 5. Each reply echoes the request's sequence number and command.
//
// Faults a client must survive without mixing up replies: "late" holds a reply until the client
// has resent its request, then sends it and answers the resend too (two replies to one request,
// the first after the client's time-out); "oversize" sends a header announcing far more payload
// (27000 bytes) than follows.
//
// USB firmware chunks (0x01A4, 76-byte request): reply payload uint32 status, uint32 chunk.
//   status 3 = written; 1 = check value wrong (chained CRC-16 over the 64 data bytes, seed 0xFFFF
//   for chunk 0, else the previous chunk's value); 2 = chunk number out of sequence (the reply
//   then carries the number expected). Chunk 0 starts a new image. The image keeps every chunk's
//   64 data bytes (the last one with its zero padding).
//
// STM32 bootloader (after UART 0x63 has been answered): 0x7F -> ACK 0x79; commands Get 0x00,
//   Get Version 0x01, Get ID 0x02 (PID 0x0410), Read 0x11, Go 0x21 (back to the sensor
//   firmware), Write 0x31, Erase 0x43, Extended Erase 0x44; 1 KiB pages, 128 KiB writable at
//   0x08000000. On a real port the device switches to 115200 8E1 in the bootloader.
//   On a pseudo-terminal the kernel clears PARENB, and stm32flash reads the settings back and
//   fails with "Failed to set terminal flags": run it with "-m 8n1".
// Exclusive mode on a pseudo-terminal: the master keeps the line's state, so a TIOCEXCL set by a
//   client outlives the client's close; only root may then reopen the path. Clients that set it
//   should clear it (TIOCNXCL) before closing.
// ---------------------------------------------------------------------------------------------
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gasprofile.h"

namespace vqssim {

enum class Framing { Uart, Usb };

// Command identifiers the device understands.
namespace cmd {
// USB framing
constexpr uint16_t UsbAnswer = 0x0001;
constexpr uint16_t UsbEnviro = 0x0002;
constexpr uint16_t UsbSetState = 0x000B;
constexpr uint16_t UsbClearHistory = 0x0090;
constexpr uint16_t UsbVersion = 0x019A;
constexpr uint16_t UsbReboot = 0x019D;
constexpr uint16_t UsbSetParams = 0x01A1;
constexpr uint16_t UsbGetParams = 0x01A2;
constexpr uint16_t UsbSensorName = 0x01A3;
constexpr uint16_t UsbFirmwareChunk = 0x01A4;
// UART framing
constexpr uint16_t UartVerboseAnswer = 0x08;
constexpr uint16_t UartEngData = 0x09;
constexpr uint16_t UartVersion = 0x42;
constexpr uint16_t UartSensorInfo = 0x43;
constexpr uint16_t UartReadFlash = 0x44;
constexpr uint16_t UartGetParams = 0x45;
constexpr uint16_t UartSetParams = 0x46;
constexpr uint16_t UartCalibrate = 0x47;
constexpr uint16_t UartSetState = 0x61;
constexpr uint16_t UartEnterBootloader = 0x63;
constexpr uint16_t UartClearHistory = 0x65;
constexpr uint16_t UartReboot = 0x66;
constexpr uint16_t UartAnalogOut = 0x6B;
}  // namespace cmd

constexpr uint32_t kFlashBase = 0x08000000;
constexpr uint32_t kFlashSize = 256 * 1024;          // readable area (self-test text included)
constexpr uint32_t kBootloaderFlashSize = 128 * 1024;  // what the bootloader may erase/write
constexpr uint32_t kPageSize = 1024;
constexpr uint32_t kPostAddress = 0x0803C000;
constexpr uint16_t kBootloaderPid = 0x0410;

struct Identity {
    std::string name = "VQS-SIM-0001";  // sensor name (USB name reply, sensor information, params)
    uint32_t sensorType = 3;            // 3 "VQS Flam. Gas"
    std::string sku = "VQS-FL-100";     // long sensor-information layout only
    std::array<uint8_t, 4> firmware{{4, 1, 0, 0}};  // major, minor, build, revision (4100: long layouts)
    std::array<uint8_t, 2> hardware{{2, 1}};
    std::string comment = "vqs-sim";
    std::string buildDate = "Jan 15 2024";
    std::string buildTime = "10:20:30";
    std::string calibrationDate = "2024-01-15";
    std::string infoText4 = "SIM";
    // MCU identifier words in printed order: the client shows "%08x%08x%08x" of mcuId[0], [1], [2].
    // On the wire mcuId[0] is the last of the three words (offset 76 short / 108 long layout).
    std::array<uint32_t, 3> mcuId{{0x33383732u, 0x31395113u, 0x00370041u}};
    uint32_t gasId = 3;            // gas reported while gas is present
    bool shortVersion = false;     // UART version reply with 8 bytes instead of the full 58
    std::string usbVersionText;    // USB version text; empty: "VQS FW a.b.c.d HW x.y"

    uint16_t firmwareNumber() const {
        return uint16_t(firmware[0] * 1000 + firmware[1] * 100 + firmware[2] * 10 + firmware[3]);
    }
};

// One sample of the documented waveform.
struct Measurement {
    uint32_t gasId;
    float lel;            // %LEL(ISO), unit-independent
    float concentration;  // in the unit given
    float temperature, pressure, humidity, absHumidity;
    float temperatureRaw, pressureRaw, humidityRaw;
    float midCompNorm, maxCompNorm, dsc1MidPower, dsc1MaxPower;
    float analogOut;
    uint32_t internalStatus;  // waveform bits only (extraStatusBits() not included)
};

enum class FaultKind {
    NoReply,             // swallow the request, send nothing
    BadCrc,              // reply check value XOR value (default 0x5A5A)
    WrongCommand,        // echoed command identifier + value (default 1)
    TruncatedHeader,     // send only the first value bytes of the header (default 3), nothing else
    TruncatedPayload,    // full header, only the first value payload bytes (default half)
    ReplyStatus,         // UART: status byte = value (default 0x05); USB: result code in payload
    UsbFlags,            // USB: reply flags |= value (default 0x0004); valid check value
    Delay,               // wait value ms (default 1500) before replying
    Garbage,             // send value random bytes (default 7) instead of the reply
    GarbageBefore,       // send value random bytes (default 7), then the reply
    HangUp,              // close the master: the device disappears (reply not sent)
    ChunkRefused,        // firmware chunk answered with status value (default 1), not written
    ChunkOutOfSequence,  // firmware chunk written but answered with chunk number - 1 (or value)
    SilentBootloader,    // on 0x63: reply normally, then ignore every bootloader byte
    PayloadSize,         // payload cut or zero-extended to value bytes; length and check value
                         // stay consistent (a well-formed reply of the wrong size)
    LateReply,           // hold the reply until the client sends again (its resend), at most
                         // value ms (default 10000), then send it; the resend is answered too,
                         // so two replies to one request arrive, the first after its time-out
    OversizeLength,      // header's length field = value (default 27000) after the check value
                         // is set; the real payload follows (a short body; with
                         // truncpayload=0 no body at all)
    GarbledHeader,       // instead of the reply, value bytes (default 16 UART, 32 USB) of noise
                         // behind a header that echoes the command and announces 5 payload
                         // bytes: a reader that trusts the header leaves the rest on the line
};

// A fault fires on a request chosen by one trigger:
//   request > 0:  the request with this 1-based index (every received request counts,
//                 resends included);
//   command >= 0: the occurrence-th request carrying this command identifier (1-based),
//                 and the times-1 such requests that follow it;
//   both unset:   the next request.
// times = 0 means every matching request from then on.
struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int request = 0;
    int command = -1;
    int occurrence = 1;
    int times = 1;
    int64_t value = -1;  // the kind's parameter, -1 for its default

    static Fault onRequest(FaultKind k, int n, int64_t v = -1) {
        Fault f; f.kind = k; f.request = n; f.value = v; return f;
    }
    static Fault onCommand(FaultKind k, int commandId, int occurrence = 1, int times = 1, int64_t v = -1) {
        Fault f; f.kind = k; f.command = commandId; f.occurrence = occurrence; f.times = times; f.value = v;
        return f;
    }
};

// Parses "KIND[=VALUE][@TRIGGER][*TIMES]"; TRIGGER is N (n-th request) or cmd:ID[#K]
// (K-th request with command ID; numbers decimal or 0x hex); TIMES 0 = every match.
// Example: "delay=1500@cmd:0x42#2*3" delays the replies to the 2nd, 3rd and 4th version request. Kinds: noreply badcrc wrongcmd truncheader
// truncpayload status usbflags delay garbage garbagebefore hangup chunkrefused chunkseq
// silentboot size late oversize garbledheader. Returns false with a message in *error.
bool parseFault(const std::string& text, Fault* fault, std::string* error);
const char* faultKindName(FaultKind kind);

// One request as the device received it.
struct Request {
    uint32_t index = 0;            // 1-based over the simulator's life (clearLog() does not reset it)
    uint16_t command = 0;
    uint16_t sequence = 0;         // USB only
    uint16_t flags = 0;            // USB only
    bool checkOk = true;           // the request's check value matched
    bool repeat = false;           // UART: identical to the previous frame; USB: flag 0x0002
    std::vector<uint8_t> bytes;    // the whole frame, exactly as received
    std::vector<uint8_t> payload;  // the payload part
    std::vector<FaultKind> faults; // faults applied to its reply
    std::chrono::steady_clock::time_point received;
};

struct Options {
    uint32_t samplePeriodMs = 1000;   // engineering sample clock
    uint32_t replyDelayMs = 0;        // added before every reply
    uint32_t requestTimeoutMs = 300;  // a request's payload must arrive within this
    // Start-up: the UART reply status follows startupCodes, each held for startupReplies replies,
    // then 0. Empty (the default): status 0 from the first reply. enableStartup() sets
    // {0x26, 0x27, 0x28}.
    std::vector<uint8_t> startupCodes;
    uint32_t startupReplies = 1;
    uint32_t bootloaderEraseMsPerPage = 2;
    // A USB answer request (0x0001) is held until the next sample, at most one sample period, as
    // the real sensor does; true answers at once with the current sample.
    bool answerAtOnce = false;
    bool verbose = false;             // print each request and reply on stderr
    GasProfile gasProfile;            // inactive (no steps): the built-in waveform
};

class Simulator {
public:
    explicit Simulator(Framing framing, Identity identity = Identity(), Options options = Options());
    ~Simulator();  // stops and closes
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // ---- where it lives ----
    // Opens a pseudo-terminal in raw mode and keeps its own slave fd open. With linkPath,
    // a symbolic link to the slave is placed there (replacing an existing link).
    bool openPty(const std::string& linkPath = {});
    // A real serial device, configured at the framing's baud (UART 38400, USB 115200), 8N1 raw.
    bool openDevice(const std::string& devicePath);
    std::string path() const;       // slave path (pty) or device path; the link when one was made
    std::string slavePath() const;  // the /dev/pts/N path (empty for a real device)
    std::string lastError() const;
    void close();                   // stop and close everything (removes the link)
    bool isOpen() const;            // false after a hang-up
    // After a hang-up (or at any time): a new pty, the link moved to it. Like re-plugging.
    // Restarted: the device comes back as start() leaves it, sample clock running from 1.
    // PowerCycled: as a real sensor whose cable also carried its power: freshly powered up, idle,
    // sample number 0, counting only once a set-state command asks it to measure (state 2); a
    // USB answer request meanwhile is held for one sample period and answered with sample 0.
    enum class Replug { Restarted, PowerCycled };
    bool replug(Replug how = Replug::Restarted);
    // The same, but the link (or, without one, nothing) comes back at newLinkPath: a sensor that
    // re-appears under another port name.
    bool replug(const std::string& newLinkPath, Replug how = Replug::Restarted);
    // True while a power-cycled device waits to be told to measure.
    bool idleSincePowerUp() const;

    void start();  // worker thread
    void stop();
    bool running() const;

    // ---- identity and behaviour ----
    Framing framing() const;
    Identity identity() const;
    void setIdentity(const Identity& id);
    Options options() const;
    void setOptions(const Options& options);
    void enableStartup(uint32_t repliesPerCode = 1);  // 0x26, 0x27, 0x28, then 0
    void setSensorStatus(uint8_t code);                // reply status after start-up (0 default)
    uint8_t currentStatus() const;                     // what the next reply will carry
    void setExtraStatusBits(uint32_t bits);            // ORed into internalStatus
    uint32_t extraStatusBits() const;
    void setPostPassed(bool passed);

    // ---- measurement clock ----
    static Measurement waveform(uint32_t sample, uint8_t unit, uint32_t gasId = 3);
    uint32_t sampleNumber() const;
    void holdSamples(bool hold);      // freeze the sample number (tests of polling)
    void setSampleNumber(uint32_t n);  // also restarts the period
    void advanceSample();              // +1 now

    // ---- faults ----
    void addFault(const Fault& fault);
    void clearFaults();
    size_t pendingFaults() const;
    // Random faults: each request gets one of the kinds with this probability (deterministic per
    // seed). An empty kinds list means NoReply, BadCrc, WrongCommand, TruncatedHeader,
    // TruncatedPayload, Delay (value 300), Garbage.
    void setRandomFaults(uint32_t seed, double probability, std::vector<FaultKind> kinds = {});
    void clearRandomFaults();
    // Answer this command with exactly these payload bytes (well framed) until cleared.
    void overridePayload(uint16_t command, const std::vector<uint8_t>& payload);
    void clearOverrides();

    // ---- what it received ----
    std::vector<Request> requests() const;
    size_t requestCount() const;
    size_t requestCount(uint16_t command) const;
    std::vector<uint8_t> receivedBytes() const;  // the raw byte stream, noise included
    size_t repliesSent() const;
    void clearLog();
    // Blocks until requestCount() >= n or the time runs out.
    bool waitForRequests(size_t n, int timeoutMs) const;
    // Writes the log as text: one line per request "index cmd=0x.. len=.. hex..."
    bool dumpLog(const std::string& file) const;

    // ---- device state ----
    uint8_t lastStateByte() const;  // as received by set state (0 before any)
    uint8_t state() const;          // low four bits
    uint8_t unit() const;           // upper four bits
    uint32_t historyClears() const;
    uint32_t reboots() const;
    std::string paramsJson() const;
    void setParamsJson(const std::string& json);
    std::string defaultParamsJson() const;  // built from the identity
    std::vector<uint8_t> flash(uint32_t address, size_t length) const;
    void writeFlash(uint32_t address, const std::vector<uint8_t>& bytes);

    // USB firmware image
    std::vector<uint8_t> firmwareImage() const;
    uint32_t firmwareChunks() const;  // chunks accepted in the current transfer
    bool firmwareComplete() const;    // the last-chunk flag was accepted
    // True when the image holds exactly the file's bytes followed by zero padding to 64.
    bool firmwareImageMatches(const std::vector<uint8_t>& file) const;

    // Bootloader
    bool inBootloader() const;
    void leaveBootloader();
    uint32_t bootloaderPagesErased() const;
    uint32_t bootloaderBytesWritten() const;
    uint32_t bootloaderLowestWrite() const;  // lowest address written (0 when none)

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

}  // namespace vqssim
