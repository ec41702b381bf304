#pragma once
// --state FILE: the instrument's memory kept between runs as "key=value" lines.
#include "sim/model.h"

#include <string>
#include <string_view>

namespace vx::sim {

std::string serializeMemory(const Memory& memory);
// Reads every key of a serialized memory into *out. False, leaving *out alone, when a line is
// malformed, a key unknown or repeated, a value out of its range, or a key missing.
bool parseMemory(std::string_view text, Memory* out);

enum class LoadResult { Missing, Loaded, Broken };
LoadResult loadMemory(const std::string& path, Memory* out);
// Writes through a temporary file beside path and a rename, so a crash never leaves half a file and a
// reader sees either the old text or the new.
bool writeFileAtomically(const std::string& path, std::string_view text);
bool saveMemory(const std::string& path, const Memory& memory);

} // namespace vx::sim
