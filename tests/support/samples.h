#pragma once
// A request and a reply as the configurator and an instrument exchange them, for tests that need one
// without a link. Tests name what they vary; what they leave unnamed is a plausible instrument's:
//   const ins::Reply r = sampleReply({.input = 0.12345, .range = 1});
#include "instrument/codes.h"
#include "instrument/exchange.h"

#include <array>
#include <vector>

namespace vx::test {

// A reply from firmware of 2014-03-15 measuring 12 mA on the current input (scaled 4..20 mA), its
// current output half-way up 4..20 mA, at 25 °C; status, counts and calibration all zero.
struct SampleReply {
    double input = 12.0;
    std::size_t range = instrument::kCurrentRange;
    std::uint8_t inputType = instrument::kTypeCurrent;
    std::uint8_t outputType = instrument::kTypeCurrent;
    double inputLow = 4, inputHigh = 20;
    double outputLow = 4, outputHigh = 20;
    double outputFraction = 0.5;
    double temperature = 25;
};

inline instrument::Reply sampleReply(const SampleReply& s = {}) {
    instrument::Reply r;
    r.FirmwareYear = 2014;
    r.FirmwareMonth = 3;
    r.FirmwareDay = 15;
    r.InputValue = s.input;
    r.InputRangeIndex = static_cast<std::uint8_t>(s.range);
    r.InputTypeCode = s.inputType;
    r.OutputTypeCode = s.outputType;
    r.DeviceInputLow = s.inputLow;
    r.DeviceInputHigh = s.inputHigh;
    r.DeviceOutputLow = s.outputLow;
    r.DeviceOutputHigh = s.outputHigh;
    r.OutputFraction = s.outputFraction;
    r.Temperature = s.temperature;
    return r;
}

// The configurator's request of 2014-03-15 with the instrument's factory settings (current in and out,
// 4..20 mA) and no command.
struct SampleRequest {
    std::uint8_t inputType = instrument::kTypeCurrent;
    std::uint8_t outputType = instrument::kTypeCurrent;
    double inputLow = 4, inputHigh = 20;
    double outputLow = 4, outputHigh = 20;
    std::uint8_t protocol = 0, parity = 1, baudRate = 2, address = 0;
};

inline instrument::Request sampleRequest(const SampleRequest& s = {}) {
    instrument::Request q;
    q.Year = 2014;
    q.Month = 3;
    q.Day = 15;
    q.InputTypeCode = s.inputType;
    q.OutputTypeCode = s.outputType;
    q.EditInputLow = s.inputLow;
    q.EditInputHigh = s.inputHigh;
    q.EditOutputLow = s.outputLow;
    q.EditOutputHigh = s.outputHigh;
    q.ModbusProtocol = s.protocol;
    q.ModbusParity = s.parity;
    q.ModbusBaudRate = s.baudRate;
    q.ModbusAddress = s.address;
    return q;
}

// The request as the link frames it for the traffic record: slave 1, the exchange's header, the
// request's bytes and the two bytes of the check as given.
inline std::vector<std::uint8_t> requestFrame(const instrument::Request& q,
                                              std::array<std::uint8_t, 2> check = {}) {
    std::vector<std::uint8_t> frame = {0x01, 0x00, 0x01};
    const auto data = instrument::encodeRequest(q);
    frame.insert(frame.end(), data.begin(), data.end());
    frame.insert(frame.end(), check.begin(), check.end());
    return frame;
}

} // namespace vx::test
