// Contract tests of the Windows ports, against the real system (or Wine). GoogleTest is not at
// hand for this target, so a few macros do its work; the last line of output is the tally.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "base/cmdline.h"
#include "platform/automation.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tests/win32/check.h"

namespace quillet {
namespace {

using wintest::Show;

// Wine's message table has texts of its own, and Wine gives a new program the normal priority
// class whatever its creator asked for; the checks that meet these say so.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// --- System ---

void TestWindowsDirectory() {
  const std::string dir = System::Default().WindowsDirectory();
  CHECK(dir.size() > 3);
  CHECK(!dir.empty() && dir.back() != '\\');
  CHECK(IsDirectory(dir));
  CHECK(IsDirectory(dir + "\\system32"));
}

void TestModuleFileName() {
  const std::string path = System::Default().ModuleFileName();
  CHECK(EndsWith(Lower(path), "\\win32_port_tests.exe"));
  CHECK(path.size() > 3 && path[1] == ':' && path[2] == '\\');
  CHECK(IsFile(path));
}

void TestPathsOnTheSystemDrive() {
  System& system = System::Default();
  CHECK_EQ(system.PathSeparator(), '\\');
  const std::string root = system.DriveRoot();
  CHECK(EndsWith(root, ":\\"));
  CHECK(IsDirectory(root));
  const std::string log = system.RunLogPath();
  CHECK_EQ(Lower(log.substr(0, root.size())), Lower(root));
  CHECK(log.size() > root.size() && log.find('\\', root.size()) == std::string::npos);
}

void TestSystemMessages() {
  using ole::SystemMessage;
  if (UnderWine()) {
    CHECK_EQ(SystemMessage(2), "File not found");
    CHECK_EQ(SystemMessage(5), "Access denied");
  } else {
    CHECK_EQ(SystemMessage(2), "The system cannot find the file specified");
    CHECK_EQ(SystemMessage(5), "Access is denied");
  }
  // An HRESULT that wraps a Win32 error reads as that error.
  CHECK_EQ(SystemMessage(static_cast<std::int32_t>(0x80070002)), SystemMessage(2));
  for (const std::int32_t code : {0, 2, 3, 5, ole::hr::kFail, ole::hr::kNoInterface,
                                  ole::hr::kMemberNotFound, ole::hr::kClassNotRegistered}) {
    const std::string text = SystemMessage(code);
    CHECK(!text.empty());
    CHECK(!text.empty() && text.back() != '.' && text.back() != '\n' && text.back() != '\r' &&
          text.back() != ' ');
    std::printf("  message %08X: %s\n", static_cast<unsigned>(code), text.c_str());
  }
  // A code no message table knows still gets a text, naming the code.
  CHECK_EQ(SystemMessage(0x2BAD0FF1), "System error 2BAD0FF1");
}

// --- Registry ---

// Keys of their own for each run, so runs side by side or after a failed one do not meet.
std::string TestKey() {
  return "QuilletPortTest." + std::to_string(GetCurrentProcessId());
}

// The value as the system reads it, past the port.
std::optional<std::string> SystemValue(const std::string& key) {
  char data[256];
  LONG size = sizeof data;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), data, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data);
}

