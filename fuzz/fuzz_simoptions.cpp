// The simulator's command line: arguments split at NUL bytes. Parsing never reads past the arguments,
// and what it accepts lies within the documented ranges.
#include "sim/simulator.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool share(double v) {
    return v >= 0.0 && v <= 1.0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"vx2207-sim"};
    std::string current;
    for (std::size_t k = 0; k < size; ++k) {
        if (data[k] == 0) {
            args.push_back(std::exchange(current, {}));
        } else {
            current.push_back(static_cast<char>(data[k]));
        }
    }
    if (!current.empty()) args.push_back(current);
    if (args.size() > 64) return 0;
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());

    vx::sim::Options o;
    bool help = true;
    std::string error;
    const bool ok = vx::sim::parseOptions(static_cast<int>(argv.size()), argv.data(), &o, &help, &error);
    check(ok == error.empty());
    if (!ok) return 0;
    check(share(o.dropShare) && share(o.corruptShare) && share(o.lateShare) && share(o.slaveErrorShare));
    check(o.slaveError >= 0 && o.slaveError <= 255);
    check(o.delayMs <= 65535 && o.lateMs <= 600000 && o.garbageBytes <= 4096 && o.splitGapUs <= 1000000);
    check(o.baud <= 10000000);
    const auto& m = o.model;
    check(m.firmwareMonth >= 1 && m.firmwareMonth <= 12 && m.firmwareDay >= 1 && m.firmwareDay <= 31);
    check(std::isfinite(m.noiseCounts) && m.noiseCounts >= 0 && std::isfinite(m.temperature));
    check(std::isfinite(m.signal.low) && std::isfinite(m.signal.high) && m.signal.periodSeconds > 0);
    (void)m.signal.valueAt(12.5);
    check(!vx::sim::usageText().empty());
    return 0;
}
