// A gas profile for the simulated sensor: the concentration at its inlet as
// steps in time, and the reading of a first-order sensor exposed to it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vqssim {

struct GasProfile {
    // (seconds on the sample clock, %LEL from then on), times increasing; 0 before the first.
    std::vector<std::pair<double, double>> steps;
    double tau = 0;           // first-order time constant in seconds; 0 follows the inlet at once
    double noise = 0;         // standard deviation of the reading's noise, %LEL
    double driftPerHour = 0;  // the reading's drift, %LEL per hour from time 0

    bool active() const { return !steps.empty(); }

    // The reading at `seconds`: the exact first-order answer to the steps so far,
    // plus drift, plus noise that depends on the sample number only (the same
    // sample always reads the same).
    double reading(double seconds, uint32_t sample) const;
};

// "0:0,30:50,90:0": TIME:CONC items separated by commas, blanks or line ends;
// '#' starts a comment to the end of the line. Numbers are read with '.'
// whatever the locale. Returns false with a message in *error.
bool parseGasProfile(const std::string& text, GasProfile* profile, std::string* error);

}  // namespace vqssim
