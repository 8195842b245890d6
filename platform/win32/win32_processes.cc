// Programs on Windows: CreateProcessA, MsgWaitForMultipleObjects and ShellExecuteA.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/process.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_gui.h"

namespace quillet {

namespace {

using win32::UniqueHandle;

class Win32Process : public Process {
 public:
  explicit Win32Process(UniqueHandle process) : process_(std::move(process)) {}

  // The exit code alone cannot tell: STILL_ACTIVE (259) is also a code a program may end with.
  // The process object is signalled once the program has ended, whatever its code.
  bool Exited(std::int32_t* exit_code) override {
    if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return false;
    *exit_code = static_cast<std::int32_t>(code);
    return true;
  }

  HANDLE handle() const { return process_.get(); }

 private:
  UniqueHandle process_;
};

// The ANSI environment block of this process with `addition` set on top: entries of the same name,
// in any case, give way. Entries such as "=C:=C:\\" name a drive's directory and are kept.
std::vector<char> EnvironmentBlock(const EnvironmentAddition& addition) {
  std::vector<char> block;
  if (char* strings = GetEnvironmentStringsA()) {
    for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1) {
      const std::string_view text(entry);
      const std::string_view name = text.substr(0, text.find('=', 1));
      bool replaced = false;
      for (const auto& variable : addition) replaced |= EqualsIgnoreCase(variable.first, name);
      if (!replaced) block.insert(block.end(), entry, entry + text.size() + 1);
    }
    FreeEnvironmentStringsA(strings);
  }
  for (const auto& [name, value] : addition) {
    const std::string entry = name + "=" + value;
    block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  }
  block.push_back('\0');
  return block;
}

class Win32Processes : public Processes {
 public:
  std::int32_t Start(const std::string& command_line, int show_mode,
                     const EnvironmentAddition& environment,
                     std::unique_ptr<Process>* process) override {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = static_cast<WORD>(show_mode);
    PROCESS_INFORMATION info = {};
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    // Without an addition the program inherits this environment as it is.
    std::vector<char> block;
    if (!environment.empty()) block = EnvironmentBlock(environment);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, HIGH_PRIORITY_CLASS,
                        block.empty() ? nullptr : block.data(), nullptr, &startup, &info))
      return static_cast<std::int32_t>(GetLastError());
    UniqueHandle thread(info.hThread);
    *process = std::make_unique<Win32Process>(UniqueHandle(info.hProcess));
    return 0;
  }

  void WaitForExitOrInput(Process& process) override {
    HANDLE handle = static_cast<Win32Process&>(process).handle();
    MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
  }

  // The program's main window owns whatever the shell shows about the file. COM should be
  // initialized on this thread first, since the shell may hand the file to an extension.
  void ShellOpen(const std::string& file, const std::string& parameters,
                 const std::string& directory, int show_mode) override {
    ShellExecuteA(win32::MainWindowOf(gui::Gui::Default()), nullptr, file.c_str(),
                  parameters.empty() ? nullptr : parameters.c_str(),
                  directory.empty() ? nullptr : directory.c_str(), show_mode);
  }
};

}  // namespace

Processes& Processes::Default() {
  static Win32Processes processes;
  return processes;
}

}  // namespace quillet
