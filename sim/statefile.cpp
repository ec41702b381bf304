#include "sim/statefile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

namespace vx::sim {
namespace {

// One entry per remembered value: its key, how to write it and how to read it back.
struct Field {
    std::string key;
    std::function<std::string(const Memory&)> write;
    std::function<bool(std::string_view, Memory&)> read;
};

template <typename T> bool parseInteger(std::string_view text, T* out) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size()) return false;
    *out = v;
    return true;
}

bool parseReal(std::string_view text, double* out) {
    // from_chars for double is not in every standard library this builds with; strtod reads the
    // "C" locale's format that writeReal produces.
    const std::string s(text);
    if (s.empty() || s.find_first_of(" \t") != std::string::npos) return false;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

std::string writeReal(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

template <typename T> Field integer(std::string key, T Memory::*member) {
    return {std::move(key), [member](const Memory& m) { return std::to_string(m.*member); },
            [member](std::string_view t, Memory& m) { return parseInteger(t, &(m.*member)); }};
}

Field flag(std::string key, bool Memory::*member) {
    return {std::move(key), [member](const Memory& m) { return std::string(m.*member ? "1" : "0"); },
            [member](std::string_view t, Memory& m) {
                if (t != "0" && t != "1") return false;
                m.*member = t == "1";
                return true;
            }};
}

Field real(std::string key, double Memory::*member) {
    return {std::move(key), [member](const Memory& m) { return writeReal(m.*member); },
            [member](std::string_view t, Memory& m) { return parseReal(t, &(m.*member)); }};
}

Field pair(std::string key, std::size_t k, bool high) {
    auto array = [high](auto& m) -> auto& {
        return high ? m.high : m.low;
    };
    return {std::move(key), [array, k](const Memory& m) { return std::to_string(array(m)[k]); },
            [array, k](std::string_view t, Memory& m) { return parseInteger(t, &array(m)[k]); }};
}

const std::vector<Field>& fields() {
    static const std::vector<Field> all = [] {
        std::vector<Field> f{
            integer("input_type", &Memory::inputType),
            integer("output_type", &Memory::outputType),
            real("input_low", &Memory::inputLow),
            real("input_high", &Memory::inputHigh),
            real("output_low", &Memory::outputLow),
            real("output_high", &Memory::outputHigh),
            integer("modbus_protocol", &Memory::modbusProtocol),
            integer("modbus_parity", &Memory::modbusParity),
            integer("modbus_baud_rate", &Memory::modbusBaudRate),
            integer("modbus_address", &Memory::modbusAddress),
            flag("input_calibrated", &Memory::inputCalibrated),
            flag("output_calibrated", &Memory::outputCalibrated),
            integer("out_4ma", &Memory::out4mA),
            integer("out_20ma", &Memory::out20mA),
            integer("out_2v", &Memory::out2V),
            integer("out_10v", &Memory::out10V),
            integer("calibration_year", &Memory::calibrationYear),
            integer("calibration_month", &Memory::calibrationMonth),
            integer("calibration_day", &Memory::calibrationDay),
            flag("temperature_recorded", &Memory::temperatureRecorded),
            real("temperature_min", &Memory::temperatureMin),
            real("temperature_max", &Memory::temperatureMax),
            integer("working_ms", &Memory::workingMs),
            flag("written", &Memory::written),
        };
        for (std::size_t k = 0; k < instrument::kCalibrationPairs; ++k) {
            f.push_back(pair("low" + std::to_string(k + 1), k, false));
            f.push_back(pair("high" + std::to_string(k + 1), k, true));
        }
        return f;
    }();
    return all;
}

} // namespace

std::string serializeMemory(const Memory& memory) {
    std::string out = "# vx2207-sim instrument memory\n";
    for (const Field& f : fields())
        out += f.key + "=" + f.write(memory) + "\n";
    return out;
}

bool parseMemory(std::string_view text, Memory* out) {
    Memory m = *out;
    std::map<std::string, bool, std::less<>> seen;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return false;
        const std::string_view key = line.substr(0, eq);
        const Field* field = nullptr;
        for (const Field& f : fields())
            if (f.key == key) field = &f;
        if (!field || seen.count(key) || !field->read(line.substr(eq + 1), m)) return false;
        seen.emplace(key, true);
    }
    if (seen.size() != fields().size()) return false;
    *out = m;
    return true;
}

LoadResult loadMemory(const std::string& path, Memory* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return LoadResult::Missing;
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) return LoadResult::Broken;
    return parseMemory(text.str(), out) ? LoadResult::Loaded : LoadResult::Broken;
}

bool writeFileAtomically(const std::string& path, std::string_view text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f << text;
        f.flush();
        if (!f) {
            f.close();
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool saveMemory(const std::string& path, const Memory& memory) {
    return writeFileAtomically(path, serializeMemory(memory));
}

} // namespace vx::sim
