#pragma once
// Numbers on screen are written through picture patterns: "0" a digit always written, "#" a digit
// written only when significant, "." the place of the locale's decimal separator; any other
// character is copied unchanged (inside the integer part only once a digit stands to its left, so
// "# ### ##0" writes 12 as "12" and "0 000 000" writes -12 as "-0 000 012").
#include <string>
#include <string_view>

namespace vx {

// The decimal separator used by formatPicture and parseDecimal; '.' until the program sets the
// locale's own (the configurator does so at start-up).
void setDecimalSeparator(std::string_view separator);
const std::string& decimalSeparator();

// Formats v by the pattern. Halves round to even. Not-a-number reads "NAN", infinities "INF" and
// "-INF"; magnitudes of 1e18 and more are written in exponent form, so a label never explodes.
std::string formatPicture(double v, std::string_view pattern);

// Reads a decimal number written with the locale's separator (a '.' is accepted as well), with
// optional sign and surrounding blanks. Returns false, leaving *out alone, for anything else.
bool parseDecimal(std::string_view text, double* out);

} // namespace vx
