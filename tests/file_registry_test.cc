#include "platform/linux/file_registry.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

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
