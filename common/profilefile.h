#pragma once
// A small profile ("INI") file layer with the classic semantics: a missing file, section or key reads as
// the default; section and key names match in any letter case; the first of duplicate keys wins; a write
// creates the file, the section and the key as needed and leaves every other line byte for byte as it was.
// Reading stops as soon as the key is found and never takes in more than a bounded amount of the file,
// so a huge or binary file costs little and cannot break anything. Only a regular file is read or written:
// a pipe or a device at that path reads as defaults and is left alone.
#include <string>
#include <string_view>
#include <vector>

namespace vx {

// Reads one value. Blanks around the value are dropped, as are a pair of enclosing double quotes.
std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view defaultValue);

// Writes one value; returns false when the file cannot be written or is read-only, and when it cannot be
// read whole or understood (beyond the read limit, or not 8-bit text such as UTF-16): the old file then
// stays exactly as it was. A symbolic link is followed, also to a file not made yet: the file it points
// to is the one updated; a loop of links is left alone.
// Line breaks and other control characters in the value become blanks so the value stays on its line.
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

struct ProfileEntry {
    std::string section, key, value;
};
// Writes several values as writeProfileString does each, in one replacement of the file: a new file
// of a name of its own in the same folder, synced, renamed over the old one, and the folder synced, so
// a crash leaves the old file or the new one, never a mix. The new file keeps the old one's owner and
// mode. Two programs writing at once take turns (an advisory lock on the folder). Returns 0, or an
// errno value saying why nothing was written (EACCES read-only, EILSEQ not understood, EINVAL not a
// regular file or an empty name, ELOOP a loop of links).
int writeProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries);

} // namespace vx
