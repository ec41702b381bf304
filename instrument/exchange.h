#pragma once
// The one request and the one reply exchanged per poll cycle, as field structs, and their byte
// layout in both directions: the configurator encodes requests and decodes replies, the simulator
// decodes requests and encodes replies, all through the one field list in exchange.cpp.
//
// Wire rules: little-endian; every struct field has its wire width, so a caller narrowing a wider
// value truncates it to the low bits; reals are held as double and travel as IEEE-754 singles
// (narrowed on encoding, widened on decoding); decoding a short buffer gives 0 for every field that
// does not lie wholly inside it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::instrument {

inline constexpr std::size_t kRequestSize = 102;
inline constexpr std::size_t kReplySize = 93;
// The link command that carries the request.
inline constexpr std::uint8_t kExchangeCommand = 1;
// Input calibration pairs: pair k (Low[k-1], High[k-1]) belongs to input range k-1.
inline constexpr std::size_t kCalibrationPairs = 7;

struct Request {
    std::uint16_t uPWMForce = 0; // 0 = output not forced
    std::uint8_t CommandFlags = 0;
    // On the wire pairs 1 and 2 come before the output constants, pairs 3..7 after the forcing codes.
    std::array<std::int32_t, kCalibrationPairs> Low{};  // Low[0] is Low1
    std::array<std::int32_t, kCalibrationPairs> High{}; // High[0] is High1
    std::uint16_t uOut4mA = 0;
    std::uint16_t uOut20mA = 0;
    std::uint16_t uOut2V = 0;
    std::uint16_t uOut10V = 0;
    std::uint16_t Year = 0; // the PC's current date
    std::uint8_t Month = 0;
    std::uint8_t Day = 0;
    std::uint8_t DirectControl = 0; // 255 while the output check runs
    std::uint8_t OutputCheckPercent = 0;
    std::uint8_t GainForceCode = 0;
    std::uint8_t DividerForceCode = 0;
    std::uint8_t InputTypeCode = 0;
    std::uint8_t OutputTypeCode = 0;
    double EditInputLow = 0.0;
    double EditInputHigh = 0.0;
    double EditOutputLow = 0.0;
    double EditOutputHigh = 0.0;
    double Reserved = 0.0;
    std::uint8_t RangeForceCode = 0;
    std::uint8_t ModbusProtocol = 0;
    std::uint8_t ModbusParity = 0;
    std::uint8_t ModbusBaudRate = 0;
    std::uint8_t ModbusAddress = 0;

    bool operator==(const Request&) const = default;
};

struct Reply {
    std::uint16_t FirmwareYear = 0;
    std::uint8_t FirmwareMonth = 0;
    std::uint8_t FirmwareDay = 0;
    std::int32_t AdRaw0 = 0;
    std::int32_t AdRaw1 = 0;
    std::int32_t AdFiltered0 = 0;
    std::int32_t AdFiltered1 = 0;
    std::uint8_t DataSourceRam1 = 0;
    std::uint8_t DataSourceRam2 = 0;
    std::uint8_t ReservedByte = 0;
    std::uint8_t AcknowledgeFlags = 0;
    std::uint8_t GainCh0 = 0;
    std::uint8_t GainCh1 = 0;
    std::uint8_t StatusFlags = 0;
    double InputValue = 0.0; // volts for ranges 0..5, milliamperes for range 6
    std::uint8_t InputRangeIndex = 0;
    std::uint8_t InputTypeCode = 0;
    std::uint8_t OutputTypeCode = 0;
    double OutputFraction = 0.0;
    std::uint32_t WorkingMinutes = 0;
    std::uint16_t CalibrationYear = 0; // 0 = never calibrated
    std::uint8_t CalibrationMonth = 0;
    std::uint8_t CalibrationDay = 0;
    double Temperature = 0.0; // -200 or less = no reading
    double TemperatureMin = 0.0;
    double TemperatureMax = 0.0;
    std::uint16_t uADSamples = 0;
    std::uint8_t ErrorNumber = 0;
    std::uint16_t PwmValue = 0;
    std::uint8_t uDivider = 0;
    double DeviceInputLow = 0.0;
    double DeviceInputHigh = 0.0;
    double DeviceOutputLow = 0.0;
    double DeviceOutputHigh = 0.0;
    double ScaleFraction = 0.0;
    double ReservedSingle = 0.0;
    std::uint8_t iTypeOfInstrument = 0;
    std::uint8_t ModbusProtocol = 0;
    std::uint8_t ModbusParity = 0;
    std::uint8_t ModbusBaudRate = 0;
    std::uint8_t ModbusAddress = 0;

    bool operator==(const Reply&) const = default;
};

std::array<std::uint8_t, kRequestSize> encodeRequest(const Request& request);
std::array<std::uint8_t, kReplySize> encodeReply(const Reply& reply);
// Bytes beyond the layout are ignored; fields beyond the bytes read 0.
Request decodeRequest(std::span<const std::uint8_t> bytes);
Reply decodeReply(std::span<const std::uint8_t> bytes);

// Every field by its name in payload order, its value as text (decimal integers; reals as the single
// they travel as, shortest exact form, full stop). For showing a recorded exchange to an engineer.
struct NamedField {
    std::string_view name; // e.g. "uPWMForce", "Low1"
    std::string value;
    bool operator==(const NamedField&) const = default;
};
std::vector<NamedField> requestFields(const Request& request);
std::vector<NamedField> replyFields(const Reply& reply);

// The single that a real travels as, never undefined: out-of-range magnitudes become infinities.
float narrowToSingle(double v);

} // namespace vx::instrument
