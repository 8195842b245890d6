// The system facts port: where the Windows directory, the program and the run log are, and the
// system's texts for error codes.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/automation.h"
#include "platform/system.h"
#include "tests/contract/contract_platform.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

TEST(SystemContract, TheWindowsDirectoryExistsAndEndsWithoutASeparator) {
  System& system = System::Default();
  const std::string dir = system.WindowsDirectory();
  ASSERT_FALSE(dir.empty());
  // The core appends the separator and a file name.
  EXPECT_NE(dir.back(), system.PathSeparator());
  EXPECT_TRUE(fs::is_directory(dir)) << dir;
}

TEST(SystemContract, TheModuleFileNameIsTheRunningProgram) {
  const fs::path path = System::Default().ModuleFileName();
  EXPECT_TRUE(path.is_absolute()) << path;
  EXPECT_TRUE(fs::is_regular_file(path)) << path;
  EXPECT_TRUE(EqualsIgnoreCase(path.filename().string(), QUILLET_CONTRACT_PROGRAM)) << path;
}

// The mail client saves plain text into a file the program made private first, in a folder that
// may let others read what is made in it.
TEST(SystemContract, APrivateFileAdmitsTheUserAlone) {
  const fs::path dir =
      fs::temp_directory_path() / ("quillet-contract-private-" + contract::ScratchKey());
  fs::create_directories(dir);
  contract::LetOthersIn(dir.string());
  const std::string path = (dir / "temppgp").string();
  System::Default().CreatePrivateFile(path);
  EXPECT_TRUE(contract::AdmitsUserAlone(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  // Never a file that is there already: it could be someone else's.
  EXPECT_THROW(System::Default().CreatePrivateFile(path), Error);
  fs::remove_all(dir);
}

// User IDs and texts come from PGP in UTF-8; the program's strings are the system's narrow ones.
// A letter the code page lacks is "?", never one that looks like it.
TEST(SystemContract, UnicodeTextBecomesTheSystemsNarrowText) {
  System& system = System::Default();
  EXPECT_EQ(system.FromUtf8("").text, "");
  EXPECT_EQ(system.FromUtf8("Alice Example <alice@example.com>").text,
            "Alice Example <alice@example.com>");
  const std::optional<std::string> sample = contract::NarrowSample();
  if (!sample) GTEST_SKIP() << "a code page this test does not know";
  const System::NarrowText narrow =
      system.FromUtf8("Zo\xC3\xAB \xC4\x8Eurov\xC3\xA1, 5 \xE2\x82\xAC, \xE6\xBC\xA2");
  EXPECT_EQ(narrow.text, *sample);
  EXPECT_EQ(narrow.lost, sample->find('?') != std::string::npos);
}

TEST(SystemContract, TheRunLogAndTheWindowsDirectoryAreOnTheSystemDrive) {
  System& system = System::Default();
  const char separator = system.PathSeparator();
  const std::string root = system.DriveRoot();
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.back(), separator);
  EXPECT_TRUE(fs::is_directory(root)) << root;

  const std::string log = system.RunLogPath();
  // Drive letters and directory names compare without regard to case on Windows.
  ASSERT_TRUE(StartsWithIgnoreCase(log, root)) << log << " is not in " << root;
  const std::string name = log.substr(root.size());
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find(separator), std::string::npos) << log << " is not directly in " << root;

  EXPECT_TRUE(StartsWithIgnoreCase(system.WindowsDirectory(), root));
}

TEST(SystemContract, TheLogIsAppendedToAndMadeWhenMissing) {
  const fs::path path =
      fs::temp_directory_path() / ("quillet-contract-log-" + contract::ScratchKey());
  System::Default().AppendToLog(path.string(), "first\r\n");
  System::Default().AppendToLog(path.string(), std::string("with\0nul\n", 9));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            std::string("first\r\nwith\0nul\n", 16));
  in.close();
  fs::remove(path);
  EXPECT_THROW(System::Default().AppendToLog((path / "none").string(), "x"), Error);
}

// Configuration lines name the user's own folders through variables.
TEST(SystemContract, EnvironmentVariablesAreExpandedAsWindowsDoes) {
  System& system = System::Default();
  const std::string appdata = system.ExpandEnvironment("%APPDATA%");
  EXPECT_TRUE(fs::is_directory(appdata)) << appdata;
  EXPECT_EQ(system.ExpandEnvironment("%APPDATA%\\x 100%"), appdata + "\\x 100%");
  EXPECT_EQ(system.ExpandEnvironment("%QUILLET_NO_SUCH_VARIABLE%%APPDATA%"),
            "%QUILLET_NO_SUCH_VARIABLE%" + appdata);
  EXPECT_EQ(system.ExpandEnvironment("100% %APPDATA%"), "100% %APPDATA%");
  EXPECT_EQ(system.ExpandEnvironment("C:\\PGP\\pgp.exe"), "C:\\PGP\\pgp.exe");
}

// The core puts these texts into sentences of its own.
TEST(SystemContract, MessagesAreTextsWithoutFullStopOrLineEnd) {
  namespace hr = ole::hr;
  for (const std::int32_t code :
       {0, 2, 3, 5, hr::kFail, hr::kNoInterface, hr::kMemberNotFound, hr::kTypeMismatch,
        hr::kUnknownName, hr::kClassNotRegistered, hr::kInvalidClassString}) {
    const std::string text = ole::SystemMessage(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_EQ(std::string(". \r\n").find(text.back()), std::string::npos)
        << std::hex << code << ": \"" << text << "\"";
  }
  // A code no message table knows still gets a text, naming the code.
  EXPECT_EQ(ole::SystemMessage(0x2BAD0FF1), "System error 2BAD0FF1");
}

}  // namespace
}  // namespace quillet
