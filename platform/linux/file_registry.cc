#include "platform/linux/file_registry.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "base/text.h"
#include "platform/linux/root.h"
#include "platform/linux/unique_fd.h"

namespace quillet {

namespace linux_platform {

namespace {

constexpr std::int32_t kErrorFileNotFound = 2;
constexpr std::int32_t kErrorAccessDenied = 5;
constexpr std::int32_t kErrorBadKey = 1010;
constexpr char kRoot[] = "HKEY_CLASSES_ROOT";
constexpr char kQuoted[] = "@=\"";
constexpr char kStringBytes[] = "@=hex(1):";

std::vector<std::string> Parts(const std::string& key) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : key) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(AsciiLower(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(AsciiLower(part));
  return parts;
}

// Keys compare part by part without regard to case, so a key sorts right before its subkeys.
struct KeyLess {
  bool operator()(const std::string& a, const std::string& b) const { return Parts(a) < Parts(b); }
};

struct Key {
  std::optional<std::string> value;
};
using Keys = std::map<std::string, Key, KeyLess>;

std::string Unescape(const std::string& quoted) {
  std::string out;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
    out += quoted[i];
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A line break cannot stand inside a quoted string, so a value holding one is written as the bytes
// of a string with its terminating zero, as the registry editor exports it.
std::string ValueLine(const std::string& value) {
  if (value.find_first_of("\r\n") == std::string::npos) return kQuoted + Escape(value) + '"';
  constexpr char kDigits[] = "0123456789abcdef";
  std::string line = kStringBytes;
  for (const unsigned char c : value) line += {kDigits[c >> 4], kDigits[c & 15], ','};
  return line + "00";
}

// The string in comma-separated bytes, up to its terminating zero; nothing when a byte is not two
// hexadecimal digits.
std::optional<std::string> StringFromBytes(const std::string& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    unsigned byte = 0;
    const char* first = bytes.data() + at;
    const auto [end, error] = std::from_chars(first, bytes.data() + bytes.size(), byte, 16);
    if (error != std::errc() || end != first + 2 || (at + 2 < bytes.size() && *end != ','))
      return std::nullopt;
    if (byte == 0) break;
    text += static_cast<char>(byte);
  }
  return text;
}

Keys Load(const std::string& path) {
  Keys keys;
  std::ifstream in(path, std::ios::binary);
  std::string line, current;
  const std::string section = std::string("[") + kRoot + "\\";
  while (GetLine(in, line)) {
    if (line.starts_with(section) && line.ends_with("]")) {
      current = line.substr(section.size(), line.size() - section.size() - 1);
      keys[current];
    } else if (!current.empty()) {
      if (line.starts_with(kQuoted) && line.ends_with("\"")) {
        keys[current].value = Unescape(line.substr(3, line.size() - 4));
      } else if (line.starts_with(kStringBytes)) {
        if (auto value = StringFromBytes(line.substr(std::size(kStringBytes) - 1)))
          keys[current].value = std::move(value);
      }
    }
  }
  return keys;
}

// A registry file that nobody may write stands for a registry the user may not change, as
// HKEY_CLASSES_ROOT is for a standard user. Its permissions are checked here because the file is
// replaced rather than written in, which the directory's permissions (and for root, nothing)
// would allow.
bool ReadOnly(const std::string& path) {
  using std::filesystem::perms;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return std::filesystem::is_regular_file(status) &&
         (status.permissions() & (perms::owner_write | perms::group_write | perms::others_write)) ==
             perms::none;
}

std::int32_t Save(const std::string& path, const Keys& keys) {
  if (ReadOnly(path)) return kErrorAccessDenied;
  std::ostringstream out;
  out << "REGEDIT4\r\n";
  for (const auto& [name, key] : keys) {
    out << "\r\n[" << kRoot << '\\' << name << "]\r\n";
    if (key.value) out << ValueLine(*key.value) << "\r\n";
  }
  const std::string temp = path + ".new";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file.flush()) return kErrorAccessDenied;
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);
  return error ? kErrorAccessDenied : 0;
}

// The lock a change holds from reading the file to replacing it, so that changes made at once by
// several processes take turns and none is lost; nothing when it cannot be had. Readers need
// none: the file is replaced whole by a rename. The lock is on a file of its own beside the
// registry's, which the rename does not replace.
UniqueFd LockForChange(const std::string& path) {
  UniqueFd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  int result = -1;
  while (lock && (result = flock(lock.get(), LOCK_EX)) != 0 && errno == EINTR) {
  }
  return result == 0 ? std::move(lock) : UniqueFd();
}

}  // namespace

std::int32_t FileRegistry::SetValue(const std::string& key, const std::string& value) {
  const std::vector<std::string> parts = Parts(key);
  if (parts.empty()) return kErrorAccessDenied;
  // A key's name stands on a line of its own, where nothing can be escaped.
  if (key.find_first_of("\r\n") != std::string::npos) return kErrorBadKey;
  const UniqueFd lock = LockForChange(path_);
  if (!lock) return kErrorAccessDenied;
  Keys keys = Load(path_);
  // Parents come into being with their child, keeping the spelling they are given here unless
  // they already exist.
  std::string prefix;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= key.size(); ++i) {
    if (i == key.size() || key[i] == '\\') {
      if (i > start) {
        prefix += (prefix.empty() ? "" : "\\") + key.substr(start, i - start);
        auto found = keys.find(prefix);
        if (found == keys.end()) {
          keys[prefix];
        } else {
          prefix = found->first;
        }
      }
      start = i + 1;
    }
  }
  keys[prefix].value = value;
  return Save(path_, keys);
}

std::int32_t FileRegistry::DeleteKey(const std::string& key) {
  const UniqueFd lock = LockForChange(path_);
  if (!lock) return kErrorAccessDenied;
  Keys keys = Load(path_);
  auto found = keys.find(key);
  if (found == keys.end()) return kErrorFileNotFound;
  auto next = std::next(found);
  const std::vector<std::string> parts = Parts(key);
  if (next != keys.end()) {
    const std::vector<std::string> next_parts = Parts(next->first);
    if (next_parts.size() > parts.size() &&
        std::equal(parts.begin(), parts.end(), next_parts.begin()))
      return kErrorAccessDenied;  // subkeys must go first, as on Windows NT
  }
  keys.erase(found);
  return Save(path_, keys);
}

std::optional<std::string> FileRegistry::QueryValue(const std::string& key) {
  Keys keys = Load(path_);
  auto found = keys.find(key);
  if (found == keys.end()) return std::nullopt;
  return found->second.value;
}

}  // namespace linux_platform

Registry& Registry::Default() {
  static linux_platform::FileRegistry registry(linux_platform::Root() + "/registry.reg");
  return registry;
}

}  // namespace quillet
