// The registry on Linux: HKEY_CLASSES_ROOT kept in one file in the registry editor's export
// format, read and rewritten whole by every call so that several processes share it; a change
// holds a lock (on the file's name with ".lock" added) from reading to rewriting, so that changes
// made at once by several processes are all kept. A file without write permission refuses every
// change (access denied), as the registry does a standard user.
#pragma once

#include <string>

#include "platform/registry.h"

namespace quillet::linux_platform {

class FileRegistry : public Registry {
 public:
  explicit FileRegistry(std::string path) : path_(std::move(path)) {}

  std::int32_t SetValue(const std::string& key, const std::string& value) override;
  std::int32_t DeleteKey(const std::string& key) override;
  std::optional<std::string> QueryValue(const std::string& key) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace quillet::linux_platform
