#include "platform/linux/file_registry.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
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

}  // namespace
}  // namespace quillet::linux_platform
