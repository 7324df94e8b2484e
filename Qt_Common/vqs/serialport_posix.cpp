// POSIX serial port: termios for the line settings, poll() deadlines for the Win32
// read and write time-outs (VMIN/VTIME cannot express "n bytes, or a total deadline,
// or an inter-byte gap").
#ifndef _WIN32

#include "serialport.h"

#include <cerrno>
#include <chrono>
#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct BaudCode {
    uint32_t rate;
    speed_t code;
};

const BaudCode kBaudCodes[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
    {230400, B230400},
};

bool baudCode(uint32_t rate, speed_t* code) {
    for (const BaudCode& entry : kBaudCodes) {
        if (entry.rate == rate) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

// Milliseconds to wait in poll() until the deadline, rounded up so that we never wake early
// and spin; -1 (wait for ever) when there is no deadline.
int msUntil(const Clock::time_point* deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

class PosixSerialPort final : public SerialPortIo {
public:
    ~PosixSerialPort() override { close(); }

    SerialOpenResult open(const char* path, const SerialPortSettings& settings) override {
        close();
        int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return SerialOpenResult::OpenFailed;
        // TIOCEXCL keeps other users out (not root); the lock also keeps out a second open
        // by root or by this very process. A busy port is an open failure, as on Windows.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return SerialOpenResult::OpenFailed;
        }
        termios tio{};
        if (::tcgetattr(fd, &tio) != 0) {
            ::close(fd);
            return SerialOpenResult::GetStateFailed;
        }
        exclusive_ = ::ioctl(fd, TIOCEXCL) == 0;
        speed_t speed = B0;
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
        tio.c_cflag |= CS8;
        tio.c_cc[VMIN] = 0;  // cfmakeraw sets 1; reads are bounded by poll() instead
        tio.c_cc[VTIME] = 0;
        if (!baudCode(settings.baudRate, &speed) || ::cfsetispeed(&tio, speed) != 0 ||
            ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
            closeFd(fd);
            return SerialOpenResult::SetStateFailed;
        }
        fd_ = fd;
        settings_ = settings;
        return SerialOpenResult::Ok;
    }

    bool close() override {
        if (fd_ < 0) return true;
        if (!closeFd(fd_)) return false;
        fd_ = -1;
        return true;
    }

    bool isOpen() const override { return fd_ >= 0; }

    long write(const uint8_t* data, uint32_t n) override {
        if (fd_ < 0) return -1;
        Clock::time_point deadline;
        const bool bounded = deadlineFor(n, settings_.writeTotalTimeoutMultiplier,
                                         settings_.writeTotalTimeoutConstant, &deadline);
        uint32_t done = 0;
        while (done < n) {
            ssize_t k = ::write(fd_, data + done, n - done);
            if (k > 0) {
                done += static_cast<uint32_t>(k);
                continue;
            }
            if (k == 0) break;  // no progress and no error: report what went out
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;  // EIO: hung up
            int wait = msUntil(bounded ? &deadline : nullptr);
            if (wait == 0) break;  // time-out: report what went out
            pollfd p{fd_, POLLOUT, 0};
            int r = ::poll(&p, 1, wait);
            if (r < 0 && errno != EINTR) return -1;
            if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) return -1;
        }
        return static_cast<long>(done);
    }

    long read(uint8_t* data, uint32_t n) override {
        if (fd_ < 0) return -1;
        if (n == 0) return 0;
        Clock::time_point total;
        const bool bounded = deadlineFor(n, settings_.readTotalTimeoutMultiplier,
                                         settings_.readTotalTimeoutConstant, &total);
        const auto interval = std::chrono::milliseconds(settings_.readIntervalTimeout);
        Clock::time_point lastByte;
        uint32_t got = 0;
        while (got < n) {
            // The inter-byte gap counts only once the first byte is in.
            Clock::time_point deadline = total;
            bool hasDeadline = bounded;
            if (settings_.readIntervalTimeout > 0 && got > 0) {
                Clock::time_point gapEnd = lastByte + interval;
                if (!hasDeadline || gapEnd < deadline) deadline = gapEnd;
                hasDeadline = true;
            }
            // Poll before reading: with VMIN = VTIME = 0 a tty read returns 0 both for
            // "nothing yet" and for end of file, so only poll can tell them apart.
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, msUntil(hasDeadline ? &deadline : nullptr));
            if (r < 0) {
                if (errno == EINTR) continue;
                return hungUp(got);
            }
            if (r == 0) break;  // time-out: a short count, not an error
            // Data that arrived before a hang-up is still read; the hang-up shows next time.
            if (!(p.revents & POLLIN)) return hungUp(got);
            const ssize_t k = ::read(fd_, data + got, n - got);
            if (k > 0) {
                got += static_cast<uint32_t>(k);
                lastByte = Clock::now();
                continue;
            }
            if (k < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            return hungUp(got);  // readable yet empty (end of file), or EIO: the device is gone
        }
        return static_cast<long>(got);
    }

    bool flush() override {
        if (fd_ < 0) return false;
        while (::tcdrain(fd_) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
    }

    bool discardInput() override { return fd_ >= 0 && ::tcflush(fd_, TCIFLUSH) == 0; }

    intptr_t nativeHandle() const override { return fd_; }
    SerialPortSettings settings() const override { return settings_; }

private:
    static bool deadlineFor(uint32_t n, uint32_t multiplier, uint32_t constant, Clock::time_point* deadline) {
        // Both zero means no total time-out, as with COMMTIMEOUTS.
        if (multiplier == 0 && constant == 0) return false;
        *deadline = Clock::now() + std::chrono::milliseconds(uint64_t{multiplier} * n + constant);
        return true;
    }

    // Bytes that arrived before the hang-up are still delivered; the next read fails at once.
    static long hungUp(uint32_t got) { return got > 0 ? static_cast<long>(got) : -1; }

    bool closeFd(int fd) {
        // Exclusive mode belongs to the tty, not to our descriptor: a pseudo-terminal keeps
        // it after we close, which would lock everyone else out.
        if (exclusive_) ::ioctl(fd, TIOCNXCL);
        exclusive_ = false;
        // Linux releases the descriptor even when close() reports EINTR; never retry it.
        return ::close(fd) == 0 || errno == EINTR;
    }

    int fd_ = -1;
    bool exclusive_ = false;
    SerialPortSettings settings_;
};

}  // namespace

std::unique_ptr<SerialPortIo> createSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

#endif  // !_WIN32
