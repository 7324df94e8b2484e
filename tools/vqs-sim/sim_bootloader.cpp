// STM32 system bootloader (the subset stm32flash uses): device ID 0x410, 1 KiB pages,
// 128 KiB of flash at 0x08000000. Entered after UART command 0x63 has been answered.
#include "sim_impl.h"

#include <cstring>

namespace vqssim {

namespace {
constexpr uint8_t ACK = 0x79;
constexpr uint8_t NACK = 0x1F;
constexpr uint8_t kVersion = 0x22;
constexpr int kByteTimeoutMs = 1000;
const uint8_t kCommands[] = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43};
}  // namespace

namespace {

// Byte source for the bootloader: the receive buffer first, then the port.
struct BootIo {
    Simulator::Impl& d;

    bool get(uint8_t* out, size_t n, int timeoutMs = kByteTimeoutMs) {
        auto deadline = Simulator::Impl::Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (d.rx.size() < n) {
            if (d.stopping || !stillBoot()) return false;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              Simulator::Impl::Clock::now())
                            .count();
            if (left <= 0) return false;
            if (d.readSome(int(std::min<long long>(left, 20))) < 0) return false;
        }
        memcpy(out, d.rx.data(), n);
        d.rx.erase(d.rx.begin(), d.rx.begin() + long(n));
        return true;
    }
    bool stillBoot() {
        std::lock_guard<std::mutex> lock(d.m);
        return d.bootloader;
    }
    void send(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> v(bytes);
        d.writeAll(v);
    }
    void send(const std::vector<uint8_t>& v) { d.writeAll(v); }

    // 4 address bytes, most significant first, then their XOR.
    bool address(uint32_t* addr) {
        uint8_t a[5];
        if (!get(a, 5)) return false;
        if ((a[0] ^ a[1] ^ a[2] ^ a[3]) != a[4]) return false;
        *addr = uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3];
        return true;
    }
};

bool writable(uint32_t addr, size_t n) {
    return addr >= kFlashBase && uint64_t(addr) + n <= uint64_t(kFlashBase) + kBootloaderFlashSize;
}

}  // namespace

