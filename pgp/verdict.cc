#include "pgp/verdict.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace quillet::pgp {

namespace {

// Far beyond any real record, small enough that a hostile file costs nothing to refuse.
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxSignatures = 64;
constexpr std::size_t kMaxRecord = kMaxLine * kMaxSignatures;

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) { return IsDigit(c) ? c - '0' : c - 'A' + 10; }

bool IsKeyId(std::string_view text) {
  return text.size() == 16 && std::all_of(text.begin(), text.end(), IsUpperHex);
}

// A version 4 (40 digits) or version 5 (64 digits) fingerprint.
bool IsFingerprint(std::string_view text) {
  return (text.size() == 40 || text.size() == 64) &&
         std::all_of(text.begin(), text.end(), IsUpperHex);
}

// "YYYY-MM-DDTHH:MM:SSZ" as "YYYY-MM-DD HH:MM".
std::optional<std::string> Made(std::string_view text) {
  constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i)
    if (kShape[i] == '0' ? !IsDigit(text[i]) : text[i] != kShape[i]) return std::nullopt;
  return std::string(text.substr(0, 10)) + " " + std::string(text.substr(11, 5));
}

// The bytes of a percent-escaped user ID or reason: visible ASCII stands for itself, '%' and two upper-case
// hex digits for any byte.
std::optional<std::string> Unescape(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size() || !IsUpperHex(text[i + 1]) || !IsUpperHex(text[i + 2]))
        return std::nullopt;
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else if (c > ' ' && c < 0x7F) {
      bytes += c;
    } else {
      return std::nullopt;
    }
  }
  return bytes;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t blank; (blank = line.find(' ', start)) != std::string_view::npos;
       start = blank + 1)
    fields.push_back(line.substr(start, blank - start));
  fields.push_back(line.substr(start));
  return fields;
}

std::optional<SignatureVerdict> ParseLine(std::string_view line) {
  const std::vector<std::string_view> fields = Fields(line);
  const std::string_view keyword = fields.front();
  SignatureVerdict verdict;
  if (keyword == "UNKNOWN" || keyword == "BAD") {
    if (fields.size() != 2 || !IsKeyId(fields[1])) return std::nullopt;
    verdict.state = keyword == "BAD" ? SignatureState::kBad : SignatureState::kUnknown;
    verdict.key_id = fields[1];
    return verdict;
  }
  if (keyword == "ERROR") {
    std::optional<std::string> reason =
        fields.size() == 3 && IsKeyId(fields[1]) ? Unescape(fields[2]) : std::nullopt;
    if (!reason) return std::nullopt;
    verdict.state = SignatureState::kError;
    verdict.key_id = fields[1];
    verdict.reason = std::move(*reason);
    return verdict;
  }
  // A good signature names its key's fingerprint and certification before the common fields.
  std::size_t first = 2;
  if (keyword == "GOOD") {
    if (fields.size() != 6 || !IsFingerprint(fields[2]) ||
        (fields[3] != "CERTIFIED" && fields[3] != "UNCERTIFIED"))
      return std::nullopt;
    verdict.state = fields[3] == "CERTIFIED" ? SignatureState::kGood : SignatureState::kUncertified;
    verdict.fingerprint = fields[2];
    first = 4;
  } else if (keyword == "EXPIRED") {
    verdict.state = SignatureState::kExpired;
  } else if (keyword == "REVOKED") {
    verdict.state = SignatureState::kRevoked;
  } else {
    return std::nullopt;
  }
  if (fields.size() != first + 2 || !IsKeyId(fields[1])) return std::nullopt;
  std::optional<std::string> made = Made(fields[first]);
  std::optional<std::string> user_id = Unescape(fields[first + 1]);
  if (!made || !user_id) return std::nullopt;
  verdict.key_id = fields[1];
  verdict.made = std::move(*made);
  verdict.user_id = std::move(*user_id);
  return verdict;
}

}  // namespace

std::optional<SignatureVerdict> ParseSignatureRecord(std::string_view text) {
  if (text.empty() || text.size() > kMaxRecord || text.back() != '\n') return std::nullopt;
  text.remove_suffix(1);
  if (text == "NONE") return SignatureVerdict{};
  std::optional<SignatureVerdict> worst;
  std::size_t count = 0;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (line.size() > kMaxLine || ++count > kMaxSignatures) return std::nullopt;
    std::optional<SignatureVerdict> verdict = ParseLine(line);
    if (!verdict) return std::nullopt;
    if (!worst || verdict->state > worst->state) worst = std::move(verdict);
    start = end + 1;
  }
  return worst;
}

std::optional<SignatureVerdict> TakeSignatureRecord(const std::string& path) {
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // One byte more than a record may have tells an overlong file from a full one.
    text.resize(kMaxRecord + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
  }
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return ParseSignatureRecord(text);
}

}  // namespace quillet::pgp
