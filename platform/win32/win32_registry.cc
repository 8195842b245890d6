// The registry on Windows: HKEY_CLASSES_ROOT itself.
#include <windows.h>

#include <string>

#include "platform/registry.h"
#include "platform/win32/unique_handle.h"

namespace quillet {

namespace {

using win32::UniqueKey;

class Win32Registry : public Registry {
 public:
  std::int32_t SetValue(const std::string& key, const std::string& value) override {
    // RegSetValueA creates the key and its missing parents; the length is taken from the string.
    return RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                        static_cast<DWORD>(value.size()));
  }

  std::int32_t DeleteKey(const std::string& key) override {
    // Keys with subkeys are refused (ERROR_ACCESS_DENIED), as on every NT system.
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
  }

  // RegQueryValueA answers an empty text for a key without a default value, so the key is opened
  // and its default value read with the Ex form, which tells the two apart.
  std::optional<std::string> QueryValue(const std::string& key) override {
    UniqueKey opened;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) !=
        ERROR_SUCCESS)
      return std::nullopt;
    std::string data;
    for (;;) {
      DWORD type = 0;
      DWORD size = static_cast<DWORD>(data.size());
      const LONG result =
          RegQueryValueExA(opened.get(), nullptr, nullptr, &type,
                           data.empty() ? nullptr : reinterpret_cast<BYTE*>(data.data()), &size);
      if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && data.size() < size)) {
        data.resize(size);
        continue;
      }
      if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
      // The stored text need not end with its terminator.
      data.resize(size);
      if (const std::size_t end = data.find('\0'); end != std::string::npos) data.resize(end);
      return data;
    }
  }
};

}  // namespace

Registry& Registry::Default() {
  static Win32Registry registry;
  return registry;
}

}  // namespace quillet
