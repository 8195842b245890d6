// Text helpers for 8-bit ANSI strings.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

// Compares without regard to the case of ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

}  // namespace quillet
