// Port: the system registry under HKEY_CLASSES_ROOT (RegSetValueA, RegDeleteKeyA, RegQueryValueA).
// Key paths use "\" between their parts on every platform, as the registry does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillet {

class Registry {
 public:
  virtual ~Registry() = default;
  static Registry& Default();

  // Sets the default (unnamed) string value of a key, creating the key and its parents as needed.
  // Returns 0 or the system's error code.
  virtual std::int32_t SetValue(const std::string& key, const std::string& value) = 0;
  // Deletes a key that has no subkeys. Returns 0 or the system's error code (2 when it is missing).
  virtual std::int32_t DeleteKey(const std::string& key) = 0;
  // The default value of a key, when the key exists and has one.
  virtual std::optional<std::string> QueryValue(const std::string& key) = 0;
};

}  // namespace quillet
