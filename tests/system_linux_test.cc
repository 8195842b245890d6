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
  // Put back after: the ports' contract tests in this program have a drive C: of their own.
  const char* const before = getenv("QUILLET_ROOT");
  const std::string saved = before ? before : "";
  setenv("QUILLET_ROOT", (root + "/").c_str(), 1);
  System& system = System::Default();
  EXPECT_EQ(system.WindowsDirectory(), root + "/windows");
  EXPECT_TRUE(std::filesystem::is_directory(root + "/windows"));
  EXPECT_EQ(system.RunLogPath(), root + "/quillet.log");
  EXPECT_EQ(system.PathSeparator(), '/');
  EXPECT_EQ(system.DriveRoot(), root + "/");
  setenv("QUILLET_ROOT", saved.c_str(), 1);  // empty stands for unset
}

TEST(LinuxSystem, MessagesForCodesAsWindowsWordsThem) {
  EXPECT_EQ(ole::SystemMessage(2), "The system cannot find the file specified");
  EXPECT_EQ(ole::SystemMessage(ole::hr::kClassNotRegistered), "Class not registered");
  EXPECT_EQ(ole::SystemMessage(ole::hr::kOverflow), "Out of present range");
}

}  // namespace
}  // namespace quillet
