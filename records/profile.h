#pragma once
// The product profile: a small INI file that may override the tolerance of any signal type and choose
// the decision rule.
//   [Tolerances]   output_current=0.1  output_voltage=0.1  input_mv=0.05  input_v=0.05  input_ma=0.05
//                  (percent of span, full stop)
//   [Decision]     rule=simple   or   rule=guard-band 0.02   (guard band in percent of span)
// A missing file or key, or a value that does not read as a number of at least 0, keeps the default.
#include "records/verification.h"

#include <string>

namespace vx::records {

struct Profile {
    Tolerances tolerances;
    DecisionRule rule;
};
Profile loadProfile(const std::string& path);

} // namespace vx::records
