// Platform implementations for tests: a registry file, object creation and the headless user
// interface of the test's own, and fixed system facts, all in a fresh directory per test.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/linux/file_registry.h"
#include "platform/linux/headless_gui.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/process_com.h"
#include "platform/platform.h"

namespace quillet::testing {

// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Runs a command with the shell; its standard output and exit code.
struct Outcome {
  int exit_code;
  std::string output;
};
Outcome RunShell(const std::string& command);

// A directory that is removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class FixedSystem : public System {
 public:
  explicit FixedSystem(const std::filesystem::path& root)
      : module_file_name(root.string() + "/bin/quillet"), root_(root.string()) {}
  std::string WindowsDirectory() override { return root_ + "/windows"; }
  std::string ModuleFileName() override { return module_file_name; }
  char PathSeparator() override { return '/'; }
  std::string RunLogPath() override { return root_ + "/quillet.log"; }
  void AppendToLog(const std::string& path, std::string_view bytes) override {
    System::Default().AppendToLog(path, bytes);
  }
  // The user's application data are in the root's "appdata"; no other variable has a value.
  std::string ExpandEnvironment(const std::string& text) override {
    return ExpandVariables(text, [this](const std::string& name) -> std::optional<std::string> {
      if (name == "APPDATA") return root_ + "/appdata";
      return std::nullopt;
    });
  }
  std::string DriveRoot() override { return root_ + "/"; }
  // The Linux system's text, or with `latin1` a code page that holds the first 256 characters
  // alone, as a Windows code page holds a few hundred.
  NarrowText FromUtf8(const std::string& text) override;
  void CreatePrivateFile(const std::string& path) override {
    System::Default().CreatePrivateFile(path);
  }

  // Where the program file is; a test may move it.
  std::string module_file_name;
  bool latin1 = false;

 private:
  std::string root_;
};

// Records every registry call, in order, before passing it on.
class RecordingRegistry : public Registry {
 public:
  explicit RecordingRegistry(Registry& inner) : inner_(inner) {}
  std::int32_t SetValue(const std::string& key, const std::string& value) override {
    calls.push_back("set " + key + " = " + value);
    return inner_.SetValue(key, value);
  }
  std::int32_t DeleteKey(const std::string& key) override {
    calls.push_back("delete " + key);
    return inner_.DeleteKey(key);
  }
  std::optional<std::string> QueryValue(const std::string& key) override {
    return inner_.QueryValue(key);
  }

  std::vector<std::string> calls;

 private:
  Registry& inner_;
};

struct TestPlatform {
  TempDir dir;
  linux_platform::FileRegistry file_registry{(dir.path() / "registry.reg").string()};
  RecordingRegistry registry{file_registry};
  linux_platform::ProcessCom com{registry};
  FixedSystem system{dir.path()};
  linux_platform::HeadlessGui gui;
  linux_platform::LinuxProcesses processes{gui.input_fd()};

  TestPlatform() {
    gui.SetPatience([this] { processes.WaitForShellStarts(); });
  }

  Platform platform() { return {com, registry, system, gui, processes}; }
};

}  // namespace quillet::testing
