// Text helpers for 8-bit ANSI strings.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// Compares without regard to the case of ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

// The text with the ASCII letters in lower case; other bytes, letters of the ANSI code page or
// of UTF-8 among them, stay as they are, whatever the locale.
std::string AsciiLower(std::string_view text);

// The characters of UTF-8 text, or nothing when the bytes are not UTF-8 (a byte that begins no
// character, a character cut short or written long, a surrogate, or beyond U+10FFFF): text in a
// single-byte code page, whose letters beyond ASCII are single bytes, is hardly ever UTF-8 as well.
std::optional<std::u32string> DecodeUtf8(std::string_view text);

// The line without the CR of a CR LF line end, for text that may have either line end.
std::string_view WithoutCr(std::string_view line);
// std::getline, with the line's CR taken off as WithoutCr does.
std::istream& GetLine(std::istream& in, std::string& line);
// The lines of a text without their line ends.
std::vector<std::string> Lines(std::istream& in);

// A decimal integer as the whole text; raises Error "'TEXT' is not a valid integer value".
int ParseInteger(const std::string& text);

// The text with each %NAME% replaced by the value `lookup` gives for NAME, as Windows expands
// environment strings: a name without a value stays with both its %, and a % without a partner
// stays as it is.
std::string ExpandVariables(
    std::string_view text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup);

}  // namespace quillet
