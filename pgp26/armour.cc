#include "pgp26/armour.h"

#include <cstdint>
#include <vector>

namespace pgp26 {

namespace {

constexpr std::string_view kBegin = "-----BEGIN PGP ";
constexpr std::string_view kEnd = "-----END PGP ";
constexpr std::string_view kDashes = "-----";

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    const std::size_t last = line.find_last_not_of(" \t\r");
    lines.push_back(last == std::string_view::npos ? std::string_view() : line.substr(0, last + 1));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

// The block name of an armour line ("MESSAGE" of "-----BEGIN PGP MESSAGE-----"), if it is one.
std::optional<std::string_view> BlockName(std::string_view line, std::string_view start) {
  if (!line.starts_with(start) || !line.ends_with(kDashes) ||
      line.size() < start.size() + kDashes.size())
    return std::nullopt;
  return line.substr(start.size(), line.size() - start.size() - kDashes.size());
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The bytes of Base64 text with padding at its end only; nothing when it is not such text.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at < text.size(); at += 4) {
    const bool last = at + 4 == text.size();
    const std::size_t padding = !last ? 0 : text[at + 3] != '=' ? 0 : text[at + 2] != '=' ? 1 : 2;
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const int value = i < 4 - padding ? Base64Value(text[at + i]) : 0;
      if (value < 0) return std::nullopt;
      group = group << 6 | static_cast<std::uint32_t>(value);
    }
    for (std::size_t i = 0; i < 3 - padding; ++i)
      bytes.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * i)));
  }
  return bytes;
}

// The armour checksum of OpenPGP (RFC 4880, 6.1).
std::uint32_t Crc24(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xB704CE;
  for (const std::uint8_t byte : bytes) {
    crc ^= static_cast<std::uint32_t>(byte) << 16;
    for (int bit = 0; bit < 8; ++bit) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= 0x1864CFB;
    }
  }
  return crc & 0xFFFFFF;
}

// Checks the block whose begin line is lines[begin]; sets `next` to the line after its end, and
// `data`, when given, to the block's data.
std::optional<std::string> BlockProblem(const std::vector<std::string_view>& lines,
                                        std::size_t begin, std::string_view name, std::size_t& next,
                                        std::vector<std::uint8_t>* data_out = nullptr) {
  std::size_t i = begin + 1;
  for (; i < lines.size() && !lines[i].empty(); ++i)
    if (lines[i].find(": ") == std::string_view::npos)
      return "it has no blank line after its header lines";
  if (i == lines.size()) return "it ends before its data";
  std::string base64;
  std::optional<std::string_view> checksum;
  for (++i; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.starts_with(kEnd)) break;
    if (checksum) return "text follows its checksum line";
    if (line.starts_with("=")) {
      checksum = line.substr(1);
      continue;
    }
    base64 += line;
  }
  if (i == lines.size()) return "it has no end line";
  next = i + 1;
  if (BlockName(lines[i], kEnd) != name) return "its end line does not match its begin line";
  const std::optional<std::vector<std::uint8_t>> data = Base64Decode(base64);
  if (!data) return "its data is not whole Base64 text";
  if (data_out) *data_out = *data;
  if (!checksum) return std::nullopt;  // the checksum is optional
  const std::optional<std::vector<std::uint8_t>> crc = Base64Decode(*checksum);
  if (!crc || crc->size() != 3) return "its checksum line is malformed";
  const std::uint32_t expected = (*crc)[0] << 16 | (*crc)[1] << 8 | (*crc)[2];
  if (Crc24(*data) != expected) return "its checksum does not match its contents";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ArmourProblem(std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size();) {
    const std::optional<std::string_view> name = BlockName(lines[i], kBegin);
    if (!name || *name == "SIGNED MESSAGE") {
      ++i;
      continue;
    }
    if (std::optional<std::string> problem = BlockProblem(lines, i, *name, i)) return problem;
  }
  return std::nullopt;
}

std::optional<std::string> ArmouredData(std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::optional<std::string_view> name = BlockName(lines[i], kBegin);
    if (!name || *name == "SIGNED MESSAGE") continue;
    std::vector<std::uint8_t> data;
    if (BlockProblem(lines, i, *name, i, &data)) return std::nullopt;
    return std::string(data.begin(), data.end());
  }
  return std::nullopt;
}

}  // namespace pgp26
