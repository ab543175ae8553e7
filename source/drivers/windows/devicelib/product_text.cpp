#include "devicelib/product_text.h"

#include <cstdio>

namespace kav::devicelib {

namespace {

constexpr std::uint32_t kMaxSerialSequence = 9'999'999;  // seven digits

bool IsLetter(std::uint8_t value) {
    return value >= 'A' && value <= 'Z';
}

// The record's checks, field by field; bytes 9, 10 and 17-19 are not printed and not
// checked.
bool FieldsValid(std::span<const std::uint8_t, protocol::kSerialNumberSize> s, std::uint32_t sequence) {
    const bool letters = IsLetter(s[0]) && IsLetter(s[2]) && IsLetter(s[4]) && IsLetter(s[5]) && IsLetter(s[7]);
    const bool twoDigits = s[1] <= 99 && s[3] <= 99 && s[8] <= 99 && s[11] <= 99 && s[12] <= 99;
    return letters && twoDigits && s[6] <= 9 && sequence <= kMaxSerialSequence;
}

}  // namespace

std::string FirmwareVersionText(std::span<const std::uint8_t, protocol::kProductVersionSize> v) {
    char text[kVersionTextChars] = {};
    const int n = std::snprintf(text, sizeof text, "%d.%.2d.%.2d%.2d", v[1], v[0], v[3], v[2]);
    return n > 0 ? std::string(text) : std::string();
}

std::optional<std::string> ProductSerialNumberText(std::span<const std::uint8_t, protocol::kSerialNumberSize> s,
                                                   SerialNumberForm form) {
    const std::uint32_t sequence = static_cast<std::uint32_t>(s[13]) | static_cast<std::uint32_t>(s[14]) << 8 |
                                   static_cast<std::uint32_t>(s[15]) << 16 | static_cast<std::uint32_t>(s[16]) << 24;
    if (!FieldsValid(s, sequence)) return std::nullopt;
    const std::size_t slot = form == SerialNumberForm::Full ? 0 : 1;
    char text[kSerialTextChars[0]] = {};
    const int n =
        form == SerialNumberForm::Full
            ? std::snprintf(text, kSerialTextChars[slot], "%s-%c%.2d%c%.2d%c-%c%.1d%c-%.2d-%.2d%.2d-%.7d", "TARNEVO",
                            s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[11], s[12],
                            static_cast<int>(sequence))
            : std::snprintf(text, kSerialTextChars[slot], "%c%.2d%c%.2d%c-%c%.1d%c-%.2d-%.2d%.2d-%.7d", s[0], s[1],
                            s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[11], s[12], static_cast<int>(sequence));
    if (n != static_cast<int>(kSerialTextLength[slot])) return std::nullopt;
    return std::string(text);
}

}  // namespace kav::devicelib
