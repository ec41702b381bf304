#pragma once
// One good reply as the trend and the recording take it: values in their physical units, the unit
// following the instrument's input and output types, and the status flags in words. Pure.
#include "instrument/exchange.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vx::app::tools {

struct Measurement {
    double input = 0;       // in inputUnit
    std::string inputUnit;  // "V", "mA", or empty for a range this program does not know
    double output = 0;      // in outputUnit
    std::string outputUnit; // "V", "mA", or empty for an unknown output type
    std::string inputRange; // the measuring range, e.g. "-25 mA ... +25 mA"
    double scaleLow = 0;    // the input's scale: the values the output's ends stand for
    double scaleHigh = 0;
    std::string statusText;            // the status flags set, in words, "; " between them; empty for none
    std::optional<double> temperature; // none when the instrument has no reading
    std::int32_t adRaw0 = 0, adFiltered0 = 0, adRaw1 = 0, adFiltered1 = 0;
};

Measurement measure(const instrument::Reply& reply);

} // namespace vx::app::tools
