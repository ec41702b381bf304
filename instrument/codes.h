#pragma once
// Coded values of the exchange and the instrument's fixed tables, shared by the configurator and the
// simulator.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx::instrument {

// CommandFlags (request) and AcknowledgeFlags (reply) share these bits.
inline constexpr std::uint8_t kCmdStoreInputCalibration = 0x80;
inline constexpr std::uint8_t kCmdStoreOutputCalibration = 0x40;
inline constexpr std::uint8_t kCmdStoreSettings = 0x20;
inline constexpr std::uint8_t kCmdRestart = 0x10;
inline constexpr std::uint8_t kCmdClearFramRestart = 0x08;
inline constexpr std::uint8_t kCmdClearTemperatureMinMax = 0x02;
inline constexpr std::uint8_t kCommandMask = 0xFA; // bits 0 and 2 carry no command

// StatusFlags bits (bits 0 and 1 are unused).
inline constexpr std::uint8_t kStatusInputUncalibrated = 0x80;
inline constexpr std::uint8_t kStatusFramError = 0x40;
inline constexpr std::uint8_t kStatusOutputUncalibrated = 0x20;
inline constexpr std::uint8_t kStatusOutputRangeError = 0x10;
inline constexpr std::uint8_t kStatusInputRangeError = 0x08;
inline constexpr std::uint8_t kStatusConverterError = 0x04;

// Forcing codes of the test page. Bit 7 switches forcing on in all three.
inline constexpr std::uint8_t kForceOn = 0x80;
// GainForceCode: bits 0..5 a one-hot gain (1..32), bit 6 channel CH1.
inline constexpr std::uint8_t kGainForceCh1 = 0x40;
inline constexpr std::uint8_t kGainForceGainMask = 0x3F;
inline constexpr std::array<std::uint8_t, 7> kGainForceCodes{0, 129, 130, 132, 136, 144, 160};
// DividerForceCode: bits 0..1 the divider level 0..2.
inline constexpr std::array<std::uint8_t, 4> kDividerForceCodes{0, 128, 129, 130};
// RangeForceCode: bits 0..2 the input range 0..6.
inline constexpr int kRangeForceItems = 8;

// Codes from the radio items; an item outside its list gives "Force Off".
std::uint8_t gainForceCode(int item, bool ch1);
std::uint8_t dividerForceCode(int item);
std::uint8_t rangeForceCode(int item);

// Type codes (input and output, request and reply).
inline constexpr std::uint8_t kTypeCurrent = 100;
inline constexpr std::uint8_t kTypeVoltage = 101;

// Where the instrument loaded a memory area from; any other code reads "????".
inline constexpr std::uint8_t kSourceRam1 = 0;
inline constexpr std::uint8_t kSourceRam2 = 1;
inline constexpr std::uint8_t kSourceFram1 = 2;
inline constexpr std::uint8_t kSourceFram2 = 3;
inline constexpr std::uint8_t kSourceFactory = 4;
std::string_view dataSourceText(std::uint8_t code);

// Input ranges by InputRangeIndex, in volts (milliamperes for the current range). The High constant
// of a range's calibration pair is taken with referenceValue applied; limit is the range's end.
// multiplier, pattern and displayUnit show InputValue.
struct InputRange {
    std::string_view name;
    std::string_view terminal;
    std::string_view reference; // the calibration signal as the operator is told it
    double referenceValue;
    double limit;
    double multiplier;
    std::string_view pattern;
    std::string_view displayUnit;
};
inline constexpr std::size_t kInputRangeCount = 7;
// Converter counts of a range's calibration reference above its offset, nominally: every range's
// reference is scaled to the same share (about 60 %) of the converter's full scale.
inline constexpr std::int32_t kNominalCalibrationSpan = 5'000'000;
inline constexpr std::int32_t kConverterFullScale = 8'388'607;
inline constexpr std::size_t kCurrentRange = 6;
extern const std::array<InputRange, kInputRangeCount> kInputRanges;
// nullptr for an index without a range.
const InputRange* inputRange(int index);

// The instrument's own MODBUS output; the item index is the code.
inline constexpr std::array<std::string_view, 2> kModbusProtocols{"RTU", "ASCII"};
inline constexpr std::array<std::string_view, 3> kModbusParities{"Nincs (None)", "Páros (Even)",
                                                                 "Páratlan (Odd)"};
inline constexpr std::array<std::string_view, 6> kModbusBaudRates{
    "2400 bit/sec.", "4800 bit/sec.", "9600 bit/sec.", "14400 bit/sec.", "19200 bit/sec.", "38400 bit/sec."};
inline constexpr int kModbusAddressCount = 248; // 0..247

// iTypeOfInstrument.
inline constexpr std::uint8_t kVariantAnalog = 0;
inline constexpr std::uint8_t kVariantModbus = 1;
// "VX2207 V", "VX2207 M", or empty for an unknown variant.
std::string_view variantCaption(int variant);

// Firmware versions are dates, year * 10000 + month * 100 + day; this window is supported.
inline constexpr std::uint32_t kFirmwareMin = 20131128;
inline constexpr std::uint32_t kFirmwareMax = 20150227;
constexpr std::uint32_t firmwareVersion(std::uint16_t year, std::uint8_t month, std::uint8_t day) {
    return std::uint32_t{year} * 10000 + std::uint32_t{month} * 100 + day;
}
constexpr bool isFirmwareSupported(std::uint32_t version) {
    return version >= kFirmwareMin && version <= kFirmwareMax;
}
// "V2013-11-28" for 20131128.
std::string firmwareVersionText(std::uint32_t version);

} // namespace vx::instrument
