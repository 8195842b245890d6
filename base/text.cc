#include "base/text.h"

#include "base/error.h"

namespace quillet {

namespace {
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = Lower(c);
  return lower;
}

std::optional<std::u32string> DecodeUtf8(std::string_view text) {
  std::u32string characters;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    // The number of continuation bytes that follow the first.
    const std::size_t more = lead < 0x80                   ? 0
                             : lead >= 0xC0 && lead < 0xE0 ? 1
                             : lead >= 0xE0 && lead < 0xF0 ? 2
                             : lead >= 0xF0 && lead < 0xF8 ? 3
                                                           : 4;
    if (more == 4 || text.size() - i <= more) return std::nullopt;
    char32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    // A character written longer than it needs is none: the least that needs each length.
    constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    characters += c;
    i += more + 1;
  }
  return characters;
}

std::string_view WithoutCr(std::string_view line) {
  return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

std::istream& GetLine(std::istream& in, std::string& line) {
  if (std::getline(in, line) && line.ends_with('\r')) line.pop_back();
  return in;
}

std::vector<std::string> Lines(std::istream& in) {
  std::vector<std::string> lines;
  for (std::string line; GetLine(in, line);) lines.push_back(line);
  return lines;
}

int ParseInteger(const std::string& text) {
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) throw Error("'" + text + "' is not a valid integer value");
  return value;
}

std::string ExpandVariables(
    std::string_view text,
    const std::function<std::optional<std::string>(const std::string&)>& lookup) {
  std::string expanded;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('%', at);
    const std::size_t close =
        open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    expanded += text.substr(at, open - at);
    const std::optional<std::string> value =
        lookup(std::string(text.substr(open + 1, close - open - 1)));
    expanded += value ? *value : text.substr(open, close - open + 1);
    at = close + 1;
  }
  expanded += text.substr(at);
  return expanded;
}

}  // namespace quillet
