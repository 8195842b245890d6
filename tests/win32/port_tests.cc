// What only the Windows ports promise, against the real system (or Wine): the system's own
// registry and message texts, 32-bit exit codes, and how programs are started. The ports'
// shared promises are tested in tests/contract/, built into the same program.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/automation.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tests/contract/contract_platform.h"
#include "tests/contract/run_to_end.h"
#include "tests/win32/exit_with.h"

namespace quillet {
namespace {

using contract::RunToEnd;

// Wine's message table has texts of its own, and Wine gives a new program the normal priority
// class whatever its creator asked for; the tests that meet these say so.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

TEST(Win32System, PathsAreDrivePathsWithBackslashes) {
  System& system = System::Default();
  EXPECT_EQ(system.PathSeparator(), '\\');
  EXPECT_TRUE(system.DriveRoot().ends_with(":\\")) << system.DriveRoot();
  EXPECT_TRUE(std::filesystem::is_directory(system.WindowsDirectory() + "\\system32"));
}

TEST(Win32System, MessagesAreTheSystemsTexts) {
  using ole::SystemMessage;
  if (UnderWine()) {
    EXPECT_EQ(SystemMessage(2), "File not found");
    EXPECT_EQ(SystemMessage(5), "Access denied");
  } else {
    EXPECT_EQ(SystemMessage(2), "The system cannot find the file specified");
    EXPECT_EQ(SystemMessage(5), "Access is denied");
  }
  // An HRESULT that wraps a Win32 error reads as that error.
  EXPECT_EQ(SystemMessage(static_cast<std::int32_t>(0x80070002)), SystemMessage(2));
}

// The value as the system reads it, past the port.
std::optional<std::string> SystemValue(const std::string& key) {
  char data[256];
  LONG size = sizeof data;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), data, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data);
}

TEST(Win32Registry, TheKeysAreTheSystemsOwn) {
  Registry& registry = Registry::Default();
  const std::string key = contract::ScratchKey();
  const std::string leaf = key + "\\Clsid";
  ASSERT_EQ(registry.SetValue(leaf, "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"), 0);
  EXPECT_EQ(SystemValue(leaf), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
  // The system reads a key without a value as an empty one; the port tells them apart.
  EXPECT_EQ(SystemValue(key), "");
  EXPECT_EQ(registry.QueryValue(key), std::nullopt);
  EXPECT_EQ(registry.DeleteKey(leaf), 0);
  EXPECT_EQ(SystemValue(leaf), std::nullopt);
  EXPECT_EQ(registry.DeleteKey(key), 0);
  EXPECT_EQ(SystemValue(key), std::nullopt);
}

// Exit codes are 32 bits wide, and the code that also means "still running" is one like any
// other.
TEST(Win32Processes, ExitCodesAreWholeWords) {
  const std::string exit_with = contract::ExitWithProgram();
  EXPECT_EQ(RunToEnd("cmd /c exit 300"), 300);
  EXPECT_EQ(RunToEnd(exit_with + " 259"), STILL_ACTIVE);
  EXPECT_EQ(RunToEnd(exit_with + " 259 300"), STILL_ACTIVE);
  EXPECT_EQ(static_cast<std::uint32_t>(RunToEnd(exit_with + " 0xC0000005")), 0xC0000005u);
}

TEST(Win32Processes, ProgramsStartWithFeedbackAndTheShowModeAskedFor) {
  const std::string startup = contract::ExitWithProgram() + " startup";
  EXPECT_EQ(RunToEnd(startup, SW_SHOWMINNOACTIVE),
            ((STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK) << 16) | SW_SHOWMINNOACTIVE);
  EXPECT_EQ(RunToEnd(startup, SW_SHOWNORMAL),
            ((STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK) << 16) | SW_SHOWNORMAL);
}

TEST(Win32Processes, ProgramsStartAtHighPriority) {
  if (UnderWine())
    GTEST_SKIP() << "priority class not checked: Wine starts every program at normal priority";
  EXPECT_EQ(RunToEnd(contract::ExitWithProgram() + " priority"), HIGH_PRIORITY_CLASS);
}

}  // namespace
}  // namespace quillet
