#include "records/profile.h"

#include "common/profilefile.h"

#include <charconv>
#include <cmath>

namespace vx::records {

Profile loadProfile(const std::string& path) {
    Profile p;
    for (std::size_t i = 0; i < kQuantityCount; ++i) {
        const std::string text =
            readProfileString(path, "Tolerances", quantityKey(static_cast<Quantity>(i)), "");
        double v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (!text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(v) &&
            v >= 0)
            p.tolerances.percent[i] = v;
    }
    if (const auto rule = parseRule(readProfileString(path, "Decision", "rule", "simple"))) p.rule = *rule;
    return p;
}

} // namespace vx::records
