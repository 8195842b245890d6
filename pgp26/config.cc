#include "pgp26/config.h"

#include "base/text.h"
#include "pgp26/failure.h"
#include "pgp26/files.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

// The value after a line's "=", without its quotes or a comment; throws what `malformed` makes
// of what is wrong.
template <typename Malformed>
std::string Value(std::string_view rest, const Malformed& malformed) {
  rest = Trimmed(rest);
  if (!rest.starts_with('"')) return std::string(Trimmed(rest.substr(0, rest.find('#'))));
  const std::size_t close = rest.find('"', 1);
  if (close == std::string_view::npos) throw malformed("the quoted value has no closing quote");
  const std::string_view after = Trimmed(rest.substr(close + 1));
  if (!after.empty() && !after.starts_with('#')) throw malformed("text follows the quoted value");
  return std::string(rest.substr(1, close - 1));
}

}  // namespace

Config ParseConfig(std::string_view text, const std::string& name) {
  Config config;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = quillet::WithoutCr(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const auto malformed = [&](const std::string& what) {
      return Failure(kBadArgument, "Error in the configuration file '" + name + "', line " +
                                       std::to_string(number) + ": " + what + ".");
    };
    const std::size_t equals = line.find_first_of("#=");
    if (equals == std::string_view::npos || line[equals] == '#') {
      if (!Trimmed(line.substr(0, equals)).empty())
        throw malformed("there is no '=' after the name");
      continue;
    }
    const std::string option = quillet::AsciiLower(Trimmed(line.substr(0, equals)));
    if (option.empty()) throw malformed("there is no name before '='");
    const std::string value = Value(line.substr(equals + 1), malformed);
    if (option == "myname") {
      config.my_name = value.empty() ? std::nullopt : std::optional<std::string>(value);
    } else if (option == "encrypttoself") {
      const std::string setting = quillet::AsciiLower(value);
      if (setting != "on" && setting != "off")
        throw malformed("EncryptToSelf is neither on nor off");
      config.encrypt_to_self = setting == "on";
    }
  }
  return config;
}

Config ReadConfig(const std::filesystem::path& path) {
  const std::optional<std::string> text = ReadWholeFile(system::PathText(path));
  return text ? ParseConfig(*text, system::PathText(path)) : Config{};
}

}  // namespace pgp26
