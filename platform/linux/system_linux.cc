// System facts on Linux, with $QUILLET_ROOT standing for drive C:.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/error.h"
#include "base/text.h"
#include "platform/automation.h"
#include "platform/linux/root.h"
#include "platform/linux/unique_fd.h"
#include "platform/system.h"

namespace quillet {

namespace linux_platform {

std::string Root() {
  std::string root;
  if (const char* env = std::getenv("QUILLET_ROOT"); env && *env) {
    root = env;
  } else {
    const char* home = std::getenv("HOME");
    root = std::string(home ? home : "") + "/.local/share/quillet/c";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::error_code ignored;
  std::filesystem::create_directories(root, ignored);
  return root;
}

}  // namespace linux_platform

namespace {

class LinuxSystem : public System {
 public:
  std::string WindowsDirectory() override {
    const std::string dir = linux_platform::Root() + "/windows";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
  }

  std::string ModuleFileName() override {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
  }

  char PathSeparator() override { return '/'; }

  std::string RunLogPath() override { return linux_platform::Root() + "/quillet.log"; }

  void AppendToLog(const std::string& path, std::string_view bytes) override {
    const linux_platform::UniqueFd file(
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    bool written = static_cast<bool>(file);
    while (written && !bytes.empty()) {
      const ssize_t count = write(file.get(), bytes.data(), bytes.size());
      written = count > 0;
      if (written) bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    if (!written) throw Error("Cannot append to " + path);
  }

  std::string ExpandEnvironment(const std::string& text) override {
    return ExpandVariables(text, [](const std::string& name) -> std::optional<std::string> {
      if (const char* value = std::getenv(name.c_str())) return value;
      // Windows gives every user one; here it is a folder of drive C:.
      if (name == "APPDATA") {
        const std::string appdata = linux_platform::Root() + "/appdata";
        std::error_code ignored;
        std::filesystem::create_directories(appdata, ignored);
        return appdata;
      }
      return std::nullopt;
    });
  }
  std::string DriveRoot() override { return linux_platform::Root() + "/"; }
  NarrowText FromUtf8(const std::string& text) override { return {text}; }

  void CreatePrivateFile(const std::string& path) override {
    // Never through a link someone else put there.
    const linux_platform::UniqueFd file(
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) throw Error("Cannot make " + path + " private");
  }
};

}  // namespace

System& System::Default() {
  static LinuxSystem system;
  return system;
}

namespace ole {

// The texts Windows gives for these codes, as FormatMessage returns them less the line end and
// the final full stop.
std::string SystemMessage(std::int32_t code) {
  static const std::map<std::int32_t, std::string> messages = {
      {hr::kOk, "The operation completed successfully"},
      {2, "The system cannot find the file specified"},
      {3, "The system cannot find the path specified"},
      {5, "Access is denied"},
      {hr::kNotImpl, "Not implemented"},
      {hr::kNoInterface, "No such interface supported"},
      {hr::kPointer, "Invalid pointer"},
      {hr::kFail, "Unspecified error"},
      {hr::kUnexpected, "Catastrophic failure"},
      {hr::kMemberNotFound, "Member not found"},
      {hr::kParamNotFound, "Parameter not found"},
      {hr::kTypeMismatch, "Type mismatch"},
      {hr::kUnknownName, "Unknown name"},
      {hr::kNoNamedArgs, "No named arguments"},
      {hr::kBadVarType, "Bad variable type"},
      {hr::kException, "Exception occurred"},
      {hr::kOverflow, "Out of present range"},
      {hr::kBadParamCount, "Invalid number of parameters"},
      {hr::kParamNotOptional, "Parameter not optional"},
      {hr::kNoAggregation, "Class does not support aggregation (or class object is remote)"},
      {hr::kClassNotRegistered, "Class not registered"},
      {hr::kInvalidClassString, "Invalid class string"},
  };
  if (auto it = messages.find(code); it != messages.end()) return it->second;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
  return std::string("System error ") + hex;
}

}  // namespace ole
}  // namespace quillet
