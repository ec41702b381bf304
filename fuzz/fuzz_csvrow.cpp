// The CSV row writer over arbitrary measured values and texts: every row is one record, with as many fields
// as the header, that an RFC 4180 reader splits back into exactly the texts and numbers that went in.
#include "app/tools/CsvRecorder.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// An RFC 4180 record without its CRLF; false when it is not one.
bool splitRecord(const std::string& row, std::vector<std::string>* fields) {
    std::string field;
    std::size_t i = 0;
    for (;;) {
        field.clear();
        if (i < row.size() && row[i] == '"') {
            for (++i;; ++i) {
                if (i >= row.size()) return false;
                if (row[i] == '"') {
                    if (i + 1 < row.size() && row[i + 1] == '"') {
                        field += '"';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    field += row[i];
                }
            }
        } else {
            while (i < row.size() && row[i] != ',') {
                if (row[i] == '"' || row[i] == '\r' || row[i] == '\n') return false;
                field += row[i++];
            }
        }
        fields->push_back(field);
        if (i == row.size()) return true;
        if (row[i++] != ',') return false;
    }
}

struct Input {
    const std::uint8_t* p;
    std::size_t n;
    template <typename T> T take() {
        T v{};
        const std::size_t k = n < sizeof v ? n : sizeof v;
        std::memcpy(&v, p, k);
        p += k;
        n -= k;
        return v;
    }
    std::string text() {
        const std::size_t len = n ? take<std::uint8_t>() % 24 : 0;
        const std::size_t k = len < n ? len : n;
        std::string s(reinterpret_cast<const char*>(p), k);
        p += k;
        n -= k;
        return s;
    }
};

void checkNumber(const std::string& field, double value) {
    const auto single = static_cast<float>(value);
    if (!std::isfinite(value) || !std::isfinite(single)) return check(field.empty());
    float back = 0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), back);
    check(r.ec == std::errc() && r.ptr == field.data() + field.size() && back == single);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vx::app::tools;
    Input in{data, size};
    // Times beyond a few thousand years are no clock's; the row still has to be whole.
    const std::int64_t ms = in.take<std::int64_t>() % (std::int64_t{1} << 46);
    Measurement m;
    m.input = in.take<double>();
    m.output = in.take<double>();
    if (in.take<std::uint8_t>() & 1) m.temperature = in.take<double>();
    m.adRaw0 = in.take<std::int32_t>();
    m.adFiltered1 = in.take<std::int32_t>();
    m.inputUnit = in.text();
    m.outputUnit = in.text();
    m.inputRange = in.text();
    m.statusText = in.text();

    static const std::size_t columns = [] {
        const std::string header = csvHeader();
        std::vector<std::string> names;
        check(splitRecord(header.substr(0, header.size() - 2), &names));
        return names.size();
    }();
    const std::string row = csvRow(ms, m);
    check(row.size() >= 2 && row.compare(row.size() - 2, 2, "\r\n") == 0);
    std::vector<std::string> f;
    check(splitRecord(row.substr(0, row.size() - 2), &f));
    check(f.size() == columns);
    checkNumber(f[1], m.input);
    check(f[2] == m.inputUnit);
    checkNumber(f[3], m.output);
    check(f[4] == m.outputUnit && f[5] == m.inputRange && f[6] == m.statusText);
    if (m.temperature)
        checkNumber(f[7], *m.temperature);
    else
        check(f[7].empty());
    check(f[8] == std::to_string(m.adRaw0) && f[11] == std::to_string(m.adFiltered1));
    check(f.back().empty()); // a measured row carries no event
    return 0;
}
