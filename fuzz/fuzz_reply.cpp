// The window's reply rules over arbitrary 93-byte payloads: every display text, the settings editor
// filled from the reply and the request built from that editor. No text explodes, and the request
// never carries an infinity or a value the editor does not show.
#include "app/Exchange.h"
#include "common/pictureformat.h"
#include "instrument/codes.h"
#include "instrument/exchange.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void checkText(const std::string& s) {
    check(s.size() <= 64);
}

float single(const std::array<std::uint8_t, vx::instrument::kRequestSize>& b, std::size_t at) {
    float f;
    std::memcpy(&f, b.data() + at, 4);
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    namespace app = vx::app;
    namespace ins = vx::instrument;
    vx::setDecimalSeparator((data[0] & 1) ? "," : ".");
    const app::LanguageWords words =
        (data[0] & 2) ? app::LanguageWords{" óra  ", " perc."} : app::LanguageWords{};
    app::ChannelStats ch0, ch1;
    if (data[0] & 4) ch0.clear();
    ++data;
    --size;
    // One reply after another, each 93 bytes (a short last one reads zeros beyond its end).
    for (std::size_t at = 0; at < size || at == 0; at += ins::kReplySize) {
        const std::span<const std::uint8_t> payload(data + at, std::min(size - at, ins::kReplySize));
        const ins::Reply r = ins::decodeReply(payload);
        const app::ReplyView v = app::presentReply(r, ch0, ch1, words);
        for (const std::string* s :
             {&v.firmwareText, &v.ch0.raw,         &v.ch0.filtered,  &v.ch0.min,         &v.ch0.max,
              &v.ch0.delta,    &v.ch1.raw,         &v.ch1.delta,     &v.ram1Source,      &v.gainCh0,
              &v.inputValue,   &v.inputRangeName,  &v.inputTerminal, &v.outputRangeName, &v.outputValue,
              &v.workingTime,  &v.calibrationDate, &v.temperature,   &v.temperatureMin,  &v.temperatureMax,
              &v.samples,      &v.errorNumber,     &v.pwm,           &v.divider,         &v.typeOfInstrument})
            checkText(*s);
        check(std::isfinite(v.ch0.deltaBar) && v.ch0.deltaBar >= 0 && std::isfinite(v.ch1.deltaBar));
        check(v.pwmBar >= 0 && v.pwmBar <= 1);
        check(v.firmwareVersion == ins::firmwareVersion(r.FirmwareYear, r.FirmwareMonth, r.FirmwareDay));
        for (const char* language : {"english", "magyar"})
            for (const std::string& line : app::firmwareMismatchLines(language, v.firmwareVersion))
                check(line.size() <= 80);

        // The editor as the reply fills it, and the request built from it.
        const app::EditorState e = app::editorFromReply(r);
        for (const std::string* s : {&e.inputLow, &e.inputHigh, &e.outputLow, &e.outputHigh})
            checkText(*s);
        check(e.inputType >= -1 && e.inputType <= 1 && e.outputType >= -1 && e.outputType <= 1);
        app::RequestInputs in;
        in.editor = e;
        const auto request = ins::encodeRequest(app::buildRequestFields(in));
        const double stored[4] = {r.DeviceInputLow, r.DeviceInputHigh, r.DeviceOutputLow, r.DeviceOutputHigh};
        for (int k = 0; k < 4; ++k) {
            const float sent = single(request, 77 + 4 * static_cast<std::size_t>(k));
            check(std::isfinite(sent));
            if (k < 2) {
                check(std::fabs(sent) <= app::inputLimit(e.inputType));
            } else if (std::isfinite(stored[k]) && std::fabs(stored[k]) < 1e15) {
                // Shown with three decimals, sent as shown.
                check(std::fabs(sent - stored[k]) <= 0.0005 + std::fabs(stored[k]) * 1e-6);
            }
        }
        if (size == 0) break;
    }
    return 0;
}
