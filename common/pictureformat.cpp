#include "common/pictureformat.h"

#include <charconv>
#include <cmath>

namespace vx {

namespace {
std::string& separatorStorage() {
    static std::string sep = ".";
    return sep;
}

bool isDigitPlaceholder(char c) {
    return c == '0' || c == '#';
}

// The exact decimal expansion rounded to `places` (ties to even), as printf's "%.*f" or "%.*E" would
// write it in the C locale. Not printf itself: QApplication sets LC_NUMERIC from the desktop, where
// printf writes a decimal comma, and it is many times slower.
std::string decimalText(double v, int places, std::chars_format format) {
    char small[64];
    auto r = std::to_chars(small, small + sizeof small, v, format, places);
    if (r.ec == std::errc{}) return std::string(small, r.ptr);
    // Magnitudes reach 1e18 only in exponent form, so the places are what can make it long.
    std::string big(static_cast<size_t>(places) + 32, '\0');
    r = std::to_chars(big.data(), big.data() + big.size(), v, format, places);
    big.resize(r.ec == std::errc{} ? static_cast<size_t>(r.ptr - big.data()) : 0);
    return big;
}
} // namespace

void setDecimalSeparator(std::string_view separator) {
    separatorStorage() = separator.empty() ? std::string(".") : std::string(separator);
}

const std::string& decimalSeparator() {
    return separatorStorage();
}

std::string formatPicture(double v, std::string_view pattern) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";

    const size_t dot = pattern.find('.');
    const std::string_view intPat = pattern.substr(0, dot);
    const std::string_view fracPat =
        dot == std::string_view::npos ? std::string_view{} : pattern.substr(dot + 1);

    int fracPlaces = 0;
    for (char c : fracPat)
        if (isDigitPlaceholder(c)) ++fracPlaces;

    if (std::fabs(v) >= 1e18) {
        std::string s = decimalText(v, fracPlaces > 0 ? fracPlaces : 1, std::chars_format::scientific);
        if (const size_t e = s.find('e'); e != std::string::npos) s[e] = 'E';
        const size_t p = s.find('.');
        if (p != std::string::npos) s.replace(p, 1, decimalSeparator());
        return s;
    }

    // Exact decimal expansion rounded by printf: ties go to even, as everywhere on screen.
    const std::string digits = decimalText(std::fabs(v), fracPlaces, std::chars_format::fixed);
    const size_t point = digits.find('.');
    std::string intDigits = digits.substr(0, point);
    std::string fracDigits = point == std::string::npos ? std::string{} : digits.substr(point + 1);

    const bool allZero = intDigits.find_first_not_of('0') == std::string::npos &&
                         fracDigits.find_first_not_of('0') == std::string::npos;
    const bool negative = v < 0 && !allZero;

    // Integer part: strip leading zeros, then pad to the number of forced places.
    intDigits.erase(0, intDigits.find_first_not_of('0'));
    int intPlaces = 0, forced = 0;
    bool seenZero = false;
    for (char c : intPat) {
        if (!isDigitPlaceholder(c)) continue;
        ++intPlaces;
        if (c == '0') seenZero = true;
        if (seenZero) ++forced;
    }
    if (static_cast<int>(intDigits.size()) < forced)
        intDigits.insert(0, static_cast<size_t>(forced) - intDigits.size(), '0');

    std::string out;
    if (negative) out += '-';
    // Digits beyond the placeholders all go out at the first placeholder.
    const int surplus = static_cast<int>(intDigits.size()) - intPlaces;
    int placeholderIndex = 0;
    size_t next = 0;
    bool wroteDigit = false, seenPlaceholder = false;
    const int firstWritten =
        intPlaces - static_cast<int>(intDigits.size()); // placeholder index of the first digit
    for (char c : intPat) {
        if (isDigitPlaceholder(c)) {
            if (!seenPlaceholder && surplus > 0) {
                out.append(intDigits, 0, static_cast<size_t>(surplus));
                next = static_cast<size_t>(surplus);
                wroteDigit = true;
            }
            seenPlaceholder = true;
            if (placeholderIndex >= firstWritten && next < intDigits.size()) {
                out += intDigits[next++];
                wroteDigit = true;
            }
            ++placeholderIndex;
        } else if (!seenPlaceholder || wroteDigit) {
            out += c;
        }
    }
    if (!seenPlaceholder && !intDigits.empty() && dot != std::string_view::npos) out += intDigits;

    if (dot != std::string_view::npos) {
        // Trailing '#' places drop their zeros; '0' places keep them.
        int keep = fracPlaces;
        int idx = fracPlaces;
        for (auto it = fracPat.rbegin(); it != fracPat.rend(); ++it) {
            if (!isDigitPlaceholder(*it)) continue;
            --idx;
            if (*it == '#' && idx < static_cast<int>(fracDigits.size()) &&
                fracDigits[static_cast<size_t>(idx)] == '0')
                keep = idx;
            else
                break;
        }
        std::string frac;
        int fi = 0;
        for (char c : fracPat) {
            if (isDigitPlaceholder(c)) {
                if (fi < keep && static_cast<size_t>(fi) < fracDigits.size())
                    frac += fracDigits[static_cast<size_t>(fi)];
                ++fi;
            } else if (fi < keep) {
                frac += c;
            }
        }
        if (!frac.empty()) out += decimalSeparator() + frac;
    }
    return out;
}

bool parseDecimal(std::string_view text, double* out) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 64) return false;

    std::string norm;
    const std::string& sep = decimalSeparator();
    bool seenDigit = false, seenPoint = false, seenExp = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            norm += c;
            seenDigit = true;
            ++i;
        } else if ((c == '+' || c == '-') && (i == 0 || text[i - 1] == 'e' || text[i - 1] == 'E')) {
            norm += c;
            ++i;
        } else if ((c == 'e' || c == 'E') && seenDigit && !seenExp) {
            norm += 'e';
            seenExp = true;
            seenDigit = false;
            ++i;
        } else if (!seenPoint && !seenExp && (text.substr(i, sep.size()) == sep || c == '.')) {
            norm += '.';
            seenPoint = true;
            i += c == '.' && text.substr(i, sep.size()) != sep ? 1 : sep.size();
        } else {
            return false;
        }
    }
    if (!seenDigit) return false;
    // from_chars, not strtod: the C library's locale may want a decimal comma (see decimalText).
    std::string_view number = norm;
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
    if (ec != std::errc{} || end != number.data() + number.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

} // namespace vx