void Simulator::Impl::pumpBootloader() {
    BootIo io{*this};
    bool silent;
    {
        std::lock_guard<std::mutex> lock(m);
        silent = bootSilent;
    }
    if (silent) {
        // Hears everything, says nothing.
        readSome(20);
        rx.clear();
        return;
    }
    uint8_t c;
    if (!io.get(&c, 1, 20)) return;
    if (c == 0x7F) {  // (re)synchronisation
        std::lock_guard<std::mutex> lock(m);
        bootInit = true;
        if (opt.verbose) fprintf(stderr, "vqs-sim: bootloader: sync\n");
    }
    bool init;
    {
        std::lock_guard<std::mutex> lock(m);
        init = bootInit;
    }
    if (c == 0x7F) {
        io.send({ACK});
        return;
    }
    if (!init) return;  // nothing but 0x7F is heard before synchronisation
    uint8_t x;
    if (!io.get(&x, 1) || uint8_t(c ^ x) != 0xFF) {
        io.send({NACK});
        return;
    }
    if (opt.verbose) fprintf(stderr, "vqs-sim: bootloader: command 0x%02x\n", c);
    switch (c) {
    case 0x00: {  // Get
        std::vector<uint8_t> v{ACK, uint8_t(sizeof kCommands), kVersion};
        v.insert(v.end(), std::begin(kCommands), std::end(kCommands));
        v.push_back(ACK);
        io.send(v);
        break;
    }
    case 0x01:  // Get Version and read protection
        io.send({ACK, kVersion, 0x00, 0x00, ACK});
        break;
    case 0x02:  // Get ID
        io.send({ACK, 0x01, uint8_t(kBootloaderPid >> 8), uint8_t(kBootloaderPid & 0xFF), ACK});
        break;
    case 0x11: {  // Read Memory
        io.send({ACK});
        uint32_t addr;
        if (!io.address(&addr)) { io.send({NACK}); break; }
        io.send({ACK});
        uint8_t nn[2];
        if (!io.get(nn, 2) || uint8_t(nn[0] ^ nn[1]) != 0xFF) { io.send({NACK}); break; }
        size_t n = size_t(nn[0]) + 1;
        std::vector<uint8_t> out{ACK};
        {
            std::lock_guard<std::mutex> lock(m);
            if (addr < kFlashBase || uint64_t(addr) + n > uint64_t(kFlashBase) + flashMem.size()) {
                out = {NACK};
            } else {
                size_t off = addr - kFlashBase;
                out.insert(out.end(), flashMem.begin() + long(off), flashMem.begin() + long(off + n));
            }
        }
        io.send(out);
        break;
    }
    case 0x21: {  // Go: back to the sensor firmware
        io.send({ACK});
        uint32_t addr;
        if (!io.address(&addr)) { io.send({NACK}); break; }
        io.send({ACK});
        {
            std::lock_guard<std::mutex> lock(m);
            bootloader = false;
            bootInit = false;
            resetDeviceLocked();
        }
        applyPortMode(false);
        break;
    }
    case 0x31: {  // Write Memory
        io.send({ACK});
        uint32_t addr;
        if (!io.address(&addr) || !writable(addr, 1)) { io.send({NACK}); break; }
        io.send({ACK});
        uint8_t n;
        if (!io.get(&n, 1)) { io.send({NACK}); break; }
        std::vector<uint8_t> data(size_t(n) + 1);
        uint8_t sum;
        if (!io.get(data.data(), data.size()) || !io.get(&sum, 1)) { io.send({NACK}); break; }
        uint8_t check = n;
        for (uint8_t b : data) check ^= b;
        if (check != sum || !writable(addr, data.size())) { io.send({NACK}); break; }
        {
            std::lock_guard<std::mutex> lock(m);
            size_t off = addr - kFlashBase;
            for (size_t i = 0; i < data.size(); ++i) flashMem[off + i] &= data[i];  // programming clears bits
            bytesWritten += uint32_t(data.size());
            if (lowestWrite == 0 || addr < lowestWrite) lowestWrite = addr;
        }
        io.send({ACK});
        break;
    }
    case 0x43: {  // Erase
        io.send({ACK});
        uint8_t n;
        if (!io.get(&n, 1)) { io.send({NACK}); break; }
        std::vector<uint16_t> pages;
        if (n == 0xFF) {
            uint8_t z;
            if (!io.get(&z, 1) || z != 0x00) { io.send({NACK}); break; }
            for (uint16_t p = 0; p < kBootloaderFlashSize / kPageSize; ++p) pages.push_back(p);
        } else {
            std::vector<uint8_t> list(size_t(n) + 1);
            uint8_t sum;
            if (!io.get(list.data(), list.size()) || !io.get(&sum, 1)) { io.send({NACK}); break; }
            uint8_t check = n;
            for (uint8_t b : list) check ^= b;
            if (check != sum) { io.send({NACK}); break; }
            pages.assign(list.begin(), list.end());
        }
        bool ok = true;
        for (uint16_t p : pages) ok = ok && p < kBootloaderFlashSize / kPageSize;
        if (!ok) { io.send({NACK}); break; }
        sleepFor(uint32_t(pages.size()) * opt.bootloaderEraseMsPerPage);
        {
            std::lock_guard<std::mutex> lock(m);
            for (uint16_t p : pages)
                std::fill(flashMem.begin() + long(p) * kPageSize, flashMem.begin() + long(p + 1) * kPageSize, 0xFF);
            pagesErased += uint32_t(pages.size());
        }
        io.send({ACK});
        break;
    }
    case 0x44: {  // Extended Erase (not advertised, accepted anyway)
        io.send({ACK});
        uint8_t nb[2];
        if (!io.get(nb, 2)) { io.send({NACK}); break; }
        uint16_t n = uint16_t(nb[0] << 8 | nb[1]);
        std::vector<uint16_t> pages;
        uint8_t check = nb[0] ^ nb[1];
        if (n >= 0xFFFD) {
            uint8_t sum;
            if (!io.get(&sum, 1) || sum != check) { io.send({NACK}); break; }
            for (uint16_t p = 0; p < kBootloaderFlashSize / kPageSize; ++p) pages.push_back(p);
        } else {
            std::vector<uint8_t> list((size_t(n) + 1) * 2);
            uint8_t sum;
            if (!io.get(list.data(), list.size()) || !io.get(&sum, 1)) { io.send({NACK}); break; }
            for (uint8_t b : list) check ^= b;
            if (check != sum) { io.send({NACK}); break; }
            for (size_t i = 0; i < list.size(); i += 2) pages.push_back(uint16_t(list[i] << 8 | list[i + 1]));
        }
        bool ok = true;
        for (uint16_t p : pages) ok = ok && p < kBootloaderFlashSize / kPageSize;
        if (!ok) { io.send({NACK}); break; }
        sleepFor(uint32_t(pages.size()) * opt.bootloaderEraseMsPerPage);
        {
            std::lock_guard<std::mutex> lock(m);
            for (uint16_t p : pages)
                std::fill(flashMem.begin() + long(p) * kPageSize, flashMem.begin() + long(p + 1) * kPageSize, 0xFF);
            pagesErased += uint32_t(pages.size());
        }
        io.send({ACK});
        break;
    }
    default:
        io.send({NACK});
        break;
    }
}

}  // namespace vqssim
