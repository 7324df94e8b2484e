// The simulator's port, worker thread, device clock and request log.
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

}  // namespace

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

}  // namespace vqssim
