// The simulator's public interface: opening, replugging, starting and the accessors.
#include "sim_impl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace vqssim {

// ---------------------------------------------------------------- public API

Simulator::Simulator(Framing framing, Identity identity, Options options)
    : d(std::make_unique<Impl>(framing, std::move(identity), std::move(options))) {
    if (::pipe(d->wake) == 0) {
        fcntl(d->wake[0], F_SETFL, O_NONBLOCK);
        fcntl(d->wake[1], F_SETFL, O_NONBLOCK);
    }
    std::lock_guard<std::mutex> lock(d->m);
    d->initFlashLocked();
    d->params = buildDefaultParams(d->id);
}

Simulator::~Simulator() {
    close();
    if (d->wake[0] >= 0) ::close(d->wake[0]);
    if (d->wake[1] >= 0) ::close(d->wake[1]);
}

bool Simulator::openPty(const std::string& linkPath) {
    std::lock_guard<std::mutex> lock(d->m);
    d->closeFdsLocked();
    d->linkPath = linkPath;
    d->devicePath.clear();
    std::string err;
    if (!d->openPtyLocked(&err)) {
        d->error = err;
        d->closeFdsLocked();
        return false;
    }
    return true;
}

bool Simulator::openDevice(const std::string& devicePath) {
    std::lock_guard<std::mutex> lock(d->m);
    d->closeFdsLocked();
    d->linkPath.clear();
    int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        d->error = "cannot open " + devicePath + ": " + strerror(errno);
        return false;
    }
    makeRaw(fd, d->framing == Framing::Uart ? B38400 : B115200, false);
    d->master = fd;
    d->isPty = false;
    d->devicePath = devicePath;
    d->slaveName.clear();
    return true;
}

std::string Simulator::path() const {
    std::lock_guard<std::mutex> lock(d->m);
    if (!d->isPty) return d->devicePath;
    return d->linkPath.empty() ? d->slaveName : d->linkPath;
}

std::string Simulator::slavePath() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->isPty ? d->slaveName : std::string();
}

std::string Simulator::lastError() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->error;
}

void Simulator::close() {
    stop();
    std::lock_guard<std::mutex> lock(d->m);
    d->closeFdsLocked();
}

bool Simulator::isOpen() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->master >= 0;
}

bool Simulator::replug(const std::string& newLinkPath) {
    {
        std::lock_guard<std::mutex> lock(d->m);
        // A device still open takes its link with it. After a hang-up the link is gone already,
        // and whatever now sits at that path belongs to someone else.
        if (d->master >= 0) d->closeFdsLocked();
        d->linkPath = newLinkPath;
    }
    return replug();
}

bool Simulator::replug() {
    std::lock_guard<std::mutex> lock(d->m);
    if (!d->isPty) {
        d->error = "replug works on pseudo-terminals only";
        return false;
    }
    d->closeFdsLocked();
    std::string err;
    if (!d->openPtyLocked(&err)) {
        d->error = err;
        return false;
    }
    d->resetDeviceLocked();
    d->bootloader = false;
    if (d->wake[1] >= 0) (void)!::write(d->wake[1], "r", 1);
    return true;
}

void Simulator::start() {
    if (d->active.exchange(true)) return;
    {
        std::lock_guard<std::mutex> lock(d->m);
        d->resetDeviceLocked();
    }
    d->stopping = false;
    d->worker = std::thread([this] { d->run(); });
}

void Simulator::stop() {
    if (!d->active.exchange(false)) return;
    d->stopping = true;
    if (d->wake[1] >= 0) (void)!::write(d->wake[1], "s", 1);
    if (d->worker.joinable()) d->worker.join();
}

bool Simulator::running() const { return d->active; }

Framing Simulator::framing() const { return d->framing; }

Identity Simulator::identity() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->id;
}

void Simulator::setIdentity(const Identity& id) {
    std::lock_guard<std::mutex> lock(d->m);
    d->id = id;
}

Options Simulator::options() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->opt;
}

void Simulator::setOptions(const Options& options) {
    std::lock_guard<std::mutex> lock(d->m);
    d->opt = options;
}

void Simulator::enableStartup(uint32_t repliesPerCode) {
    std::lock_guard<std::mutex> lock(d->m);
    d->opt.startupCodes = {0x26, 0x27, 0x28};
    d->opt.startupReplies = std::max<uint32_t>(1, repliesPerCode);
    d->statusReplies = 0;
}

void Simulator::setSensorStatus(uint8_t code) {
    std::lock_guard<std::mutex> lock(d->m);
    d->sensorStatus = code;
}

uint8_t Simulator::currentStatus() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->statusLocked();
}

void Simulator::setExtraStatusBits(uint32_t bits) {
    std::lock_guard<std::mutex> lock(d->m);
    d->extraBits = bits;
}

uint32_t Simulator::extraStatusBits() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->extraBits;
}

void Simulator::setPostPassed(bool passed) {
    std::lock_guard<std::mutex> lock(d->m);
    d->postPassed = passed;
    d->initFlashLocked();
}

