// The simulator's port, worker thread, request log and public accessors.
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

namespace {

constexpr size_t kLogLimit = 200000;          // requests kept; the oldest half goes when exceeded
constexpr size_t kRawLimit = 64 * 1024 * 1024;  // raw bytes kept

void makeRaw(int fd, speed_t speed, bool evenParity) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | CRTSCTS);
    if (evenParity) t.c_cflag |= PARENB; else t.c_cflag &= ~PARENB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

// ---------------------------------------------------------------- port

bool Simulator::Impl::openPtyLocked(std::string* err) {
    int mfd = posix_openpt(O_RDWR | O_NOCTTY);
    if (mfd < 0 || grantpt(mfd) != 0 || unlockpt(mfd) != 0) {
        *err = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
        if (mfd >= 0) ::close(mfd);
        return false;
    }
    char name[128] = {};
    if (ptsname_r(mfd, name, sizeof name) != 0) {
        *err = "ptsname failed";
        ::close(mfd);
        return false;
    }
    // Our own slave fd keeps the line alive (and raw) while the client closes and reopens it.
    int sfd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (sfd < 0) {
        *err = std::string("cannot open ") + name + ": " + strerror(errno);
        ::close(mfd);
        return false;
    }
    makeRaw(sfd, framing == Framing::Uart ? B38400 : B115200, false);
    fcntl(mfd, F_SETFL, fcntl(mfd, F_GETFL) | O_NONBLOCK);
    master = mfd;
    slave = sfd;
    isPty = true;
    slaveName = name;
    if (!linkPath.empty()) {
        struct stat st{};
        if (lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                *err = linkPath + " exists and is not a symbolic link";
                return false;
            }
            ::unlink(linkPath.c_str());
        }
        if (::symlink(name, linkPath.c_str()) != 0) {
            *err = "cannot create link " + linkPath + ": " + strerror(errno);
            return false;
        }
    }
    return true;
}

void Simulator::Impl::closeFdsLocked() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
    master = slave = -1;
    if (!linkPath.empty()) {
        struct stat st{};
        if (lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(linkPath.c_str());
    }
}

void Simulator::Impl::hangUp() {
    std::lock_guard<std::mutex> lock(m);
    closeFdsLocked();
    rx.clear();
}

void Simulator::Impl::applyPortMode(bool bootloaderMode) {
    std::lock_guard<std::mutex> lock(m);
    if (isPty || master < 0) return;  // a pty has no line settings worth changing
    speed_t speed = bootloaderMode || framing == Framing::Usb ? B115200 : B38400;
    makeRaw(master, speed, bootloaderMode);
}

bool Simulator::Impl::writeAll(const uint8_t* data, size_t n) {
    size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < n) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(m);
            fd = master;
        }
        if (fd < 0 || stopping) return false;
        ssize_t k = ::write(fd, data + done, n - done);
        if (k > 0) {
            done += size_t(k);
            continue;
        }
        if (k < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (Clock::now() > deadline) return false;  // nobody reads: give up rather than hang
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

int Simulator::Impl::readSome(int timeoutMs) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m);
        fd = master;
    }
    if (fd < 0) {
        pollfd p{wake[0], POLLIN, 0};
        ::poll(&p, 1, timeoutMs);
        return -1;
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    int r = ::poll(p, 2, timeoutMs);
    if (r <= 0) return 0;
    if (p[1].revents & POLLIN) {
        char junk[64];
        while (::read(wake[0], junk, sizeof junk) > 0) {
        }
    }
    if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) return 0;
    uint8_t buf[4096];
    ssize_t k = ::read(fd, buf, sizeof buf);
    if (k <= 0) {
        // A pty master reads EIO while no slave is open; ours stays open, so this is rare.
        // Pause instead of spinning on it.
        if (!(p[0].revents & POLLIN) || (k < 0 && errno == EIO)) ::poll(nullptr, 0, 10);
        return 0;
    }
    if (rx.empty()) rxFirst = Clock::now();
    rx.insert(rx.end(), buf, buf + k);
    std::lock_guard<std::mutex> lock(m);
    if (raw.size() + size_t(k) > kRawLimit) raw.erase(raw.begin(), raw.begin() + long(raw.size() / 2));
    raw.insert(raw.end(), buf, buf + k);
    return int(k);
}

bool Simulator::Impl::sleepFor(uint32_t ms) {
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!stopping) {
        auto now = Clock::now();
        if (now >= until) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 10)));
    }
    return false;
}

void Simulator::Impl::run() {
    while (!stopping) {
        bool boot;
        {
            std::lock_guard<std::mutex> lock(m);
            boot = bootloader;
        }
        if (boot) {
            pumpBootloader();
            continue;
        }
        int k = readSome(20);
        if (k < 0) {
            rx.clear();
            continue;
        }
        if (rx.empty()) continue;
        if (framing == Framing::Uart) pumpUart(); else pumpUsb();
    }
}

// ---------------------------------------------------------------- device state

uint32_t Simulator::Impl::sampleLocked() const {
    if (held || opt.samplePeriodMs == 0) return sampleBase;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sampleEpoch).count();
    return sampleBase + uint32_t(ms / opt.samplePeriodMs);
}

uint8_t Simulator::Impl::statusLocked() const {
    uint32_t per = std::max<uint32_t>(1, opt.startupReplies);
    uint32_t step = statusReplies / per;
    if (step < opt.startupCodes.size()) return opt.startupCodes[step];
    return sensorStatus;
}

void Simulator::Impl::resetDeviceLocked() {
    statusReplies = 0;
    sampleBase = 1;
    sampleEpoch = Clock::now();
    stateByte = 0;
    lastAnswered = 0;
}

void Simulator::Impl::logRequest(Request& r) {
    std::lock_guard<std::mutex> lock(m);
    r.index = ++requestIndex;
    r.received = Clock::now();
    if (log.size() >= kLogLimit) log.erase(log.begin(), log.begin() + long(kLogLimit / 2));
    log.push_back(r);
    if (opt.verbose) {
        fprintf(stderr, "vqs-sim: #%u cmd 0x%04x len %zu%s%s\n", r.index, r.command, r.payload.size(),
                r.checkOk ? "" : " BAD-CHECK", r.repeat ? " repeat" : "");
    }
    cv.notify_all();
}

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
