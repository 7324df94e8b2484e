// Internal state of the simulator, shared by its source files.
#pragma once

#include "simulator.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include <termios.h>

namespace vqssim {

// Puts a terminal into raw 8-bit mode at `speed` (even parity for the bootloader).
void makeRaw(int fd, speed_t speed, bool evenParity);

uint16_t simCrc16(const uint8_t* data, size_t length, uint16_t seed);
std::string buildDefaultParams(const Identity& id);

// What a command handler produces; the framing turns it into bytes.
struct Reply {
    bool none = false;           // send nothing (reboot)
    bool statusSet = false;      // UART: status fixed by the handler (an error)
    uint8_t status = 0;
    uint16_t flags = 0;          // USB
    std::vector<uint8_t> payload;
    bool enterBootloader = false;
    bool reboot = false;
};

struct FaultSlot {
    Fault fault;
    uint32_t startIndex = 0;  // first request index it may match ("next request" faults)
    uint32_t seen = 0;        // matching commands seen since it was added
    uint32_t fired = 0;
};

struct Simulator::Impl {
    using Clock = std::chrono::steady_clock;

    explicit Impl(Framing f, Identity i, Options o) : framing(f), id(std::move(i)), opt(std::move(o)) {}

    // ---- configuration (guarded by m) ----
    Framing framing;
    Identity id;
    Options opt;
    mutable std::mutex m;
    mutable std::condition_variable cv;  // signalled on every logged request

    // ---- port ----
    int master = -1;
    int slave = -1;
    bool isPty = false;
    std::string slaveName, linkPath, devicePath, error;
    int wake[2] = {-1, -1};
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::atomic<bool> active{false};

    // ---- device state ----
    uint8_t sensorStatus = 0;
    uint32_t statusReplies = 0;  // replies since start-up began
    uint32_t extraBits = 0;
    bool postPassed = true;
    uint32_t sampleBase = 1;
    Clock::time_point sampleEpoch = Clock::now();
    bool held = false;
    bool poweredIdle = false;  // power-cycled and not yet told to measure: sample clock stopped
    uint8_t stateByte = 0;
    uint32_t lastAnswered = 0;  // sample number of the last USB answer (0: none since start)
    uint32_t clears = 0;
    uint32_t rebootCount = 0;
    std::string params;
    std::vector<uint8_t> flashMem;
    std::map<uint16_t, std::vector<uint8_t>> overrides;

    // firmware chunks
    std::vector<uint8_t> image;
    uint32_t nextChunk = 0;
    uint16_t chainCrc = 0xFFFF;
    bool imageComplete = false;

    // bootloader
    bool bootloader = false;
    bool bootSilent = false;
    bool bootInit = false;
    uint32_t pagesErased = 0;
    uint32_t bytesWritten = 0;
    uint32_t lowestWrite = 0;

    // ---- faults ----
    std::vector<FaultSlot> faults;
    bool randomOn = false;
    double randomP = 0;
    std::vector<FaultKind> randomKinds;
    std::mt19937 rng{1};
    std::mt19937 noise{12345};

    // ---- log ----
    std::vector<Request> log;
    std::vector<uint8_t> raw;
    uint32_t requestIndex = 0;
    size_t replies = 0;
    std::vector<uint8_t> prevFrame;  // UART repeat detection

    // ---- receive buffer (worker only) ----
    std::vector<uint8_t> rx;
    Clock::time_point rxFirst;

    // simulator.cpp
    void run();
    bool openPtyLocked(std::string* err);
    void closeFdsLocked();
    void hangUp();
    bool writeAll(const uint8_t* data, size_t n);
    bool writeAll(const std::vector<uint8_t>& v) { return writeAll(v.data(), v.size()); }
    int readSome(int timeoutMs);  // appends to rx; -1 hang-up/closed, 0 nothing, >0 bytes
    bool sleepFor(uint32_t ms);   // false when stopping
    uint32_t sampleLocked() const;
    uint8_t statusLocked() const;
    void resetDeviceLocked();
    // A set-state byte the device accepted; a power-cycled device starts counting on "measure".
    void applyStateLocked(uint8_t stateByte);
    std::vector<FaultKind> faultsFor(const Request& r, std::vector<int64_t>* values);
    void logRequest(Request& r);
    void applyPortMode(bool bootloaderMode);

    // sim_records.cpp
    // The waveform, or the gas profile's reading when one is set.
    Measurement measure(uint32_t n, uint8_t unit) const;
    std::vector<uint8_t> versionRecord() const;
    std::string usbVersionText() const;
    std::vector<uint8_t> sensorInfo(bool fallback) const;
    std::vector<uint8_t> engRecord(uint32_t n) const;       // 84 or 100 bytes
    std::vector<uint8_t> verboseAnswer(uint32_t n) const;   // 4112 or 4128 bytes
    std::vector<uint8_t> answerRecord(uint32_t n) const;    // 4132 bytes
    std::vector<uint8_t> enviroRecord(uint32_t n) const;    // 40 bytes
    std::vector<uint8_t> calibrationReply(const uint8_t* req, uint32_t n) const;
    std::vector<uint8_t> paramsRecord() const;              // 2008 bytes
    bool acceptParams(const uint8_t* rec, size_t n);        // false: malformed
    void initFlashLocked();
    bool v3() const { return id.firmwareNumber() < 4100; }

    // sim_commands.cpp
    Reply handle(const Request& r, const std::vector<FaultKind>& kinds,
                 const std::vector<int64_t>& values);  // locks m itself
    void holdForNextSample();                           // USB answer pacing, unlocked

    // sim_uart.cpp / sim_usb.cpp
    void pumpUart();
    void pumpUsb();
    // Logs a request, picks its faults and answers it; errorReply is used instead of the
    // command handler when the framing found the request ill-formed.
    void dispatch(Request& r, const Reply* errorReply);
    std::vector<uint8_t> encodeUart(const Request& r, const Reply& reply, const std::vector<FaultKind>& kinds,
                                    const std::vector<int64_t>& values);
    std::vector<uint8_t> encodeUsb(const Request& r, const Reply& reply, const std::vector<FaultKind>& kinds,
                                   const std::vector<int64_t>& values);

    // sim_bootloader.cpp
    void pumpBootloader();
};

int64_t faultValue(const std::vector<FaultKind>& kinds, const std::vector<int64_t>& values, FaultKind k,
                   int64_t fallback);
bool hasFault(const std::vector<FaultKind>& kinds, FaultKind k);
// LateReply: returns once the client has sent again (or the fault's time is up).
void holdLateReply(Simulator::Impl& d, const std::vector<FaultKind>& kinds, const std::vector<int64_t>& values);

}  // namespace vqssim
