#include "platform/automation.h"

#include <gtest/gtest.h>

#include "platform/autoobject.h"

namespace quillet::ole {
namespace {

TEST(ValueConversion, FailureRaisesOleErrorWithSystemMessage) {
  try {
    Convert(Value("abc"), VarType::kInt);
    FAIL() << "no error";
  } catch (const OleError& e) {
    EXPECT_EQ(e.code(), hr::kTypeMismatch);
    EXPECT_STREQ(e.what(), "Type mismatch");
  }
}

TEST(ValueAccess, StrictAccessorsRefuseOtherTypes) {
  EXPECT_THROW(Value("1").AsInt(), OleError);
  EXPECT_THROW(Value(1).AsString(), OleError);
  EXPECT_THROW(Value().AsObject(), OleError);
  EXPECT_THROW(Value(Ref<Dispatch>()).AsObject(), OleError);
}

// Counts its own destruction.
class Probe : public RefCounted {
 public:
  explicit Probe(int* destroyed) : destroyed_(destroyed) {}
  ~Probe() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(RefCounting, ObjectDiesExactlyWithItsLastReference) {
  int destroyed = 0;
  Ref<Probe> first = MakeRef<Probe>(&destroyed);
  EXPECT_EQ(first->RefCount(), 1u);
  {
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the copy is under test.
    Ref<Probe> second = first;
    Ref<Probe> third = Ref<Probe>::Share(first.get());
    EXPECT_EQ(first->RefCount(), 3u);
  }
  EXPECT_EQ(destroyed, 0);
  Ref<Probe> moved = std::move(first);
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a Ref moved from is empty.
  EXPECT_EQ(moved->RefCount(), 1u);
  moved.reset();
  EXPECT_EQ(destroyed, 1);
}

// A raw pointer becomes a Ref by name: Share adds a reference of its own, Adopt takes over the
// caller's. release hands the reference back, and put() lets the one held go before it gives the
// place for a new one.
TEST(RefCounting, RawPointersAreSharedOrAdopted) {
  int destroyed = 0;
  Ref<Probe> first = MakeRef<Probe>(&destroyed);
  Probe* const raw = first.get();
  {
    const Ref<Probe> shared = Ref<Probe>::Share(raw);
    EXPECT_EQ(raw->RefCount(), 2u);
  }
  EXPECT_EQ(raw->RefCount(), 1u);
  raw->AddRef();
  {
    const Ref<Probe> adopted = Ref<Probe>::Adopt(raw);
    EXPECT_EQ(raw->RefCount(), 2u);
  }
  EXPECT_EQ(raw->RefCount(), 1u);
  EXPECT_EQ(first.release(), raw);
  EXPECT_FALSE(first);
  EXPECT_EQ(raw->RefCount(), 1u);
  first = Ref<Probe>::Adopt(raw);
  Probe** place = first.put();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(*place, nullptr);
  *place = new Probe(&destroyed);
  EXPECT_EQ(first->RefCount(), 1u);
  first.reset();
  EXPECT_EQ(destroyed, 2);
}

// A dispatch interface that records how it is called and answers from a script.
class Recorder : public Dispatch {
 public:
  HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>* ids) override {
    looked_up.push_back(names.at(0));
    ids->assign(names.size(), 7);
    return lookup_answer;
  }
  HResult Invoke(DispId, std::uint16_t flags, DispParams& params, Value* result, ExcepInfo* excep,
                 std::uint32_t*) override {
    last_flags = flags;
    last_args = params.args;
    last_named = params.named;
    wanted_result = result != nullptr;
    if (result) *result = Value("answer");
    if (invoke_answer == hr::kException) *excep = {"Source", "It went wrong", hr::kFail};
    return invoke_answer;
  }
  std::uint32_t GetTypeInfoCount() override { return 0; }
  HResult GetTypeInfo(std::uint32_t) override { return hr::kNotImpl; }

  HResult lookup_answer = hr::kOk;
  HResult invoke_answer = hr::kOk;
  std::vector<std::string> looked_up;
  std::uint16_t last_flags = 0;
  std::vector<Value> last_args;
  std::vector<DispId> last_named;
  bool wanted_result = false;
};

TEST(ClientHelper, FlagsOrderAndLookupAtEveryCall) {
  Ref<Recorder> r = MakeRef<Recorder>();
  Ref<Dispatch> object(r);

  EXPECT_EQ(Get(object, "MenuItems"), Value("answer"));
  EXPECT_EQ(r->last_flags, kMethod | kPropertyGet);
  EXPECT_TRUE(r->wanted_result);

  Get(object, "AddMenu", {"&PGP", 5});
  EXPECT_EQ(r->last_flags, kMethod);
  EXPECT_EQ(r->last_args, (std::vector<Value>{5, "&PGP"}));  // last argument first

  Call(object, "Add", {"x"});
  EXPECT_EQ(r->last_flags, kMethod);
  EXPECT_FALSE(r->wanted_result);

  Put(object, "fromtext", "me");
  EXPECT_EQ(r->last_flags, kPropertyPut);
  EXPECT_EQ(r->last_named, std::vector<DispId>{kDispIdPropertyPut});

  EXPECT_EQ(r->looked_up, (std::vector<std::string>{"MenuItems", "AddMenu", "Add", "fromtext"}));
}

TEST(ClientHelper, FailuresCarryTheDescriptionOrTheSystemMessage) {
  Ref<Recorder> r = MakeRef<Recorder>();
  Ref<Dispatch> object(r);
  r->invoke_answer = hr::kException;
  try {
    Call(object, "execute");
    FAIL();
  } catch (const OleError& e) {
    EXPECT_STREQ(e.what(), "It went wrong");
    EXPECT_EQ(e.code(), hr::kFail);
  }
  r->lookup_answer = hr::kUnknownName;
  try {
    Call(object, "nothing");
    FAIL();
  } catch (const OleError& e) {
    EXPECT_STREQ(e.what(), "Unknown name");
  }
  EXPECT_THROW(Get(Value(3), "MenuItems"), OleError);  // a value that holds no object
}

}  // namespace
}  // namespace quillet::ole

namespace quillet::ole {
namespace {

class Note : public AutoObject {
 public:
  Note() : AutoObject(Table()) {}
  static const DispatchTable& Table() {
    static const DispatchTable table =
        std::move(DispatchTable("Note").Property("fromtext", &Note::FromText, &Note::SetFromText));
    return table;
  }
  std::string FromText() { return from_; }
  void SetFromText(const std::string& text) { from_ = text; }

 private:
  std::string from_;
};

TEST(WritableProperty, AssignsThroughThePropertyWrite) {
  Value note(MakeRef<Note>());
  Put(note, "FromText", 42);  // converted to the declared type
  EXPECT_EQ(Get(note, "fromtext"), Value("42"));
  DispParams wrong{{Value("x")}, {}};
  EXPECT_EQ(note.AsObject()->Invoke(1, kPropertyPut, wrong, nullptr, nullptr, nullptr),
            hr::kNoNamedArgs);
  EXPECT_THROW(Call(note, "fromtext"), OleError);  // a property, not a method
}

}  // namespace
}  // namespace quillet::ole
