#include "platform/linux/process_com.h"

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/autoobject.h"
#include "platform/linux/file_registry.h"

namespace quillet::linux_platform {
namespace {

using ole::AutoObjectFactory;
using ole::ClassFactory;
using ole::Dispatch;
using ole::DispatchTable;
using ole::Interface;
using ole::LiveObjects;
using ole::Ref;
namespace hr = ole::hr;

// The smallest automation class: it says which registration made it.
class Greeter : public ole::AutoObject {
 public:
  explicit Greeter(std::string name) : AutoObject(Table()), name_(std::move(name)) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Greeter").Method("Name", &Greeter::Name));
    return table;
  }
  std::string Name() { return name_; }

 private:
  std::string name_;
};

// A factory that counts the objects it makes.
Ref<ClassFactory> GreeterFactory(int* made, const std::string& name = "greeter") {
  return ole::MakeRef<AutoObjectFactory>([made, name] {
    ++*made;
    return Ref<Dispatch>(ole::MakeRef<Greeter>(name));
  });
}

constexpr char kClsid[] = "{0E5A1C2B-7D3F-4A60-9B1E-5C2D8F4A3B71}";

class ProcessComTest : public ::testing::Test {
 protected:
  ~ProcessComTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  static std::filesystem::path MakeDir() {
    std::string name = (std::filesystem::temp_directory_path() / "quillet-com-XXXXXX").string();
    if (!mkdtemp(name.data())) ADD_FAILURE() << "cannot make a directory like " << name;
    return name;
  }

  const std::filesystem::path dir_ = MakeDir();
  FileRegistry registry_{(dir_ / "registry.reg").string()};
  ProcessCom com_{registry_};
};

// Not promised by the port: Wine's class table answers with the oldest registration.
TEST_F(ProcessComTest, TheNewestRegistrationOfAClassAnswers) {
  ASSERT_EQ(registry_.SetValue("Quillet.Greeter\\Clsid", kClsid), 0);
  int made = 0;
  std::uint32_t older = 0, newer = 0;
  ASSERT_EQ(com_.RegisterClassObject(kClsid, GreeterFactory(&made, "older"), &older), hr::kOk);
  ASSERT_EQ(com_.RegisterClassObject(kClsid, GreeterFactory(&made, "newer"), &newer), hr::kOk);
  EXPECT_NE(older, newer);
  EXPECT_EQ(ole::Get(com_.CreateOleObject("Quillet.Greeter"), "Name"), ole::Value("newer"));
  ASSERT_EQ(com_.RevokeClassObject(newer), hr::kOk);
  EXPECT_EQ(ole::Get(com_.CreateOleObject("Quillet.Greeter"), "Name"), ole::Value("older"));
}

TEST(AutoObjectFactory, RefusesAggregationAndUnknownInterfaces) {
  int made = 0;
  Ref<ClassFactory> factory = GreeterFactory(&made);
  Ref<Dispatch> object;
  EXPECT_EQ(factory->CreateInstance(true, Interface::kDispatch, &object), hr::kNoAggregation);
  EXPECT_EQ(factory->CreateInstance(false, Interface::kOther, &object), hr::kNoInterface);
  EXPECT_FALSE(object);
  EXPECT_EQ(made, 0);

  ASSERT_EQ(factory->CreateInstance(false, Interface::kUnknown, &object), hr::kOk);
  EXPECT_TRUE(object);
  Ref<Dispatch> other;
  ASSERT_EQ(factory->CreateInstance(false, Interface::kDispatch, &other), hr::kOk);
  EXPECT_TRUE(other);
  EXPECT_FALSE(object == other);
  EXPECT_EQ(made, 2);
}

// The server stays up while the count is above zero, so both kinds of holder must count exactly.
TEST(AutoObjectFactory, LocksAndLiveObjectsKeepTheServerCount) {
  int made = 0;
  Ref<ClassFactory> factory = GreeterFactory(&made);
  const int base = LiveObjects::Count();
  factory->LockServer(true);
  factory->LockServer(true);
  EXPECT_EQ(LiveObjects::Count(), base + 2);
  factory->LockServer(false);
  factory->LockServer(false);
  EXPECT_EQ(LiveObjects::Count(), base);

  Ref<Dispatch> a, b;
  ASSERT_EQ(factory->CreateInstance(false, Interface::kDispatch, &a), hr::kOk);
  ASSERT_EQ(factory->CreateInstance(false, Interface::kDispatch, &b), hr::kOk);
  EXPECT_EQ(LiveObjects::Count(), base + 2);
  Ref<Dispatch> copy = a;
  a.reset();
  EXPECT_EQ(LiveObjects::Count(), base + 2);  // the copy still holds it
  copy.reset();
  EXPECT_EQ(LiveObjects::Count(), base + 1);
  b.reset();
  EXPECT_EQ(LiveObjects::Count(), base);
}

}  // namespace
}  // namespace quillet::linux_platform
