// The settings file reader and writer over arbitrary file contents: reading never fails, a write either
// leaves the file exactly as it was (a file not understood) or puts the value where the next read
// finds it, and keeps every line it did not replace.
#include "common/profilefile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// In memory where the system offers it: a disk makes every run a hundred times slower.
const std::string& filePath() {
    static const std::string path = [] {
        std::error_code ec;
        const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm", ec)
                                              ? "/dev/shm"
                                              : std::filesystem::temp_directory_path(ec);
        std::string p = (dir / ("vx_fuzz_profile_" + std::to_string(::getpid()) + ".ini")).string();
        return p;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string& path = filePath();
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

    static const char* const kKeys[][2] = {
        {"Com", "MBLastUsedPort"}, {"Language", "GsSelectedLanguage"}, {"Date", "Date"}, {"a", "b"}};
    const auto& [section, key] = kKeys[data[0] % 4];
    (void)vx::readProfileString(path, section, key, "default");

    // The values the program writes are plain text without surrounding blanks or quotes.
    const std::string value = "v" + std::to_string(data[0]) + " x";
    const bool understood = text.find('\0') == std::string::npos;
    const bool written = vx::writeProfileString(path, section, key, value);
    check(written == understood);
    const std::string after = slurp(path);
    if (!written) {
        check(after == text);
    } else {
        check(vx::readProfileString(path, section, key, "default") == value);
        // Nothing but the entry (and the section header and line breaks it needs) was added.
        check(after.size() <=
              text.size() + value.size() + std::string(section).size() + std::string(key).size() + 12);
    }
    check(std::remove((path + ".~tmp").c_str()) != 0); // never left behind
    std::remove(path.c_str());
    return 0;
}