void TestRegistryRoundTrip() {
  Registry& registry = Registry::Default();
  const std::string key = TestKey();
  const std::string leaf = key + "\\Clsid";
  const std::string clsid = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

  CHECK_EQ(registry.QueryValue(leaf), std::optional<std::string>());
  CHECK_EQ(registry.SetValue(leaf, clsid), 0);
  CHECK_EQ(registry.QueryValue(leaf), std::optional<std::string>(clsid));
  CHECK_EQ(SystemValue(leaf), std::optional<std::string>(clsid));
  // Keys are found without regard to case.
  CHECK_EQ(registry.QueryValue(Lower(leaf)), std::optional<std::string>(clsid));
  // The parent came into being with its child, without a value of its own.
  CHECK_EQ(registry.QueryValue(key), std::optional<std::string>());
  CHECK(SystemValue(key).has_value());

  CHECK_EQ(registry.SetValue(key, "Quillet \"port\" test\\value"), 0);
  CHECK_EQ(registry.QueryValue(key), std::optional<std::string>("Quillet \"port\" test\\value"));
  CHECK_EQ(registry.SetValue(leaf, ""), 0);
  CHECK_EQ(registry.QueryValue(leaf), std::optional<std::string>(""));
  const std::string long_value(5000, 'q');
  CHECK_EQ(registry.SetValue(leaf, long_value), 0);
  CHECK(registry.QueryValue(leaf) == std::optional<std::string>(long_value));

  // Subkeys must go first.
  CHECK_EQ(registry.DeleteKey(key), ERROR_ACCESS_DENIED);
  CHECK(registry.QueryValue(leaf) == std::optional<std::string>(long_value));
  CHECK_EQ(registry.DeleteKey(leaf), 0);
  CHECK_EQ(registry.QueryValue(leaf), std::optional<std::string>());
  CHECK_EQ(SystemValue(leaf), std::optional<std::string>());
  CHECK_EQ(registry.DeleteKey(leaf), ERROR_FILE_NOT_FOUND);
  CHECK_EQ(registry.DeleteKey(key), 0);
  CHECK_EQ(SystemValue(key), std::optional<std::string>());
}

void CleanUpRegistry() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (TestKey() + "\\Clsid").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, TestKey().c_str());
}

// --- Processes ---

std::string ChildProgram() {
  std::string path = System::Default().ModuleFileName();
  path.resize(path.find_last_of('\\') + 1);
  return path + "exit_with.exe";
}

// Hands every waiting message on, as the user interface does between waits.
void ProcessMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a command line to its end the way the program does, and gives the exit code, or the start
// error as a negative number. Gives up after `patience` seconds.
std::int64_t Run(const std::string& command_line, int show_mode = SW_SHOWMINNOACTIVE,
                 double patience = 30) {
  Processes& processes = Processes::Default();
  std::unique_ptr<Process> process;
  if (const std::int32_t error = processes.Start(command_line, show_mode, &process))
    return -static_cast<std::int64_t>(error);
  if (!process) return -1000000;
  const Clock::time_point start = Clock::now();
  std::int32_t exit_code = 0;
  while (!process->Exited(&exit_code)) {
    if (SecondsSince(start) > patience) return -2000000;
    processes.WaitForExitOrInput(*process);
    ProcessMessages();
  }
  return static_cast<std::uint32_t>(exit_code);
}

std::string Child(const std::string& arguments) {
  return QuoteProgram(ChildProgram()) + " " + arguments;
}

void TestExitCodes() {
  CHECK(IsFile(ChildProgram()));
  CHECK_EQ(Run("cmd /c exit 3"), 3);
  CHECK_EQ(Run(Child("0")), 0);
  CHECK_EQ(Run(Child("42")), 42);
  // The code that also means "still running" is an exit code like any other.
  CHECK_EQ(Run(Child("259")), 259);
  CHECK_EQ(Run(Child("259 300")), 259);
  CHECK_EQ(Run(Child("0xC0000005")), 0xC0000005);
}

void TestStartFailures() {
  std::unique_ptr<Process> process;
  CHECK_EQ(Processes::Default().Start("quillet_no_such_program_7f3a.exe", SW_SHOWNORMAL, &process),
           ERROR_FILE_NOT_FOUND);
  CHECK(process == nullptr);
  CHECK_EQ(Run("quillet_no_such_program_7f3a.exe /x"), -ERROR_FILE_NOT_FOUND);
}

void TestStartupRecord() {
  // dwFlags STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK, and the show mode asked for.
  CHECK_EQ(Run(Child("startup"), SW_SHOWMINNOACTIVE), (0x41 << 16) | SW_SHOWMINNOACTIVE);
  CHECK_EQ(Run(Child("startup"), SW_SHOWNORMAL), (0x41 << 16) | SW_SHOWNORMAL);
  if (UnderWine())
    std::printf("  priority class not checked: Wine starts every program at normal priority\n");
  else
    CHECK_EQ(Run(Child("priority")), HIGH_PRIORITY_CLASS);
}

