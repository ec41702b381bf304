#include "instrument/codes.h"

#include "common/pictureformat.h"

namespace vx::instrument {

const std::array<InputRange, kInputRangeCount> kInputRanges{{
    {"-200 mV ... +200 mV", "IN+: terminal 9 (Uin1)", "0,2 V", 0.2, 0.2, 1000, "##0.00", "mV"},
    {"-500 mV ... +500 mV", "IN+: terminal 9 (Uin1)", "0,5 V", 0.5, 0.5, 1000, "##0.00", "mV"},
    {"-2.5 V ... +2.5 V", "IN+: terminal 9 (Uin1)", "2,5 V", 2.5, 2.5, 1, "0.0000", "V"},
    {"-10 V ... +10 V", "IN+: terminal 10 (Uin2)", "10 V", 10.0, 10.0, 1, "#0.000", "V"},
    {"-50 V ... +50 V", "IN+: terminal 10 (Uin2)", "50 V", 50.0, 50.0, 1, "#0.000", "V"},
    {"-125 V ... +125 V", "IN+: terminal 10 (Uin2)", "125 V", 125.0, 125.0, 1, "##0.00", "V"},
    {"-25 mA ... +25 mA", "IN+: terminal 8 (Iin)", "20 mA", 20.0, 25.0, 1, "#0.000", "mA"},
}};

std::uint8_t gainForceCode(int item, bool ch1) {
    const std::uint8_t base =
        item >= 0 && item < static_cast<int>(kGainForceCodes.size()) ? kGainForceCodes[item] : 0;
    return static_cast<std::uint8_t>(base + (ch1 ? kGainForceCh1 : 0));
}

std::uint8_t dividerForceCode(int item) {
    return item >= 0 && item < static_cast<int>(kDividerForceCodes.size()) ? kDividerForceCodes[item] : 0;
}

std::uint8_t rangeForceCode(int item) {
    return item > 0 && item < kRangeForceItems ? static_cast<std::uint8_t>(127 + item) : 0;
}

std::string_view dataSourceText(std::uint8_t code) {
    static constexpr std::array<std::string_view, 5> texts{
        "RAM 1. terület", "RAM 2. terület", "FRAM 1. terület", "FRAM 2. terület", "GYÁRI ALAPADATOK"};
    return code < texts.size() ? texts[code] : "????";
}

const InputRange* inputRange(int index) {
    return index >= 0 && index < static_cast<int>(kInputRanges.size()) ? &kInputRanges[index] : nullptr;
}

std::string_view variantCaption(int variant) {
    if (variant == kVariantAnalog) return "VX2207 V";
    if (variant == kVariantModbus) return "VX2207 M";
    return {};
}

std::string firmwareVersionText(std::uint32_t version) {
    std::string text = "V";
    text += formatPicture(version / 10000, "0000");
    text += '-';
    text += formatPicture((version % 10000) / 100, "00");
    text += '-';
    text += formatPicture(version % 100, "00");
    return text;
}

} // namespace vx::instrument
