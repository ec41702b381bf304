#include "instrument/exchange.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

namespace vx::instrument {
namespace {

// The field order of both payloads exists only here; every direction walks these two lists.
// A visitor gets each field's name and the field in payload order; a double field travels as a single.
constexpr const char* kLowNames[kCalibrationPairs] = {"Low1", "Low2", "Low3", "Low4", "Low5", "Low6", "Low7"};
constexpr const char* kHighNames[kCalibrationPairs] = {"High1", "High2", "High3", "High4",
                                                       "High5", "High6", "High7"};

template <typename R, typename V> constexpr void visitRequest(R& r, V& v) {
    v("uPWMForce", r.uPWMForce);
    v("CommandFlags", r.CommandFlags);
    for (std::size_t k = 0; k < 2; ++k) {
        v(kLowNames[k], r.Low[k]);
        v(kHighNames[k], r.High[k]);
    }
    v("uOut4mA", r.uOut4mA);
    v("uOut20mA", r.uOut20mA);
    v("uOut2V", r.uOut2V);
    v("uOut10V", r.uOut10V);
    v("Year", r.Year);
    v("Month", r.Month);
    v("Day", r.Day);
    v("DirectControl", r.DirectControl);
    v("OutputCheckPercent", r.OutputCheckPercent);
    v("GainForceCode", r.GainForceCode);
    v("DividerForceCode", r.DividerForceCode);
    for (std::size_t k = 2; k < kCalibrationPairs; ++k) {
        v(kLowNames[k], r.Low[k]);
        v(kHighNames[k], r.High[k]);
    }
    v("InputTypeCode", r.InputTypeCode);
    v("OutputTypeCode", r.OutputTypeCode);
    v("EditInputLow", r.EditInputLow);
    v("EditInputHigh", r.EditInputHigh);
    v("EditOutputLow", r.EditOutputLow);
    v("EditOutputHigh", r.EditOutputHigh);
    v("Reserved", r.Reserved);
    v("RangeForceCode", r.RangeForceCode);
    v("ModbusProtocol", r.ModbusProtocol);
    v("ModbusParity", r.ModbusParity);
    v("ModbusBaudRate", r.ModbusBaudRate);
    v("ModbusAddress", r.ModbusAddress);
}

template <typename R, typename V> constexpr void visitReply(R& r, V& v) {
    v("FirmwareYear", r.FirmwareYear);
    v("FirmwareMonth", r.FirmwareMonth);
    v("FirmwareDay", r.FirmwareDay);
    v("AdRaw0", r.AdRaw0);
    v("AdRaw1", r.AdRaw1);
    v("AdFiltered0", r.AdFiltered0);
    v("AdFiltered1", r.AdFiltered1);
    v("DataSourceRam1", r.DataSourceRam1);
    v("DataSourceRam2", r.DataSourceRam2);
    v("ReservedByte", r.ReservedByte);
    v("AcknowledgeFlags", r.AcknowledgeFlags);
    v("GainCh0", r.GainCh0);
    v("GainCh1", r.GainCh1);
    v("StatusFlags", r.StatusFlags);
    v("InputValue", r.InputValue);
    v("InputRangeIndex", r.InputRangeIndex);
    v("InputTypeCode", r.InputTypeCode);
    v("OutputTypeCode", r.OutputTypeCode);
    v("OutputFraction", r.OutputFraction);
    v("WorkingMinutes", r.WorkingMinutes);
    v("CalibrationYear", r.CalibrationYear);
    v("CalibrationMonth", r.CalibrationMonth);
    v("CalibrationDay", r.CalibrationDay);
    v("Temperature", r.Temperature);
    v("TemperatureMin", r.TemperatureMin);
    v("TemperatureMax", r.TemperatureMax);
    v("uADSamples", r.uADSamples);
    v("ErrorNumber", r.ErrorNumber);
    v("PwmValue", r.PwmValue);
    v("uDivider", r.uDivider);
    v("DeviceInputLow", r.DeviceInputLow);
    v("DeviceInputHigh", r.DeviceInputHigh);
    v("DeviceOutputLow", r.DeviceOutputLow);
    v("DeviceOutputHigh", r.DeviceOutputHigh);
    v("ScaleFraction", r.ScaleFraction);
    v("ReservedSingle", r.ReservedSingle);
    v("iTypeOfInstrument", r.iTypeOfInstrument);
    v("ModbusProtocol", r.ModbusProtocol);
    v("ModbusParity", r.ModbusParity);
    v("ModbusBaudRate", r.ModbusBaudRate);
    v("ModbusAddress", r.ModbusAddress);
}

template <typename T> constexpr std::size_t wireWidth() {
    if constexpr (std::is_same_v<T, double>)
        return 4;
    else
        return sizeof(T);
}

struct Sizer {
    std::size_t size = 0;
    template <typename T> constexpr void operator()(const char*, const T&) { size += wireWidth<T>(); }
};

static_assert([] {
    Request r{};
    Sizer s;
    visitRequest(r, s);
    return s.size;
}() == kRequestSize);
static_assert([] {
    Reply r{};
    Sizer s;
    visitReply(r, s);
    return s.size;
}() == kReplySize);

template <std::size_t N> struct Writer {
    std::array<std::uint8_t, N>& out;
    std::size_t at = 0;

    void put(std::uint32_t bits, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i)
            out[at++] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    template <typename T> void operator()(const char*, const T& field) {
        if constexpr (std::is_same_v<T, double>)
            put(std::bit_cast<std::uint32_t>(narrowToSingle(field)), 4);
        else
            put(static_cast<std::uint32_t>(std::make_unsigned_t<T>(field)), sizeof(T));
    }
};

struct Reader {
    std::span<const std::uint8_t> in;
    std::size_t at = 0;

