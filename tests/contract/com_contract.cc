// The object creation port: a class object offered under a class identifier, found through its
// ProgID's entry in the registry, and its objects called through the dispatch interface.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/autoobject.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "tests/contract/contract_platform.h"

namespace quillet {
namespace {

using ole::Ref;
using ole::Value;
namespace hr = ole::hr;

// A small automation class with a writable property and a method with an argument.
class Note : public ole::AutoObject {
 public:
  Note() : AutoObject(Table()) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table =
        std::move(ole::DispatchTable("Note")
                      .Property("Text", &Note::Text, &Note::SetText)
                      .Method("Append", &Note::Append));
    return table;
  }
  std::string Text() { return text_; }
  void SetText(const std::string& text) { text_ = text; }
  std::int32_t Append(const std::string& more) {
    text_ += more;
    return static_cast<std::int32_t>(text_.size());
  }

 private:
  std::string text_;
};

constexpr char kClsid[] = "{5C1E8A2F-3B7D-4E96-A0C4-D2F61B8E7A35}";

class ComContract : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(hr::Failed(com_.Initialize())); }
  void TearDown() override {
    for (const std::uint32_t cookie : cookies_) com_.RevokeClassObject(cookie);
    registry_.DeleteKey(progid_ + "\\Clsid");
    registry_.DeleteKey(progid_);
    com_.Uninitialize();
  }

  // The ProgID's entry, as class registration writes it.
  void RegisterProgId() { ASSERT_EQ(registry_.SetValue(progid_ + "\\Clsid", kClsid), 0); }

  // Offers the class under `clsid`, counting the objects it makes.
  std::uint32_t Offer(const std::string& clsid) {
    auto factory = ole::MakeRef<ole::AutoObjectFactory>([this] {
      ++made_;
      return Ref<ole::Dispatch>(ole::MakeRef<Note>());
    });
    std::uint32_t cookie = 0;
    EXPECT_EQ(com_.RegisterClassObject(clsid, factory, &cookie), hr::kOk);
    cookies_.push_back(cookie);
    return cookie;
  }

  ole::HResult Revoke(std::uint32_t cookie) {
    std::erase(cookies_, cookie);
    return com_.RevokeClassObject(cookie);
  }

  ole::Com& com_ = ole::Com::Default();
  Registry& registry_ = Registry::Default();
  const std::string progid_ = contract::ScratchKey();
  int made_ = 0;

 private:
  std::vector<std::uint32_t> cookies_;
};

TEST_F(ComContract, EveryCreationByProgIdMakesANewObject) {
  RegisterProgId();
  // Class identifiers and ProgIDs compare without regard to case.
  Offer(AsciiLower(kClsid));
  Ref<ole::Dispatch> first, second;
  ASSERT_EQ(com_.CreateObject(AsciiLower(progid_), &first), hr::kOk);
  ASSERT_EQ(com_.CreateObject(progid_, &second), hr::kOk);
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_EQ(made_, 2);

  const Value note(first), other(second);
  ole::Put(note, "Text", "Dear Bob");
  EXPECT_EQ(ole::Get(note, "text"), Value("Dear Bob"));
  EXPECT_EQ(ole::Get(note, "Append", {", hello"}), Value(15));
  EXPECT_EQ(ole::Get(note, "Text"), Value("Dear Bob, hello"));
  EXPECT_EQ(ole::Get(other, "Text"), Value(""));
  try {
    ole::Call(note, "Send");
    ADD_FAILURE() << "an unknown member answered";
  } catch (const ole::OleError& e) {
    EXPECT_EQ(e.code(), hr::kUnknownName);
  }
}

TEST_F(ComContract, AnUnknownProgIdIsAnInvalidClassString) {
  Offer(kClsid);
  Ref<ole::Dispatch> object;
  EXPECT_EQ(com_.CreateObject(progid_, &object), hr::kInvalidClassString);
  EXPECT_FALSE(object);
  try {
    com_.CreateOleObject(progid_);
    ADD_FAILURE() << "an unknown ProgID made an object";
  } catch (const ole::OleError& e) {
    EXPECT_EQ(e.code(), hr::kInvalidClassString);
    EXPECT_EQ(e.what(), ole::SystemMessage(hr::kInvalidClassString));
  }
  EXPECT_EQ(made_, 0);
}

TEST_F(ComContract, AProgIdWithoutAClassObjectIsClassNotRegistered) {
  RegisterProgId();
  Ref<ole::Dispatch> object;
  EXPECT_EQ(com_.CreateObject(progid_, &object), hr::kClassNotRegistered);
  EXPECT_FALSE(object);
}

TEST_F(ComContract, ARevokedClassNoLongerAnswers) {
  RegisterProgId();
  const std::uint32_t cookie = Offer(kClsid);
  const Value made_before(com_.CreateOleObject(progid_));
  EXPECT_EQ(Revoke(cookie), hr::kOk);

  Ref<ole::Dispatch> object;
  EXPECT_EQ(com_.CreateObject(progid_, &object), hr::kClassNotRegistered);
  EXPECT_FALSE(object);
  EXPECT_EQ(made_, 1);
  EXPECT_TRUE(hr::Failed(Revoke(cookie)));
  // Objects made before live on.
  ole::Put(made_before, "Text", "still here");
  EXPECT_EQ(ole::Get(made_before, "Text"), Value("still here"));
}

}  // namespace
}  // namespace quillet
