// Text helpers for 8-bit ANSI strings.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

// Compares without regard to the case of ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// A decimal integer as the whole text; raises Error "'TEXT' is not a valid integer value".
int ParseInteger(const std::string& text);

}  // namespace quillet
