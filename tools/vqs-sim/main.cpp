// vqs-sim: command-line front end of the sensor simulator.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

#include "simulator.h"

using namespace vqssim;

namespace {

const char kHelp[] =
    "Usage: vqs-sim [options]\n"
    "Simulates a VQS gas sensor on a serial line: prints the device path on the first line of\n"
    "standard output, then answers requests until interrupted (SIGINT/SIGTERM). SIGUSR1 plugs the\n"
    "device in again on a new pseudo-terminal (after a hang-up, for instance; the --link moves\n"
    "with it) and prints the new path. SIGUSR2 does the same as a sensor whose cable also carried\n"
    "its power: it comes back freshly powered up, idle, with sample number 0, and counts again\n"
    "only once a set-state command tells it to measure.\n"
    "\n"
    "Where:\n"
    "  --uart                 UART framing, 38400 baud (default)\n"
    "  --usb                  USB framing (virtual COM port), 115200 baud\n"
    "  --link PATH            also place a symbolic link to the pseudo-terminal at PATH\n"
    "  --device PATH          use a real serial device instead of a pseudo-terminal\n"
    "\n"
    "Identity:\n"
    "  --name TEXT            sensor name (default VQS-SIM-0001)\n"
    "  --type N               sensor type code (3 flam. gas, 4 A2L, 5 methane, 6 A1; default 3)\n"
    "  --sku TEXT             SKU (long sensor-information layout; default VQS-FL-100)\n"
    "  --fw A.B.C.D           firmware version (default 4.1.0.0; below 4.1.0.0 the device sends the\n"
    "                         short sensor information, the 84-byte engineering record and has no\n"
    "                         analog-output query)\n"
    "  --hw A.B               hardware version (default 2.1)\n"
    "  --comment TEXT         version-record comment (default vqs-sim)\n"
    "  --cal-date TEXT        calibration date (default 2024-01-15)\n"
    "  --mcu-id HEX           MCU identifier, 24 hex digits as the client prints it\n"
    "  --gas N                gas ID reported while gas is present (default 3, Methane)\n"
    "  --short-version        UART version reply of 8 bytes instead of the full 58\n"
    "  --usb-version TEXT     USB version text (default \"Firmware: A.B.C.D\\r\\nHardware: A.B\")\n"
    "  --params FILE          initial parameter JSON (default built from the identity)\n"
    "\n"
    "Behaviour:\n"
    "  --startup[=N]          reply status follows 0x26, 0x27, 0x28 (N replies each, default 1), then 0\n"
    "  --status CODE          reply status after start-up (default 0; e.g. 0x31 condensation)\n"
    "  --status-bits BITS     internal-status bits always set (ORed into the waveform's)\n"
    "  --sample-period MS     engineering sample clock (default 1000)\n"
    "  --hold                 keep the sample number at 1 (a sensor that stopped sampling)\n"
    "  --post-fail            the self-test text at 0x0803C000 reports a failure\n"
    "  --reply-delay MS       delay before every reply (default 0)\n"
    "  --erase-ms MS          bootloader erase time per 1 KiB page (default 2)\n"
    "\n"
    "Gas profile (instead of the built-in waveform):\n"
    "  --gas-profile STEPS    the gas at the inlet as steps TIME:CONC, seconds and %LEL, separated by\n"
    "                         commas, e.g. 0:0,30:50,90:0 (0 until 30 s, 50 from 30 s, 0 again from\n"
    "                         90 s; 0 before the first step). STEPS may name a file holding the steps,\n"
    "                         separated by commas, blanks or lines, '#' starting a comment. Time runs\n"
    "                         on the sample clock: sample n is taken at (n-1) x --sample-period, from\n"
    "                         the start (a replug starts it again). The reading is reported in the\n"
    "                         unit asked for, converted as the waveform's; gas ID 0 below 1 %LEL\n"
    "  --tau SECONDS          the reading answers as a first-order sensor with this time constant,\n"
    "                         exact at every sample time (default 0: at once)\n"
    "  --noise SD             noise on the reading: standard deviation in %LEL (default 0); each\n"
    "                         sample keeps its value however often it is read\n"
    "  --drift RATE           the reading drifts by RATE %LEL per hour from time 0 (default 0)\n"
    "\n"
    "Faults (repeatable):\n"
    "  --fault KIND[=VALUE][@TRIGGER][*TIMES]\n"
    "      TRIGGER  N           the N-th request received (1-based, resends included)\n"
    "               cmd:ID[#K]  the K-th request with command ID (default K=1); ID decimal or 0x hex\n"
    "               (none)      the next request\n"
    "      TIMES    how many matching requests in a row (default 1, 0 = all from then on)\n"
    "      KIND     noreply        send nothing\n"
    "               badcrc         reply check value XOR VALUE (default 0x5A5A)\n"
    "               wrongcmd       echoed command + VALUE (default 1)\n"
    "               truncheader    only the first VALUE header bytes (default 3 UART, 8 USB)\n"
    "               truncpayload   full header, only VALUE payload bytes (default half)\n"
    "               status         UART reply status VALUE (default 0x05); USB result code VALUE\n"
    "               usbflags       USB reply flags |= VALUE (0x0004, 0x0008, 0x0010; default 0x0004)\n"
    "               delay          wait VALUE ms before replying (default 1500)\n"
    "               garbage        VALUE random bytes instead of the reply (default 7)\n"
    "               garbagebefore  VALUE random bytes, then the reply (default 7)\n"
    "               hangup         close the line: the device disappears like a pulled cable\n"
    "               size           well-formed reply with the payload cut/zero-extended to VALUE bytes\n"
    "               chunkrefused   USB firmware chunk refused with status VALUE (default 1)\n"
    "               chunkseq       USB firmware chunk answered with chunk number VALUE (default n-1)\n"
    "               silentboot     on 0x63 reply, then the bootloader never answers\n"
    "               late           hold the reply until the client resends (at most VALUE ms, default\n"
    "                              10000), then send it and answer the resend too: two replies\n"
    "               oversize       header announces VALUE payload bytes (default 27000), the real\n"
    "                              payload follows; add truncpayload=0 for no body at all\n"
    "               garbledheader  VALUE bytes of noise (default 16 UART, 32 USB) behind a header\n"
    "                              that echoes the command and announces 5 payload bytes\n"
    "      e.g. --fault noreply@3  --fault delay=2000@cmd:0x42#2*3  --fault usbflags=0x0008@cmd:0x019A\n"
    "           --fault oversize@cmd:0x019A --fault truncpayload=0@cmd:0x019A  (a header-only 27000-byte claim)\n"
    "  --random-faults SEED:PROB[:KIND,KIND...]\n"
    "                         each request gets a random fault with probability PROB (0..1),\n"
    "                         reproducible per SEED (default kinds: noreply badcrc wrongcmd\n"
    "                         truncheader truncpayload delay(300 ms) garbage)\n"
    "\n"
    "Output:\n"
    "  -v, --verbose          print every request and reply on standard error\n"
    "  --dump FILE            at exit, write one line per request: index, command, length, bytes\n"
    "  --raw-dump FILE        at exit, write every byte received, unframed\n"
    "  --image-out FILE       at exit, write the firmware image received in USB chunks\n"
    "  --flash-out FILE       at exit, write the 128 KiB the bootloader can program\n"
    "  -h, --help             this text\n"
    "\n"
    "Commands: UART 0x08 verbose answer, 0x09 engineering data, 0x42 version, 0x43 sensor\n"
    "information (0xAA: short/long layout by firmware; no payload: 124-byte fallback), 0x44 read\n"
    "flash, 0x45/0x46 get/set parameters, 0x47 calibrate, 0x61 set state, 0x63 enter bootloader,\n"
    "0x65 clear history, 0x66 reboot, 0x6B analog output. USB 0x0001 answer, 0x0002 environment,\n"
    "0x000B set state, 0x0090 clear history, 0x019A version, 0x019D reboot, 0x01A1/0x01A2 set/get\n"
    "parameters, 0x01A3 sensor name, 0x01A4 firmware chunk.\n"
    "\n"
    "Bootloader on a pseudo-terminal: Linux ptys clear PARENB, so stm32flash's default 8E1 check\n"
    "fails (\"Failed to set terminal flags\"); run it with -m 8n1.\n";

volatile sig_atomic_t quit = 0;
volatile sig_atomic_t replug = 0;
void onSignal(int) { quit = 1; }
void onReplug(int) { replug = 1; }
void onPowerCycle(int) { replug = 2; }

bool parseVersion(const char* s, uint8_t* out, int n) {
    std::stringstream ss(s);
    std::string part;
    int i = 0;
    while (std::getline(ss, part, '.')) {
        if (i >= n || part.empty()) return false;
        char* end;
        long v = strtol(part.c_str(), &end, 10);
        if (*end || v < 0 || v > 255) return false;
        out[i++] = uint8_t(v);
    }
    return i == n;
}

bool parseUnsigned(const char* s, unsigned long long* out) {
    char* end;
    errno = 0;
    *out = strtoull(s, &end, 0);
    return *s && !*end && errno == 0;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

// A decimal number with '.', whatever the locale.
bool parseReal(const char* s, double* out) {
    const char* end = s + strlen(s);
    if (*s == '+') ++s;
    const auto result = std::from_chars(s, end, *out);
    return s != end && result.ec == std::errc() && result.ptr == end && std::isfinite(*out);
}

// STEPS itself, or the file it names.
bool readGasProfile(const std::string& steps, GasProfile* profile, std::string* error) {
    std::ifstream file(steps);
    if (!file) return parseGasProfile(steps, profile, error);
    std::string text((std::istreambuf_iterator<char>(file)), {});
    if (!parseGasProfile(text, profile, error)) {
        *error = steps + ": " + *error;
        return false;
    }
    return true;
}

int fail(const std::string& msg) {
    fprintf(stderr, "vqs-sim: %s\n", msg.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Framing framing = Framing::Uart;
    Identity id;
    Options opt;
    std::string link, device, dump, rawDump, imageOut, flashOut, paramsFile, gasProfile;
    bool shaped = false;  // --tau, --noise or --drift given
    std::vector<Fault> faults;
    bool random = false, hold = false, postFail = false;
    uint32_t seed = 0;
    double prob = 0;
    std::vector<FaultKind> randomKinds;
    int startup = 0;
    uint8_t status = 0;
    uint32_t bits = 0;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string val;
        size_t eq = a.find('=');
        bool hasEq = a.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (hasEq) {
            val = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        auto next = [&]() -> const char* {
            if (hasEq) return val.c_str();
            if (i + 1 >= argc) return nullptr;
            return argv[++i];
        };
        const char* v = nullptr;
        unsigned long long n = 0;
        if (a == "-h" || a == "--help") {
            fputs(kHelp, stdout);
            return 0;
        } else if (a == "--uart") {
            framing = Framing::Uart;
        } else if (a == "--usb") {
            framing = Framing::Usb;
        } else if (a == "-v" || a == "--verbose") {
            opt.verbose = true;
        } else if (a == "--short-version") {
            id.shortVersion = true;
        } else if (a == "--hold") {
            hold = true;
        } else if (a == "--post-fail") {
            postFail = true;
        } else if (a == "--startup") {
            startup = 1;
            if (hasEq && (!parseUnsigned(val.c_str(), &n) || n == 0)) return fail("bad --startup count");
            if (hasEq) startup = int(n);
        } else if (!(v = next())) {
            return fail("option " + a + " needs a value (see --help)");
        } else if (a == "--link") {
            link = v;
        } else if (a == "--device") {
            device = v;
        } else if (a == "--name") {
            id.name = v;
        } else if (a == "--sku") {
            id.sku = v;
        } else if (a == "--comment") {
            id.comment = v;
        } else if (a == "--cal-date") {
            id.calibrationDate = v;
        } else if (a == "--usb-version") {
            id.usbVersionText = v;
        } else if (a == "--params") {
            paramsFile = v;
        } else if (a == "--dump") {
            dump = v;
        } else if (a == "--raw-dump") {
            rawDump = v;
        } else if (a == "--image-out") {
            imageOut = v;
        } else if (a == "--flash-out") {
            flashOut = v;
        } else if (a == "--gas-profile") {
            gasProfile = v;
        } else if (a == "--tau" || a == "--noise" || a == "--drift") {
            double x = 0;
            if (!parseReal(v, &x) || (a != "--drift" && x < 0)) return fail("bad " + a + " " + v);
            (a == "--tau" ? opt.gasProfile.tau : a == "--noise" ? opt.gasProfile.noise : opt.gasProfile.driftPerHour) = x;
            shaped = true;
        } else if (a == "--fw") {
            if (!parseVersion(v, id.firmware.data(), 4)) return fail("bad --fw (A.B.C.D)");
        } else if (a == "--hw") {
            if (!parseVersion(v, id.hardware.data(), 2)) return fail("bad --hw (A.B)");
        } else if (a == "--mcu-id") {
            std::string h = v;
            if (h.size() != 24 || h.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return fail("bad --mcu-id (24 hex digits)");
            for (int w = 0; w < 3; ++w) id.mcuId[size_t(w)] = uint32_t(std::stoul(h.substr(size_t(w) * 8, 8), nullptr, 16));
        } else if (a == "--fault") {
            Fault f;
            std::string err;
            if (!parseFault(v, &f, &err)) return fail(err);
            faults.push_back(f);
        } else if (a == "--random-faults") {
            std::string s = v;
            size_t c1 = s.find(':');
            if (c1 == std::string::npos) return fail("bad --random-faults (SEED:PROB[:KINDS])");
            size_t c2 = s.find(':', c1 + 1);
            unsigned long long sd;
            if (!parseUnsigned(s.substr(0, c1).c_str(), &sd)) return fail("bad --random-faults seed");
            std::string ps = s.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
            // '.' whatever the locale says.
            const auto parsed = std::from_chars(ps.data(), ps.data() + ps.size(), prob);
            if (parsed.ec != std::errc() || parsed.ptr != ps.data() + ps.size() || ps.empty() || prob < 0 || prob > 1)
                return fail("bad --random-faults probability");
            if (c2 != std::string::npos) {
                std::stringstream ks(s.substr(c2 + 1));
                std::string k;
                while (std::getline(ks, k, ',')) {
                    Fault f;
                    std::string err;
                    if (!parseFault(k, &f, &err)) return fail(err);
                    randomKinds.push_back(f.kind);
                }
            }
            seed = uint32_t(sd);
            random = true;
        } else if (!parseUnsigned(v, &n)) {
            return fail("option " + a + " needs a number");
        } else if (a == "--type") {
            id.sensorType = uint32_t(n);
        } else if (a == "--gas") {
            id.gasId = uint32_t(n);
        } else if (a == "--status") {
            if (n > 0xFF) return fail("--status takes a byte");
            status = uint8_t(n);
        } else if (a == "--status-bits") {
            bits = uint32_t(n);
        } else if (a == "--sample-period") {
            opt.samplePeriodMs = uint32_t(n);
        } else if (a == "--reply-delay") {
            opt.replyDelayMs = uint32_t(n);
        } else if (a == "--erase-ms") {
            opt.bootloaderEraseMsPerPage = uint32_t(n);
        } else {
            return fail("unknown option " + a + " (see --help)");
        }
    }

    if (!gasProfile.empty()) {
        std::string err;
        if (!readGasProfile(gasProfile, &opt.gasProfile, &err)) return fail(err);
    } else if (shaped) {
        return fail("--tau, --noise and --drift shape a --gas-profile");
    }

    Simulator sim(framing, id, opt);
    if (!paramsFile.empty()) {
        std::ifstream f(paramsFile);
        if (!f) return fail("cannot read " + paramsFile);
        sim.setParamsJson(std::string(std::istreambuf_iterator<char>(f), {}));
    }
    if (startup) sim.enableStartup(uint32_t(startup));
    sim.setSensorStatus(status);
    sim.setExtraStatusBits(bits);
    sim.setPostPassed(!postFail);
    for (const Fault& f : faults) sim.addFault(f);
    if (random) sim.setRandomFaults(seed, prob, randomKinds);

    bool ok = device.empty() ? sim.openPty(link) : sim.openDevice(device);
    if (!ok) return fail(sim.lastError());
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGUSR1, onReplug);
    signal(SIGUSR2, onPowerCycle);
    sim.start();
    if (hold) sim.holdSamples(true);
    printf("%s\n", sim.path().c_str());
    fflush(stdout);
    std::string where = sim.path();
    if (!link.empty()) where += " -> " + sim.slavePath();
    fprintf(stderr, "vqs-sim: %s framing, sensor \"%s\", firmware %u.%u.%u.%u on %s\n",
            framing == Framing::Uart ? "UART" : "USB", id.name.c_str(), id.firmware[0], id.firmware[1],
            id.firmware[2], id.firmware[3], where.c_str());

    bool reportedHangUp = false;
    while (!quit) {
        usleep(100 * 1000);
        if (!sim.isOpen() && !reportedHangUp) {
            fprintf(stderr, "vqs-sim: hung up (line closed)\n");
            reportedHangUp = true;
        }
        if (replug) {
            const Simulator::Replug how = replug == 2 ? Simulator::Replug::PowerCycled : Simulator::Replug::Restarted;
            replug = 0;
            if (sim.replug(how)) {
                printf("%s\n", sim.path().c_str());
                fflush(stdout);
                fprintf(stderr, "vqs-sim: plugged in again on %s%s\n", sim.slavePath().c_str(),
                        how == Simulator::Replug::PowerCycled ? " (powered up, idle)" : "");
                reportedHangUp = false;
            } else {
                fprintf(stderr, "vqs-sim: replug failed: %s\n", sim.lastError().c_str());
            }
        }
    }
    sim.stop();
    fprintf(stderr, "vqs-sim: %zu requests, %zu replies\n", sim.requestCount(), sim.repliesSent());
    int rc = 0;
    if (!dump.empty() && !sim.dumpLog(dump)) rc = fail("cannot write " + dump);
    if (!rawDump.empty() && !writeFile(rawDump, sim.receivedBytes())) rc = fail("cannot write " + rawDump);
    if (!imageOut.empty() && !writeFile(imageOut, sim.firmwareImage())) rc = fail("cannot write " + imageOut);
    if (!flashOut.empty() && !writeFile(flashOut, sim.flash(kFlashBase, kBootloaderFlashSize)))
        rc = fail("cannot write " + flashOut);
    sim.close();
    return rc;
}
