#include "platform/system.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/automation.h"
#include "tests/test_platform.h"

namespace quillet {
namespace {

TEST(LinuxSystem, DriveCIsTheQuilletRootCreatedOnFirstUse) {
  testing::TempDir dir;
  const std::string root = (dir.path() / "drive" / "c").string();
  setenv("QUILLET_ROOT", (root + "/").c_str(), 1);
  System& system = System::Default();
  EXPECT_EQ(system.WindowsDirectory(), root + "/windows");
  EXPECT_TRUE(std::filesystem::is_directory(root + "/windows"));
  EXPECT_EQ(system.RunLogPath(), root + "/quillet.log");
  EXPECT_EQ(system.PathSeparator(), '/');
  EXPECT_EQ(system.DriveRoot(), root + "/");
  EXPECT_EQ(system.ModuleFileName(), std::filesystem::canonical("/proc/self/exe").string());
  unsetenv("QUILLET_ROOT");
}

TEST(LinuxSystem, MessagesForCodesAsWindowsWordsThem) {
  EXPECT_EQ(ole::SystemMessage(2), "The system cannot find the file specified");
  EXPECT_EQ(ole::SystemMessage(ole::hr::kClassNotRegistered), "Class not registered");
  EXPECT_EQ(ole::SystemMessage(ole::hr::kOverflow), "Out of present range");
  EXPECT_EQ(ole::SystemMessage(0x12345678), "System error 12345678");
}

}  // namespace
}  // namespace quillet
