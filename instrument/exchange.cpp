#include "instrument/exchange.h"

#include <bit>
#include <cmath>
#include <limits>
#include <type_traits>

namespace vx::instrument {
namespace {

// The field order of both payloads exists only here; every direction walks these two lists.
// A visitor gets each field in payload order; a double field travels as a single.
template <typename R, typename V> constexpr void visitRequest(R& r, V& v) {
    v(r.uPWMForce);
    v(r.CommandFlags);
    for (std::size_t k = 0; k < 2; ++k) {
        v(r.Low[k]);
        v(r.High[k]);
    }
    v(r.uOut4mA);
    v(r.uOut20mA);
    v(r.uOut2V);
    v(r.uOut10V);
    v(r.Year);
    v(r.Month);
    v(r.Day);
    v(r.DirectControl);
    v(r.OutputCheckPercent);
    v(r.GainForceCode);
    v(r.DividerForceCode);
    for (std::size_t k = 2; k < kCalibrationPairs; ++k) {
        v(r.Low[k]);
        v(r.High[k]);
    }
    v(r.InputTypeCode);
    v(r.OutputTypeCode);
    v(r.EditInputLow);
    v(r.EditInputHigh);
    v(r.EditOutputLow);
    v(r.EditOutputHigh);
    v(r.Reserved);
    v(r.RangeForceCode);
    v(r.ModbusProtocol);
    v(r.ModbusParity);
    v(r.ModbusBaudRate);
    v(r.ModbusAddress);
}

template <typename R, typename V> constexpr void visitReply(R& r, V& v) {
    v(r.FirmwareYear);
    v(r.FirmwareMonth);
    v(r.FirmwareDay);
    v(r.AdRaw0);
    v(r.AdRaw1);
    v(r.AdFiltered0);
    v(r.AdFiltered1);
    v(r.DataSourceRam1);
    v(r.DataSourceRam2);
    v(r.ReservedByte);
    v(r.AcknowledgeFlags);
    v(r.GainCh0);
    v(r.GainCh1);
    v(r.StatusFlags);
    v(r.InputValue);
    v(r.InputRangeIndex);
    v(r.InputTypeCode);
    v(r.OutputTypeCode);
    v(r.OutputFraction);
    v(r.WorkingMinutes);
    v(r.CalibrationYear);
    v(r.CalibrationMonth);
    v(r.CalibrationDay);
    v(r.Temperature);
    v(r.TemperatureMin);
    v(r.TemperatureMax);
    v(r.uADSamples);
    v(r.ErrorNumber);
    v(r.PwmValue);
    v(r.uDivider);
    v(r.DeviceInputLow);
    v(r.DeviceInputHigh);
    v(r.DeviceOutputLow);
    v(r.DeviceOutputHigh);
    v(r.ScaleFraction);
    v(r.ReservedSingle);
    v(r.iTypeOfInstrument);
    v(r.ModbusProtocol);
    v(r.ModbusParity);
    v(r.ModbusBaudRate);
    v(r.ModbusAddress);
}

template <typename T> constexpr std::size_t wireWidth() {
    if constexpr (std::is_same_v<T, double>)
        return 4;
    else
        return sizeof(T);
}

struct Sizer {
    std::size_t size = 0;
    template <typename T> constexpr void operator()(const T&) { size += wireWidth<T>(); }
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
    template <typename T> void operator()(const T& field) {
        if constexpr (std::is_same_v<T, double>)
            put(std::bit_cast<std::uint32_t>(narrowToSingle(field)), 4);
        else
            put(static_cast<std::uint32_t>(std::make_unsigned_t<T>(field)), sizeof(T));
    }
};

struct Reader {
    std::span<const std::uint8_t> in;
    std::size_t at = 0;

    template <typename T> void operator()(T& field) {
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

} // namespace

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
