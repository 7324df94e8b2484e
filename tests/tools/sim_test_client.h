// A deliberately bare client for the simulator's own tests: frames requests by hand and reads
// raw replies, so the tests check the device's bytes without going through VQS.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace simtest {

inline uint16_t crc(const std::vector<uint8_t>& d, uint16_t seed = 0xFFFF) {
    uint16_t r = seed;
    for (uint8_t b : d) {
        r ^= uint16_t(b << 8);
        for (int i = 0; i < 8; ++i) r = (r & 0x8000) ? uint16_t((r << 1) ^ 0x1021) : uint16_t(r << 1);
    }
    return r;
}

inline uint16_t le16(const std::vector<uint8_t>& v, size_t o) { return uint16_t(v[o] | v[o + 1] << 8); }
inline uint32_t le32(const std::vector<uint8_t>& v, size_t o) {
    return uint32_t(v[o]) | uint32_t(v[o + 1]) << 8 | uint32_t(v[o + 2]) << 16 | uint32_t(v[o + 3]) << 24;
}
inline float f32(const std::vector<uint8_t>& v, size_t o) {
    float f;
    memcpy(&f, v.data() + o, 4);
    return f;
}

struct Reply {
    std::vector<uint8_t> header;   // as many header bytes as arrived
    std::vector<uint8_t> payload;
    bool complete = false;         // header and declared payload arrived
    bool checkOk = false;
    uint16_t command = 0, flags = 0, sequence = 0, length = 0;
    uint8_t status = 0;
};

class Client {
public:
    explicit Client(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return;
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
    }
    ~Client() {
        if (fd >= 0) ::close(fd);
    }
    bool ok() const { return fd >= 0; }

    void write(const std::vector<uint8_t>& v) {
        size_t done = 0;
        while (done < v.size()) {
            ssize_t k = ::write(fd, v.data() + done, v.size() - done);
            if (k > 0) done += size_t(k);
            else if (k < 0 && errno != EAGAIN) return;
            else { pollfd p{fd, POLLOUT, 0}; ::poll(&p, 1, 50); }
        }
    }

    // Up to n bytes within timeoutMs. hungUp is set when the line went away.
    std::vector<uint8_t> read(size_t n, int timeoutMs) {
        std::vector<uint8_t> out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0) continue;
            uint8_t buf[8192];
            ssize_t k = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
            if (k > 0) out.insert(out.end(), buf, buf + k);
            else if (k == 0 || (k < 0 && errno == EIO) || (p.revents & (POLLHUP | POLLERR))) {
                hungUp = true;
                break;
            }
        }
        return out;
    }

    static std::vector<uint8_t> uartFrame(uint8_t cmd, const std::vector<uint8_t>& payload = {}) {
        std::vector<uint8_t> f{cmd, 0, uint8_t(payload.size()), uint8_t(payload.size() >> 8), 0, 0, 0, 0};
        f.insert(f.end(), payload.begin(), payload.end());
        uint16_t c = crc(f);
        f[6] = uint8_t(c);
        f[7] = uint8_t(c >> 8);
        return f;
    }

    Reply readUart(int timeoutMs = 1000) {
        Reply r;
        r.header = read(6, timeoutMs);
        if (r.header.size() < 6) return r;
        r.command = r.header[0];
        r.status = r.header[1];
        r.length = le16(r.header, 2);
        r.payload = read(r.length, timeoutMs);
        r.complete = r.payload.size() == r.length;
        std::vector<uint8_t> all = r.header;
        all[4] = all[5] = 0;
        all.insert(all.end(), r.payload.begin(), r.payload.end());
        r.checkOk = crc(all) == le16(r.header, 4);
        return r;
    }

    Reply uart(uint8_t cmd, const std::vector<uint8_t>& payload = {}, int timeoutMs = 1000) {
        write(uartFrame(cmd, payload));
        return readUart(timeoutMs);
    }

    std::vector<uint8_t> usbPacket(uint16_t cmd, const std::vector<uint8_t>& payload = {}, uint16_t flags = 0) {
        std::vector<uint8_t> p(16, 0);
        auto put = [&](size_t o, uint16_t x) { p[o] = uint8_t(x); p[o + 1] = uint8_t(x >> 8); };
        put(0, 0x207E);
        put(2, flags);
        put(4, sequence++);
        put(6, cmd);
        put(8, uint16_t(payload.size()));
        p.insert(p.end(), payload.begin(), payload.end());
        put(10, crc(p));
        return p;
    }

    Reply readUsb(int timeoutMs = 1000) {
        Reply r;
        r.header = read(16, timeoutMs);
        if (r.header.size() < 16) return r;
        r.flags = le16(r.header, 2);
        r.sequence = le16(r.header, 4);
        r.command = le16(r.header, 6);
        r.length = le16(r.header, 8);
        r.payload = read(r.length, timeoutMs);
        r.complete = r.payload.size() == r.length;
        std::vector<uint8_t> all = r.header;
        all[10] = all[11] = 0;
        all.insert(all.end(), r.payload.begin(), r.payload.end());
        r.checkOk = crc(all) == le16(r.header, 10);
        return r;
    }

    Reply usb(uint16_t cmd, const std::vector<uint8_t>& payload = {}, int timeoutMs = 1000) {
        write(usbPacket(cmd, payload));
        return readUsb(timeoutMs);
    }

    int fd = -1;
    bool hungUp = false;
    uint16_t sequence = 1;
};

}  // namespace simtest
