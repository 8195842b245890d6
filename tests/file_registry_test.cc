#include "platform/linux/file_registry.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quillet::linux_platform {
namespace {

// Every test gets a registry file of its own in a fresh directory.
class FileRegistryTest : public ::testing::Test {
 protected:
  ~FileRegistryTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path() const { return (dir_ / "registry.reg").string(); }
  std::string FileText() const {
    std::ifstream in(Path(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static std::filesystem::path MakeDir() {
    std::string name = (std::filesystem::temp_directory_path() / "quillet-reg-XXXXXX").string();
    if (!mkdtemp(name.data())) ADD_FAILURE() << "cannot make a directory like " << name;
    return name;
  }

  const std::filesystem::path dir_ = MakeDir();
  FileRegistry registry_{Path()};
};

TEST_F(FileRegistryTest, ValuesPersistAcrossInstancesOnTheSameFile) {
  EXPECT_EQ(registry_.QueryValue("Quillet.Signer\\Clsid"), std::nullopt);
  ASSERT_EQ(registry_.SetValue("Quillet.Signer\\Clsid", "{1}"), 0);
  EXPECT_EQ(registry_.QueryValue("Quillet.Signer\\Clsid"), "{1}");

  // Another process sees the file, not this object's memory.
  FileRegistry other(Path());
  EXPECT_EQ(other.QueryValue("Quillet.Signer\\Clsid"), "{1}");
  ASSERT_EQ(other.SetValue("Quillet.Signer\\Clsid", "{2}"), 0);
  EXPECT_EQ(registry_.QueryValue("Quillet.Signer\\Clsid"), "{2}");
}

// Two processes that change the file at the same time, each reading and rewriting it for every one
// of their keys, lose none of each other's changes.
TEST_F(FileRegistryTest, ChangesMadeAtOnceByTwoProcessesAreAllKept) {
  constexpr int kKeys = 200;
  const auto set_keys = [&](const std::string& owner) {
    FileRegistry registry(Path());
    int refused = 0;
    for (int i = 0; i < kKeys; ++i)
      refused += registry.SetValue(owner + "\\Key" + std::to_string(i), std::to_string(i)) != 0;
    return refused;
  };
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Begins when the parent does.
    close(start[1]);
    char go = 0;
    _exit(read(start[0], &go, 1) == 1 && set_keys("Child") == 0 ? 0 : 1);
  }
  close(start[0]);
  EXPECT_EQ(write(start[1], "x", 1), 1);
  close(start[1]);
  EXPECT_EQ(set_keys("Parent"), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

  std::vector<std::string> lost;
  for (const std::string owner : {"Child", "Parent"}) {
    for (int i = 0; i < kKeys; ++i) {
      const std::string key = owner + "\\Key" + std::to_string(i);
      if (registry_.QueryValue(key) != std::to_string(i)) lost.push_back(key);
    }
  }
  EXPECT_EQ(lost, std::vector<std::string>());
}

TEST_F(FileRegistryTest, KeyNamesKeepTheSpellingOfTheirCreation) {
  ASSERT_EQ(registry_.SetValue("Quillet.Signer\\CLSID", "{1}"), 0);
  ASSERT_EQ(registry_.SetValue("quillet.signer\\clsid", "{2}"), 0);
  ASSERT_EQ(registry_.SetValue("QUILLET.SIGNER\\Extra", "x"), 0);
  EXPECT_EQ(FileText(),
            "REGEDIT4\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\Quillet.Signer]\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\Quillet.Signer\\CLSID]\r\n@=\"{2}\"\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\Quillet.Signer\\Extra]\r\n@=\"x\"\r\n");
}

TEST_F(FileRegistryTest, WritesTheExportFormatWithSubkeysRightAfterTheirParent) {
  ASSERT_EQ(registry_.SetValue("Key2", "two"), 0);
  ASSERT_EQ(registry_.SetValue("Key\\Sub", "value"), 0);
  EXPECT_EQ(FileText(),
            "REGEDIT4\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\Key]\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\Key\\Sub]\r\n@=\"value\"\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\Key2]\r\n@=\"two\"\r\n");
}

TEST_F(FileRegistryTest, BackslashesAndQuotesAreEscapedAndReadBackUnchanged) {
  const std::string path = "C:\\PGP\\say \"hi\"\\";
  ASSERT_EQ(registry_.SetValue("Path", path), 0);
  ASSERT_EQ(registry_.SetValue("Empty", ""), 0);
  EXPECT_NE(FileText().find("@=\"C:\\\\PGP\\\\say \\\"hi\\\"\\\\\"\r\n"), std::string::npos)
      << FileText();
  EXPECT_NE(FileText().find("[HKEY_CLASSES_ROOT\\Empty]\r\n@=\"\"\r\n"), std::string::npos);
  FileRegistry reader(Path());
  EXPECT_EQ(reader.QueryValue("Path"), path);
  EXPECT_EQ(reader.QueryValue("Empty"), "");
}

// Nothing in a value or a key name can start a line of its own in the file: a value with a line
// break is stored whole and read back exactly, a key name with one is refused.
TEST_F(FileRegistryTest, ValuesWithLineBreaksAreWrittenAsStringBytesAndReadBackExactly) {
  const struct {
    std::string value;
    std::string line;
  } cases[] = {
      {"\r", "@=hex(1):0d,00"},
      {"\n", "@=hex(1):0a,00"},
      {"C:\\x\r\n\"y\"", "@=hex(1):43,3a,5c,78,0d,0a,22,79,22,00"},
      {"a\r\n[HKEY_CLASSES_ROOT\\Injected]",
       "@=hex(1):61,0d,0a,5b,48,4b,45,59,5f,43,4c,41,53,53,45,53,5f,52,4f,4f,54,5c,49,6e,6a,65,63,"
       "74,65,64,5d,00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.value));
    ASSERT_EQ(registry_.SetValue("Key", c.value), 0);
    EXPECT_EQ(FileText(), "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Key]\r\n" + c.line + "\r\n");
    EXPECT_EQ(FileRegistry(Path()).QueryValue("Key"), c.value);
  }
}

TEST_F(FileRegistryTest, StringBytesAreReadUpToTheirZeroAndMalformedOnesAreIgnored) {
  const struct {
    std::string line;
    std::optional<std::string> value;
  } cases[] = {
      {"@=hex(1):41,42,00", "AB"},          {"@=hex(1):41,42", "AB"},
      {"@=hex(1):4A,0D,0a,00,43", "J\r\n"}, {"@=hex(1):", ""},
      {"@=hex(1):41,4", std::nullopt},      {"@=hex(1):4142", std::nullopt},
      {"@=hex(1):41;42", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::ofstream(Path(), std::ios::binary) << "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\Key]\r\n"
                                            << c.line << "\r\n";
    EXPECT_EQ(registry_.QueryValue("Key"), c.value);
  }
}

TEST_F(FileRegistryTest, KeyNamesWithLineBreaksAreRefusedAndTheFileStaysAsItWas) {
  ASSERT_EQ(registry_.SetValue("Kept", "value"), 0);
  const std::string before = FileText();
  for (const std::string key :
       {"Line\nBreak", "Line\rBreak", "\n", "Kept\\Sub\r\n[HKEY_CLASSES_ROOT\\Injected]"}) {
    SCOPED_TRACE(::testing::PrintToString(key));
    EXPECT_EQ(registry_.SetValue(key, "x"), 1010);  // ERROR_BADKEY
    EXPECT_EQ(FileText(), before);
  }
}

// Without write permission the file stands for a registry the user may not change: it refuses
// every change, even to root, and is read as before.
TEST_F(FileRegistryTest, AFileWithoutWritePermissionRefusesChangesAndStaysAsItWas) {
  ASSERT_EQ(registry_.SetValue("Kept\\Sub", "value"), 0);
  const std::string before = FileText();
  std::filesystem::permissions(Path(), std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
  const struct {
    const char* change;
    std::function<std::int32_t()> make;
    std::int32_t result;
  } cases[] = {
      {"a new key", [&] { return registry_.SetValue("New", "x"); }, 5},
      {"another value", [&] { return registry_.SetValue("Kept\\Sub", "other"); }, 5},
      {"the same value", [&] { return registry_.SetValue("Kept\\Sub", "value"); }, 5},
      {"a deleted key", [&] { return registry_.DeleteKey("Kept\\Sub"); }, 5},
      {"a missing key", [&] { return registry_.DeleteKey("Missing"); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    EXPECT_EQ(c.make(), c.result);
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(registry_.QueryValue("Kept\\Sub"), "value");
  }
  // Write permission for anyone is enough.
  std::filesystem::permissions(Path(), std::filesystem::perms::others_write,
                               std::filesystem::perm_options::add);
  EXPECT_EQ(registry_.SetValue("Kept\\Sub", "other"), 0);
  EXPECT_EQ(registry_.QueryValue("Kept\\Sub"), "other");
}

}  // namespace
}  // namespace quillet::linux_platform
