// The number parser and the picture formats, under a decimal-comma C locale as on a Hungarian desktop:
// any text parses to a finite number or to none, any value formats by any pattern without reading out
// of bounds, and what an edit's pattern writes reads back as the value it shows.
#include "common/pictureformat.h"

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The edits' patterns, whose text is read back, and the display's grouped ones, which are only shown.
constexpr const char* kEditPatterns[] = {"0.000",  "0",   "0.0",  "##0.00000", "0.0000", "#0.000",
                                         "##0.00", "0.#", "0.##", "0000",      "00"};
constexpr const char* kShownPatterns[] = {"## ##0", "# ### ##0", "0 000 000", "00 000", "# ### ### ##0"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_NUMERIC, "hu_HU.UTF-8"); // when the machine has it
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 10) return 0;
    vx::setDecimalSeparator((data[0] & 1) ? "," : ".");
    double v;
    std::memcpy(&v, data + 1, sizeof v);
    const std::string_view rest(reinterpret_cast<const char*>(data + 9), size - 9);

    // A value from raw bits by a pattern from the input: no crash, and a label that stays short.
    const std::string_view pattern = rest.substr(0, std::min<std::size_t>(rest.size(), 40));
    check(vx::formatPicture(v, pattern).size() <= 2 * pattern.size() + 40);

    for (const char* p : kShownPatterns)
        check(vx::formatPicture(v, p).size() <= 40);
    // The same value by every edit pattern, read back: what is shown is what a later parse takes.
    for (const char* p : kEditPatterns) {
        const std::string shown = vx::formatPicture(v, p);
        check(shown.size() <= 40);
        double back = 0;
        const bool parsed = vx::parseDecimal(shown, &back);
        // Next to the largest double the shown rounding may itself lie beyond it.
        if (std::fabs(v) > 1e300) continue;
        check(parsed == std::isfinite(v));
        if (!parsed) continue;
        const char* dot = std::strchr(p, '.');
        const int places = dot ? static_cast<int>(std::strlen(dot + 1)) : 0;
        const double a = std::fabs(v);
        const double tolerance =
            a >= 1e18 ? a * 0.06 : 0.5 * std::pow(10.0, -places) * (1 + 1e-9) + a * 1e-15;
        check(std::fabs(back - v) <= tolerance);
    }

    // Any text: a finite number or none, and a number reformats and reads back within the pattern.
    double parsed = 12345;
    if (vx::parseDecimal(rest, &parsed)) {
        check(std::isfinite(parsed));
        double again = 0;
        check(vx::parseDecimal(vx::formatPicture(parsed, "#0.000"), &again));
    } else {
        check(parsed == 12345);
    }
    return 0;
}