void TestWaitReturnsAtExit() {
  Processes& processes = Processes::Default();
  ProcessMessages();
  std::unique_ptr<Process> process;
  const Clock::time_point start = Clock::now();
  CHECK_EQ(processes.Start(Child("7 700"), SW_SHOWMINNOACTIVE, &process), 0);
  if (!process) return;
  std::int32_t exit_code = -1;
  CHECK(!process->Exited(&exit_code));
  CHECK_EQ(exit_code, -1);
  processes.WaitForExitOrInput(*process);
  // Nothing but the end of the program could have ended the wait.
  CHECK(SecondsSince(start) >= 0.5);
  CHECK(process->Exited(&exit_code));
  CHECK_EQ(exit_code, 7);
}

void TestWaitReturnsForInput() {
  Processes& processes = Processes::Default();
  ProcessMessages();
  std::unique_ptr<Process> process;
  CHECK_EQ(processes.Start(Child("5 3000"), SW_SHOWMINNOACTIVE, &process), 0);
  if (!process) return;
  CHECK(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0));
  const Clock::time_point start = Clock::now();
  processes.WaitForExitOrInput(*process);
  CHECK(SecondsSince(start) < 2);
  std::int32_t exit_code = -1;
  CHECK(!process->Exited(&exit_code));
  MSG message;
  CHECK(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
  // With the message taken, the wait lasts until the program ends.
  while (!process->Exited(&exit_code) && SecondsSince(start) < 30) {
    processes.WaitForExitOrInput(*process);
    ProcessMessages();
  }
  CHECK(SecondsSince(start) >= 2.5);
  CHECK_EQ(exit_code, 5);
}

// A batch file run by the shell in the directory given, with the parameters given.
void TestShellOpen() {
  char temp[MAX_PATH];
  CHECK(GetTempPathA(sizeof temp, temp) > 0);
  const std::string dir =
      std::string(temp) + "quillet_shell_" + std::to_string(GetCurrentProcessId());
  CHECK(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string batch = dir + "\\write.bat";
  const std::string result = dir + "\\result.txt";
  if (FILE* file = std::fopen(batch.c_str(), "wb")) {
    std::fputs("@echo %1 %2> result.txt\r\n", file);
    std::fclose(file);
  }
  Processes::Default().ShellOpen(batch, "shell opened", dir, SW_HIDE);
  std::string text;
  const Clock::time_point start = Clock::now();
  while (SecondsSince(start) < 20) {
    if (FILE* file = std::fopen(result.c_str(), "rb")) {
      char buffer[64] = {};
      const std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
      std::fclose(file);
      text.assign(buffer, length);
      if (EndsWith(text, "\r\n")) break;
    }
    Sleep(50);
  }
  CHECK_EQ(text, "shell opened\r\n");
  // The batch file may still be closing.
  for (int i = 0; i < 100 && !(DeleteFileA(result.c_str()) || !IsFile(result)); ++i) Sleep(50);
  for (int i = 0; i < 100 && !(DeleteFileA(batch.c_str()) || !IsFile(batch)); ++i) Sleep(50);
  // The shell's command interpreter keeps the directory as its own until it has ended.
  for (int i = 0; i < 100 && !RemoveDirectoryA(dir.c_str()); ++i) Sleep(50);
}

const wintest::Test kTests[] = {
    {"WindowsDirectory", TestWindowsDirectory},
    {"ModuleFileName", TestModuleFileName},
    {"PathsOnTheSystemDrive", TestPathsOnTheSystemDrive},
    {"SystemMessages", TestSystemMessages},
    {"RegistryRoundTrip", TestRegistryRoundTrip},
    {"ExitCodes", TestExitCodes},
    {"StartFailures", TestStartFailures},
    {"StartupRecord", TestStartupRecord},
    {"WaitReturnsAtExit", TestWaitReturnsAtExit},
    {"WaitReturnsForInput", TestWaitReturnsForInput},
    {"ShellOpen", TestShellOpen},
};

}  // namespace
}  // namespace quillet

int main() {
  quillet::CleanUpRegistry();
  const int status = quillet::wintest::RunTests(quillet::kTests);
  quillet::CleanUpRegistry();
  return status;
}