uint32_t Simulator::sampleNumber() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->sampleLocked();
}

void Simulator::holdSamples(bool hold) {
    std::lock_guard<std::mutex> lock(d->m);
    if (hold == d->held) return;
    d->sampleBase = d->sampleLocked();
    d->sampleEpoch = Impl::Clock::now();
    d->held = hold;
}

void Simulator::setSampleNumber(uint32_t n) {
    std::lock_guard<std::mutex> lock(d->m);
    d->sampleBase = n;
    d->sampleEpoch = Impl::Clock::now();
}

void Simulator::advanceSample() {
    std::lock_guard<std::mutex> lock(d->m);
    d->sampleBase = d->sampleLocked() + 1;
    d->sampleEpoch = Impl::Clock::now();
}

void Simulator::overridePayload(uint16_t command, const std::vector<uint8_t>& payload) {
    std::lock_guard<std::mutex> lock(d->m);
    d->overrides[command] = payload;
}

void Simulator::clearOverrides() {
    std::lock_guard<std::mutex> lock(d->m);
    d->overrides.clear();
}

std::vector<Request> Simulator::requests() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->log;
}

size_t Simulator::requestCount() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->log.size();
}

size_t Simulator::requestCount(uint16_t command) const {
    std::lock_guard<std::mutex> lock(d->m);
    size_t n = 0;
    for (const Request& r : d->log) n += r.command == command;
    return n;
}

std::vector<uint8_t> Simulator::receivedBytes() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->raw;
}

size_t Simulator::repliesSent() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->replies;
}

void Simulator::clearLog() {
    std::lock_guard<std::mutex> lock(d->m);
    d->log.clear();
    d->raw.clear();
}

bool Simulator::waitForRequests(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(d->m);
    return d->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return d->log.size() >= n; });
}

bool Simulator::dumpLog(const std::string& file) const {
    FILE* f = fopen(file.c_str(), "w");
    if (!f) return false;
    for (const Request& r : requests()) {
        fprintf(f, "%u cmd=0x%04x len=%zu%s%s", r.index, r.command, r.payload.size(), r.checkOk ? "" : " bad-check",
                r.repeat ? " repeat" : "");
        if (d->framing == Framing::Usb) fprintf(f, " seq=%u flags=0x%04x", r.sequence, r.flags);
        fputs(" :", f);
        for (uint8_t b : r.bytes) fprintf(f, " %02x", b);
        fputc('\n', f);
    }
    return fclose(f) == 0;
}

uint8_t Simulator::lastStateByte() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->stateByte;
}

uint8_t Simulator::state() const { return lastStateByte() & 0x0F; }
uint8_t Simulator::unit() const { return lastStateByte() >> 4; }

uint32_t Simulator::historyClears() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->clears;
}

uint32_t Simulator::reboots() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->rebootCount;
}

std::string Simulator::paramsJson() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->params;
}

void Simulator::setParamsJson(const std::string& json) {
    std::lock_guard<std::mutex> lock(d->m);
    d->params = json;
}

std::vector<uint8_t> Simulator::flash(uint32_t address, size_t length) const {
    std::lock_guard<std::mutex> lock(d->m);
    std::vector<uint8_t> out;
    if (address < kFlashBase) return out;
    size_t off = address - kFlashBase;
    if (off >= d->flashMem.size()) return out;
    length = std::min(length, d->flashMem.size() - off);
    out.assign(d->flashMem.begin() + long(off), d->flashMem.begin() + long(off + length));
    return out;
}

void Simulator::writeFlash(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(d->m);
    if (address < kFlashBase) return;
    size_t off = address - kFlashBase;
    for (size_t i = 0; i < bytes.size() && off + i < d->flashMem.size(); ++i) d->flashMem[off + i] = bytes[i];
}

std::vector<uint8_t> Simulator::firmwareImage() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->image;
}

uint32_t Simulator::firmwareChunks() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->nextChunk;
}

bool Simulator::firmwareComplete() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->imageComplete;
}

bool Simulator::firmwareImageMatches(const std::vector<uint8_t>& file) const {
    std::lock_guard<std::mutex> lock(d->m);
    size_t padded = (file.size() + 63) / 64 * 64;
    if (d->image.size() != padded) return false;
    if (!std::equal(file.begin(), file.end(), d->image.begin())) return false;
    for (size_t i = file.size(); i < padded; ++i)
        if (d->image[i] != 0) return false;
    return true;
}

bool Simulator::inBootloader() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->bootloader;
}

void Simulator::leaveBootloader() {
    {
        std::lock_guard<std::mutex> lock(d->m);
        d->bootloader = false;
        d->bootInit = false;
        d->bootSilent = false;
    }
    d->applyPortMode(false);
}

uint32_t Simulator::bootloaderPagesErased() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->pagesErased;
}

uint32_t Simulator::bootloaderBytesWritten() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->bytesWritten;
}

uint32_t Simulator::bootloaderLowestWrite() const {
    std::lock_guard<std::mutex> lock(d->m);
    return d->lowestWrite;
}

}  // namespace vqssim