    template <typename T> void operator()(const char*, T& field) {
        constexpr std::size_t width = wireWidth<T>();
        std::uint32_t bits = 0;
        if (at + width <= in.size()) {
            for (std::size_t i = 0; i < width; ++i)
                bits |= std::uint32_t{in[at + i]} << (8 * i);
        }
        at += width;
        if constexpr (std::is_same_v<T, double>)
            field = std::bit_cast<float>(bits);
        else
            field = static_cast<T>(bits);
    }
};

struct Namer {
    std::vector<NamedField>& out;

    template <typename T> void operator()(const char* name, const T& field) {
        char buf[32];
        std::to_chars_result r;
        // A real is shown as the single it travels as, in its shortest exact form, with a full stop.
        if constexpr (std::is_same_v<T, double>)
            r = std::to_chars(buf, buf + sizeof buf, narrowToSingle(field));
        else
            r = std::to_chars(buf, buf + sizeof buf, +field);
        out.push_back({name, std::string(buf, r.ptr)});
    }
};

} // namespace

std::vector<NamedField> requestFields(const Request& request) {
    std::vector<NamedField> out;
    Namer n{out};
    visitRequest(request, n);
    return out;
}

std::vector<NamedField> replyFields(const Reply& reply) {
    std::vector<NamedField> out;
    Namer n{out};
    visitReply(reply, n);
    return out;
}

float narrowToSingle(double v) {
    if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < std::numeric_limits<float>::lowest()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

std::array<std::uint8_t, kRequestSize> encodeRequest(const Request& request) {
    std::array<std::uint8_t, kRequestSize> out{};
    Writer<kRequestSize> w{out};
    visitRequest(request, w);
    return out;
}

std::array<std::uint8_t, kReplySize> encodeReply(const Reply& reply) {
    std::array<std::uint8_t, kReplySize> out{};
    Writer<kReplySize> w{out};
    visitReply(reply, w);
    return out;
}

Request decodeRequest(std::span<const std::uint8_t> bytes) {
    Request r;
    Reader rd{bytes};
    visitRequest(r, rd);
    return r;
}

Reply decodeReply(std::span<const std::uint8_t> bytes) {
    Reply r;
    Reader rd{bytes};
    visitReply(r, rd);
    return r;
}

} // namespace vx::instrument
