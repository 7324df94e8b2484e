// Fault scheduling: which faults a request's reply gets, and the text form of a fault.
#include "sim_impl.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vqssim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

const KindName kKindNames[] = {
    {FaultKind::NoReply, "noreply"},
    {FaultKind::BadCrc, "badcrc"},
    {FaultKind::WrongCommand, "wrongcmd"},
    {FaultKind::TruncatedHeader, "truncheader"},
    {FaultKind::TruncatedPayload, "truncpayload"},
    {FaultKind::ReplyStatus, "status"},
    {FaultKind::UsbFlags, "usbflags"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::GarbageBefore, "garbagebefore"},
    {FaultKind::HangUp, "hangup"},
    {FaultKind::ChunkRefused, "chunkrefused"},
    {FaultKind::ChunkOutOfSequence, "chunkseq"},
    {FaultKind::SilentBootloader, "silentboot"},
    {FaultKind::PayloadSize, "size"},
    {FaultKind::LateReply, "late"},
    {FaultKind::OversizeLength, "oversize"},
    {FaultKind::GarbledHeader, "garbledheader"},
};

bool parseNumber(const std::string& s, int64_t* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(s.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool matches(FaultSlot& slot, const Request& r) {
    const Fault& f = slot.fault;
    uint32_t times = f.times <= 0 ? UINT32_MAX : uint32_t(f.times);
    if (f.command >= 0) {
        if (r.command != uint16_t(f.command)) return false;
        uint32_t k = ++slot.seen;
        uint32_t first = uint32_t(std::max(1, f.occurrence));
        return k >= first && k - first < times;
    }
    uint32_t first = f.request > 0 ? uint32_t(f.request) : slot.startIndex;
    return r.index >= first && r.index - first < times;
}

}  // namespace

const char* faultKindName(FaultKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "?";
}

bool parseFault(const std::string& text, Fault* fault, std::string* error) {
    Fault f;
    std::string rest = text;
    size_t star = rest.rfind('*');
    if (star != std::string::npos) {
        int64_t t;
        if (!parseNumber(rest.substr(star + 1), &t) || t < 0) {
            *error = "bad repeat count in '" + text + "'";
            return false;
        }
        f.times = int(t);
        rest.erase(star);
    }
    std::string trigger;
    size_t at = rest.find('@');
    if (at != std::string::npos) {
        trigger = rest.substr(at + 1);
        rest = rest.substr(0, at);
    }
    std::string kind = rest;
    size_t eq = rest.find('=');
    if (eq != std::string::npos) {
        kind = rest.substr(0, eq);
        if (!parseNumber(rest.substr(eq + 1), &f.value)) {
            *error = "bad fault value in '" + text + "'";
            return false;
        }
    }
    bool found = false;
    for (const KindName& k : kKindNames) {
        if (kind == k.name) {
            f.kind = k.kind;
            found = true;
        }
    }
    if (!found) {
        *error = "unknown fault kind '" + kind + "'";
        return false;
    }
    if (!trigger.empty()) {
        if (trigger.compare(0, 4, "cmd:") == 0) {
            std::string c = trigger.substr(4);
            size_t hash = c.find('#');
            int64_t occ = 1, id = 0;
            if (hash != std::string::npos) {
                if (!parseNumber(c.substr(hash + 1), &occ) || occ < 1) {
                    *error = "bad occurrence in '" + text + "'";
                    return false;
                }
                c = c.substr(0, hash);
            }
            if (!parseNumber(c, &id) || id < 0 || id > 0xFFFF) {
                *error = "bad command id in '" + text + "'";
                return false;
            }
            f.command = int(id);
            f.occurrence = int(occ);
        } else {
            int64_t n;
            if (!parseNumber(trigger, &n) || n < 1) {
                *error = "bad trigger in '" + text + "'";
                return false;
            }
            f.request = int(n);
        }
    }
    *fault = f;
    return true;
}

int64_t faultValue(const std::vector<FaultKind>& kinds, const std::vector<int64_t>& values, FaultKind k,
                   int64_t fallback) {
    for (size_t i = 0; i < kinds.size(); ++i)
        if (kinds[i] == k) return values[i] < 0 ? fallback : values[i];
    return fallback;
}

bool hasFault(const std::vector<FaultKind>& kinds, FaultKind k) {
    for (FaultKind x : kinds)
        if (x == k) return true;
    return false;
}

void holdLateReply(Simulator::Impl& d, const std::vector<FaultKind>& kinds, const std::vector<int64_t>& values) {
    if (!hasFault(kinds, FaultKind::LateReply)) return;
    // The client's resend is the sign that it has given up on this reply; the pump answers
    // the resend afterwards, so both replies arrive.
    const auto until = Simulator::Impl::Clock::now() +
                       std::chrono::milliseconds(faultValue(kinds, values, FaultKind::LateReply, 10000));
    while (d.rx.empty() && !d.stopping && Simulator::Impl::Clock::now() < until)
        if (d.readSome(20) < 0) return;
}

std::vector<FaultKind> Simulator::Impl::faultsFor(const Request& r, std::vector<int64_t>* values) {
    std::lock_guard<std::mutex> lock(m);
    std::vector<FaultKind> kinds;
    for (FaultSlot& slot : faults) {
        if (matches(slot, r)) {
            kinds.push_back(slot.fault.kind);
            values->push_back(slot.fault.value);
            ++slot.fired;
        }
    }
    if (randomOn && !randomKinds.empty()) {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        if (u(rng) < randomP) {
            std::uniform_int_distribution<size_t> pick(0, randomKinds.size() - 1);
            FaultKind k = randomKinds[pick(rng)];
            kinds.push_back(k);
            values->push_back(k == FaultKind::Delay ? 300 : -1);
        }
    }
    return kinds;
}

void Simulator::addFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(d->m);
    FaultSlot slot;
    slot.fault = fault;
    slot.startIndex = d->requestIndex + 1;
    d->faults.push_back(slot);
}

void Simulator::clearFaults() {
    std::lock_guard<std::mutex> lock(d->m);
    d->faults.clear();
}

size_t Simulator::pendingFaults() const {
    std::lock_guard<std::mutex> lock(d->m);
    size_t n = 0;
    for (const FaultSlot& s : d->faults) {
        if (s.fault.times <= 0) {
            ++n;
            continue;
        }
        n += s.fired < uint32_t(s.fault.times);
    }
    return n;
}

void Simulator::setRandomFaults(uint32_t seed, double probability, std::vector<FaultKind> kinds) {
    std::lock_guard<std::mutex> lock(d->m);
    if (kinds.empty()) {
        kinds = {FaultKind::NoReply,          FaultKind::BadCrc, FaultKind::WrongCommand, FaultKind::TruncatedHeader,
                 FaultKind::TruncatedPayload, FaultKind::Delay,  FaultKind::Garbage};
    }
    d->randomOn = true;
    d->randomP = probability;
    d->randomKinds = std::move(kinds);
    d->rng.seed(seed);
}

void Simulator::clearRandomFaults() {
    std::lock_guard<std::mutex> lock(d->m);
    d->randomOn = false;
}

}  // namespace vqssim
