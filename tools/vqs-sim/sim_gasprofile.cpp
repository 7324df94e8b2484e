// The gas profile's steps and the first-order reading that answers them.
#include "gasprofile.h"

#include <charconv>
#include <cmath>

namespace vqssim {

namespace {

// Not every C library defines M_PI in strict C++ (mingw-w64 does not).
constexpr double kPi = 3.14159265358979323846;

bool parseNumber(const std::string& text, double* value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto result = std::from_chars(begin, end, *value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(*value);
}

// A well-mixed 64-bit hash (splitmix64 finaliser): noise from the sample number alone.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double unitInterval(uint64_t bits) {
    return (double(bits >> 11) + 0.5) / 9007199254740992.0;  // (0, 1)
}

}  // namespace

double GasProfile::reading(double seconds, uint32_t sample) const {
    // Sum of the step answers: each change of the inlet d at T adds d (1 - e^-(t-T)/tau).
    double value = 0, inlet = 0;
    for (const auto& step : steps) {
        if (step.first > seconds)
            break;
        const double change = step.second - inlet;
        inlet = step.second;
        value += tau > 0 ? change * -std::expm1(-(seconds - step.first) / tau) : change;
    }
    if (seconds > 0)
        value += driftPerHour * seconds / 3600.0;
    if (noise > 0) {
        // Box-Muller from two uniforms of the sample's hash.
        const double u1 = unitInterval(mix(sample)), u2 = unitInterval(mix(uint64_t(sample) + 0x51ED270B27ull));
        value += noise * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
    }
    return value;
}

bool parseGasProfile(const std::string& text, GasProfile* profile, std::string* error) {
    std::vector<std::pair<double, double>> steps;
    std::string item;
    bool comment = false;
    auto take = [&]() {
        if (item.empty())
            return true;
        const size_t colon = item.find(':');
        double at = 0, conc = 0;
        if (colon == std::string::npos || !parseNumber(item.substr(0, colon), &at) ||
            !parseNumber(item.substr(colon + 1), &conc)) {
            *error = "bad gas-profile step \"" + item + "\" (TIME:CONC, e.g. 30:50)";
            return false;
        }
        if (at < 0 || (!steps.empty() && at <= steps.back().first)) {
            *error = "gas-profile times must start at 0 or later and increase (\"" + item + "\")";
            return false;
        }
        steps.emplace_back(at, conc);
        item.clear();
        return true;
    };
    for (char c : text) {
        if (c == '\n' || c == '\r')
            comment = false;
        if (comment)
            continue;
        if (c == '#') {
            comment = true;
            continue;
        }
        if (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!take())
                return false;
        } else {
            item += c;
        }
    }
    if (!take())
        return false;
    if (steps.empty()) {
        *error = "the gas profile has no step";
        return false;
    }
    profile->steps = std::move(steps);
    return true;
}

}  // namespace vqssim
