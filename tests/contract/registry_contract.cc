// The registry port as class registration uses it: default values of keys under
// HKEY_CLASSES_ROOT, set, read and deleted.
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/registry.h"
#include "tests/contract/contract_platform.h"

namespace quillet {
namespace {

constexpr std::int32_t kFileNotFound = 2;
constexpr std::int32_t kAccessDenied = 5;

// Keys under the run's scratch key. Whatever a test leaves behind, failing half-way, goes with
// the fixture, subkeys first.
class RegistryContract : public ::testing::Test {
 protected:
  ~RegistryContract() override {
    for (auto key = made_.rbegin(); key != made_.rend(); ++key) registry_.DeleteKey(*key);
  }

  // The full name of `path` below the scratch key.
  std::string Key(const std::string& path) {
    std::string key = contract::ScratchKey();
    made_.insert(key);
    for (std::size_t start = 0; start <= path.size();) {
      std::size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      key.append("\\").append(path, start, end - start);
      made_.insert(key);
      start = end + 1;
    }
    return key;
  }

  Registry& registry_ = Registry::Default();

 private:
  // Ordered so that a key comes before its subkeys, case aside.
  struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
      return AsciiLower(a) < AsciiLower(b);
    }
  };
  std::set<std::string, NoCase> made_;
};

TEST_F(RegistryContract, ValuesAreReadBackAsTheyWereSet) {
  const std::string key = Key("Clsid");
  EXPECT_EQ(registry_.QueryValue(key), std::nullopt);
  ASSERT_EQ(registry_.SetValue(key, "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"), 0);
  EXPECT_EQ(registry_.QueryValue(key), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");

  const std::string quoted = "C:\\Program Files\\Quillet\\quillet.exe \"%1\"";
  ASSERT_EQ(registry_.SetValue(key, quoted), 0);
  EXPECT_EQ(registry_.QueryValue(key), quoted);
  const std::string long_value(5000, 'q');
  ASSERT_EQ(registry_.SetValue(key, long_value), 0);
  EXPECT_EQ(registry_.QueryValue(key), long_value);
  // An empty value is a value all the same.
  ASSERT_EQ(registry_.SetValue(key, ""), 0);
  EXPECT_EQ(registry_.QueryValue(key), "");
}

TEST_F(RegistryContract, ParentsComeIntoBeingWithTheirChildWithoutAValue) {
  ASSERT_EQ(registry_.SetValue(Key("A\\B\\C"), "leaf"), 0);
  EXPECT_EQ(registry_.QueryValue(Key("A")), std::nullopt);
  EXPECT_EQ(registry_.QueryValue(Key("A\\B")), std::nullopt);
  // A key without a value queries like a missing one; deleting tells them apart.
  EXPECT_EQ(registry_.DeleteKey(Key("A\\B")), kAccessDenied);
  EXPECT_EQ(registry_.DeleteKey(Key("A\\B\\C")), 0);
  EXPECT_EQ(registry_.DeleteKey(Key("A\\B")), 0);
  EXPECT_EQ(registry_.DeleteKey(Key("A")), 0);
  EXPECT_EQ(registry_.DeleteKey(Key("A")), kFileNotFound);
}

TEST_F(RegistryContract, OnlyKeysWithoutSubkeysCanBeDeleted) {
  EXPECT_EQ(registry_.DeleteKey(Key("Missing")), kFileNotFound);
  ASSERT_EQ(registry_.SetValue(Key("Key"), "top"), 0);
  ASSERT_EQ(registry_.SetValue(Key("Key\\Sub"), "sub"), 0);
  ASSERT_EQ(registry_.SetValue(Key("KeyB"), "sibling"), 0);

  EXPECT_EQ(registry_.DeleteKey(Key("Key")), kAccessDenied);
  EXPECT_EQ(registry_.QueryValue(Key("Key")), "top");
  EXPECT_EQ(registry_.QueryValue(Key("Key\\Sub")), "sub");

  EXPECT_EQ(registry_.DeleteKey(Key("Key\\Sub")), 0);
  EXPECT_EQ(registry_.QueryValue(Key("Key\\Sub")), std::nullopt);
  EXPECT_EQ(registry_.DeleteKey(Key("Key\\Sub")), kFileNotFound);
  // A sibling whose name starts with the key's name is no subkey.
  EXPECT_EQ(registry_.DeleteKey(Key("Key")), 0);
  EXPECT_EQ(registry_.QueryValue(Key("Key")), std::nullopt);
  EXPECT_EQ(registry_.QueryValue(Key("KeyB")), "sibling");
}

TEST_F(RegistryContract, KeyNamesIgnoreCase) {
  ASSERT_EQ(registry_.SetValue(Key("Quillet.Signer\\CLSID"), "{1}"), 0);
  EXPECT_EQ(registry_.QueryValue(Key("QUILLET.SIGNER\\clsid")), "{1}");
  ASSERT_EQ(registry_.SetValue(Key("quillet.signer\\Clsid"), "{2}"), 0);
  EXPECT_EQ(registry_.QueryValue(Key("Quillet.Signer\\CLSID")), "{2}");
  EXPECT_EQ(registry_.DeleteKey(Key("QUILLET.Signer")), kAccessDenied);
  EXPECT_EQ(registry_.DeleteKey(Key("Quillet.signer\\clsid")), 0);
  EXPECT_EQ(registry_.QueryValue(Key("Quillet.Signer\\CLSID")), std::nullopt);
}

}  // namespace
}  // namespace quillet
