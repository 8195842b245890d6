// The automation bridge under Windows (or Wine): the program's automation objects called through
// a real IDispatch, a system COM object called through the program's dispatch interface, objects
// that cross twice coming back as themselves, the names of another apartment's objects looked up
// once per object, and calls COM callers get wrong, which fail without harming the server.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "platform/autoobject.h"
#include "platform/com.h"
#include "platform/win32/ole_bridge.h"

namespace {

using namespace quillet;
using win32::Bstr;
using win32::ComPtr;
using win32::Variant;

// A small automation class of the program's kind.
class Greeter : public ole::AutoObject {
 public:
  Greeter() : AutoObject(Table()) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table = std::move(ole::DispatchTable("Greeter")
                                                          .Method("Greet", &Greeter::Greet)
                                                          .Method("Swap", &Greeter::Swap)
                                                          .Method("Fail", &Greeter::Fail)
                                                          .Property("Count", &Greeter::Count)
                                                          .Method("Pointer", &Greeter::Pointer));
    return table;
  }
  std::string Greet(const std::string& name) { return "Hello " + name; }
  void Swap(std::string& text, std::int32_t& number) {
    text = "swapped " + text;
    number = number * 2;
  }
  void Fail() { throw Error("It went wrong"); }
  std::int32_t Count() { return 42; }
  // An answer that no VARIANT can carry.
  ole::Value Pointer() { return ole::Value(&number_); }

 private:
  std::int32_t number_ = 0;
};

// Greets otherwise, under another identifier than Greeter's Greet.
class Welcomer : public ole::AutoObject {
 public:
  Welcomer() : AutoObject(Table()) {}
  static const ole::DispatchTable& Table() {
    static const ole::DispatchTable table = std::move(ole::DispatchTable("Welcomer")
                                                          .Method("Wave", &Welcomer::Wave)
                                                          .Method("Greet", &Welcomer::Greet));
    return table;
  }
  void Wave() {}
  std::string Greet(const std::string& name) { return "Welcome " + name; }
};

// An object of class T that counts how often its names are looked up.
template <typename T>
class Counting : public T {
 public:
  ole::HResult GetIDsOfNames(const std::vector<std::string>& names,
                             std::vector<ole::DispId>* ids) override {
    ++lookups;
    return T::GetIDsOfNames(names, ids);
  }
  std::atomic<int> lookups{0};  // counted in the serving apartment
};

constexpr DISPID kGreet = 1;
constexpr DISPID kPointer = 5;

// An EXCEPINFO that frees its strings.
struct ExcepInfo : EXCEPINFO {
  ExcepInfo() : EXCEPINFO{} {}
  ~ExcepInfo() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
  }
  ExcepInfo(const ExcepInfo&) = delete;
  ExcepInfo& operator=(const ExcepInfo&) = delete;
};

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
  return id;
}

TEST(Bridge, ProgramObjectThroughIDispatch) {
  auto object = ComPtr<IDispatch>::Adopt(win32::Expose(ole::MakeRef<Greeter>()));
  EXPECT_EQ(IdOf(object.get(), L"greet"), 1);
  EXPECT_EQ(IdOf(object.get(), L"Nothing"), DISPID_UNKNOWN);

  Variant name;
  name.get()->vt = VT_BSTR;
  name.get()->bstrVal = SysAllocString(L"Ann");
  DISPPARAMS one{name.get(), nullptr, 1, 0};
  Variant result;
  EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, result.get(), nullptr, nullptr),
            S_OK);
  ASSERT_EQ(result.get()->vt, VT_BSTR);
  EXPECT_EQ(win32::ToAnsi(result.get()->bstrVal), "Hello Ann");

  // By-reference arguments are written back; COM passes the last argument first.
  BSTR text = SysAllocString(L"me");
  LONG number = 21;
  VARIANT refs[2];
  refs[0].vt = VT_BYREF | VT_I4;
  refs[0].plVal = &number;
  refs[1].vt = VT_BYREF | VT_BSTR;
  refs[1].pbstrVal = &text;
  DISPPARAMS two{refs, nullptr, 2, 0};
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(win32::ToAnsi(text), "swapped me");
  EXPECT_EQ(number, 42);

  // A by-reference integer where a string is declared: a type mismatch at its position.
  refs[1].vt = VT_BYREF | VT_I4;
  refs[1].plVal = &number;
  UINT position = 99;
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, &position),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(position, 1u);
  SysFreeString(text);

  ExcepInfo excep;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(object->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &excep, nullptr),
            DISP_E_EXCEPTION);
  ASSERT_NE(excep.bstrSource, nullptr);
  ASSERT_NE(excep.bstrDescription, nullptr);
  EXPECT_EQ(win32::ToAnsi(excep.bstrSource), "Greeter");
  EXPECT_EQ(win32::ToAnsi(excep.bstrDescription), "It went wrong");
  EXPECT_EQ(excep.scode, E_FAIL);

  UINT count = 7;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(object->GetTypeInfo(0, 0, &info), E_NOTIMPL);
}

// Greet called with `arg`, into a result of its own.
HRESULT Greet(IDispatch* object, VARIANT* arg, EXCEPINFO* excep, UINT* position) {
  DISPPARAMS params{arg, nullptr, 1, 0};
  Variant result;
  return object->Invoke(kGreet, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), excep,
                        position);
}

// Greet's argument: the name Ann.
void PutName(Variant& arg) {
  arg.get()->vt = VT_BSTR;
  arg.get()->bstrVal = SysAllocString(L"Ann");
}

// Whether `object` still greets.
bool Greets(IDispatch* object) {
  Variant name;
  PutName(name);
  DISPPARAMS one{name.get(), nullptr, 1, 0};
  Variant result;
  return SUCCEEDED(object->Invoke(kGreet, IID_NULL, 0, DISPATCH_METHOD, &one, result.get(), nullptr,
                                  nullptr)) &&
         result.get()->vt == VT_BSTR && std::wstring(result.get()->bstrVal) == L"Hello Ann";
}

// Invoke fails what the bridge cannot take or give back: a caller that passed an EXCEPINFO gets
// DISP_E_EXCEPTION with the program as source and the failure's code and message there, any other
// caller the code itself and the argument's position; the object then answers as before.
TEST(Bridge, InvokeFailsWhatTheBridgeCannotTake) {
  const struct {
    const char* what;
    std::function<HRESULT(IDispatch*, EXCEPINFO*, UINT*)> call;
    HRESULT code;
    std::optional<UINT> argument;
  } cases[] = {
      {"an array of integers",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         Variant array;
         array.get()->vt = VT_ARRAY | VT_I4;
         array.get()->parray = SafeArrayCreateVector(VT_I4, 0, 3);
         return Greet(object, array.get(), excep, position);
       },
       DISP_E_TYPEMISMATCH, 0},
      {"a type no VARIANT may have",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         Variant strange;
         strange.get()->vt = VT_VOID;
         return Greet(object, strange.get(), excep, position);
       },
       DISP_E_TYPEMISMATCH, 0},
      {"a by-reference string without the string",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         Variant dangling;
         dangling.get()->vt = VT_BYREF | VT_BSTR;
         return Greet(object, dangling.get(), excep, position);
       },
       E_POINTER, 0},
      {"a by-reference VARIANT without the VARIANT",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         Variant dangling;
         dangling.get()->vt = VT_BYREF | VT_VARIANT;
         return Greet(object, dangling.get(), excep, position);
       },
       E_POINTER, 0},
      {"no DISPPARAMS",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         Variant result;
         return object->Invoke(kGreet, IID_NULL, 0, DISPATCH_METHOD, nullptr, result.get(), excep,
                               position);
       },
       E_POINTER, std::nullopt},
      {"an argument counted but not given",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         return Greet(object, nullptr, excep, position);
       },
       E_POINTER, std::nullopt},
      {"a named argument counted but not given",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         Variant name;
         PutName(name);
         DISPPARAMS params{name.get(), nullptr, 1, 1};
         return object->Invoke(kGreet, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, excep,
                               position);
       },
       E_POINTER, std::nullopt},
      {"an answer no VARIANT can carry",
       [](IDispatch* object, EXCEPINFO* excep, UINT* position) {
         DISPPARAMS none{nullptr, nullptr, 0, 0};
         Variant result;
         return object->Invoke(kPointer, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(), excep,
                               position);
       },
       DISP_E_BADVARTYPE, std::nullopt},
  };
  auto object = ComPtr<IDispatch>::Adopt(win32::Expose(ole::MakeRef<Greeter>()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExcepInfo excep;
    UINT position = 99;
    EXPECT_EQ(c.call(object.get(), &excep, &position), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, c.code);
    EXPECT_EQ(win32::ToAnsi(excep.bstrSource), "win32_bridge_tests");
    EXPECT_EQ(win32::ToAnsi(excep.bstrDescription), ole::SystemMessage(c.code));
    EXPECT_EQ(c.call(object.get(), nullptr, &position), c.code);
    if (c.argument) {
      EXPECT_EQ(position, *c.argument);
    }
    EXPECT_TRUE(Greets(object.get()));
  }
  // A caller that wants no result need not give a place for one.
  Variant name;
  PutName(name);
  DISPPARAMS one{name.get(), nullptr, 1, 0};
  EXPECT_EQ(object->Invoke(kGreet, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
            S_OK);
}

// One of the program's objects served by a thread of its own, in another apartment, so that calls
// reach it through COM's marshalling as calls from another program do.
class ServedElsewhere {
 public:
  explicit ServedElsewhere(ole::Ref<ole::Dispatch> served = ole::MakeRef<Greeter>())
      : served_(std::move(served)), server_([this] { Serve(); }) {
    CoGetInterfaceAndReleaseStream(stream_.get_future().get(), IID_IDispatch,
                                   reinterpret_cast<void**>(proxy_.put()));
  }
  ~ServedElsewhere() {
    proxy_ = ComPtr<IDispatch>();
    PostThreadMessageA(server_id_, WM_QUIT, 0, 0);
    server_.join();
  }
  IDispatch* object() const { return proxy_.get(); }

 private:
  void Serve() {
    OleInitialize(nullptr);
    {
      auto object = ComPtr<IDispatch>::Adopt(win32::Expose(served_));
      IStream* stream = nullptr;
      CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object.get(), &stream);
      MSG message;
      // The queue exists before anybody can post the request to stop.
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
      server_id_ = GetCurrentThreadId();
      stream_.set_value(stream);
      while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    }
    OleUninitialize();
  }

  ole::Ref<ole::Dispatch> served_;
  std::promise<IStream*> stream_;
  DWORD server_id_ = 0;
  std::thread server_;
  ComPtr<IDispatch> proxy_;
};

// An array argument arriving through COM, as from another program, fails with its description
// handed back, and the server goes on serving.
TEST(Bridge, AnArrayThroughComFailsAndTheServerKeepsServing) {
  ServedElsewhere served;
  ASSERT_NE(served.object(), nullptr);
  Variant array;
  array.get()->vt = VT_ARRAY | VT_I4;
  array.get()->parray = SafeArrayCreateVector(VT_I4, 0, 3);
  ExcepInfo excep;
  EXPECT_EQ(Greet(served.object(), array.get(), &excep, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(win32::ToAnsi(excep.bstrDescription), ole::SystemMessage(DISP_E_TYPEMISMATCH));
  EXPECT_TRUE(Greets(served.object()));
}

// Each name of an object in another apartment is looked up there once, in whatever letter case it
// is called by, however often; a name the object does not know is asked for again at each call;
// and two objects do not share the identifiers of their names.
TEST(Bridge, NamesOfAnotherApartmentAreLookedUpOncePerObject) {
  const auto greeter = ole::MakeRef<Counting<Greeter>>();
  const auto welcomer = ole::MakeRef<Counting<Welcomer>>();
  ServedElsewhere served_greeter(greeter), served_welcomer(welcomer);
  ASSERT_NE(served_greeter.object(), nullptr);
  ASSERT_NE(served_welcomer.object(), nullptr);
  const ole::Value greeter_there(win32::Wrap(served_greeter.object()));
  const ole::Value welcomer_there(win32::Wrap(served_welcomer.object()));
  const struct {
    const ole::Value& object;
    const char* name;
    std::optional<std::string> answer;  // none: the name is unknown
    int greeter_lookups, welcomer_lookups;
  } calls[] = {
      {greeter_there, "Greet", "Hello Ann", 1, 0},
      {greeter_there, "Greet", "Hello Ann", 1, 0},
      {greeter_there, "GREET", "Hello Ann", 1, 0},
      {welcomer_there, "greet", "Welcome Ann", 1, 1},
      {welcomer_there, "Greet", "Welcome Ann", 1, 1},
      {greeter_there, "Greet", "Hello Ann", 1, 1},
      {greeter_there, "Nothing", std::nullopt, 2, 1},
      {greeter_there, "Nothing", std::nullopt, 3, 1},
      {greeter_there, "greet", "Hello Ann", 3, 1},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(std::string(c.name) + " of the " +
                 (&c.object == &greeter_there ? "greeter" : "welcomer"));
    std::optional<std::string> answer;
    ole::HResult code = S_OK;
    try {
      answer = ole::Get(c.object, c.name, {"Ann"}).AsString();
    } catch (const ole::OleError& e) {
      code = e.code();
    }
    EXPECT_EQ(answer, c.answer);
    if (!c.answer) {
      EXPECT_EQ(code, DISP_E_UNKNOWNNAME);
    }
    EXPECT_EQ(greeter->lookups.load(), c.greeter_lookups);
    EXPECT_EQ(welcomer->lookups.load(), c.welcomer_lookups);
  }
}

// The other entry points of an exposed object refuse a missing place for their answer.
TEST(Bridge, TheOtherEntryPointsRefuseNullPointers) {
  const struct {
    const char* what;
    std::function<HRESULT(IDispatch*)> call;
  } cases[] = {
      {"GetIDsOfNames without names",
       [](IDispatch* object) {
         DISPID id = 0;
         return object->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_SYSTEM_DEFAULT, &id);
       }},
      {"GetIDsOfNames without a place for the identifiers",
       [](IDispatch* object) {
         LPOLESTR names[] = {const_cast<LPOLESTR>(L"Greet")};
         return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, nullptr);
       }},
      {"GetTypeInfoCount", [](IDispatch* object) { return object->GetTypeInfoCount(nullptr); }},
      {"GetTypeInfo", [](IDispatch* object) { return object->GetTypeInfo(0, 0, nullptr); }},
      {"QueryInterface",
       [](IDispatch* object) { return object->QueryInterface(IID_IDispatch, nullptr); }},
  };
  auto object = ComPtr<IDispatch>::Adopt(win32::Expose(ole::MakeRef<Greeter>()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(object.get()), E_POINTER);
    EXPECT_TRUE(Greets(object.get()));
  }
}

// The class factory fails requests it cannot serve, an object that cannot be made among them, and
// then makes objects as before.
TEST(Bridge, TheClassFactoryFailsBadRequests) {
  bool refuse = false;
  auto factory = ComPtr<IClassFactory>::Adopt(win32::ExposeFactory(
      ole::MakeRef<ole::AutoObjectFactory>([&refuse]() -> ole::Ref<ole::Dispatch> {
        if (refuse) throw Error("No greeters today");
        return ole::MakeRef<Greeter>();
      })));
  const struct {
    const char* what;
    bool with_place;  // for the interface asked for, which must be null after a failure
    std::function<HRESULT(IClassFactory*, void**)> call;
    HRESULT code;
  } cases[] = {
      {"no place for the object", false,
       [](IClassFactory* f, void** out) { return f->CreateInstance(nullptr, IID_IDispatch, out); },
       E_POINTER},
      {"QueryInterface without a place for the interface", false,
       [](IClassFactory* f, void** out) { return f->QueryInterface(IID_IClassFactory, out); },
       E_POINTER},
      {"an interface the objects do not have", true,
       [](IClassFactory* f, void** out) {
         return f->CreateInstance(nullptr, IID_IClassFactory, out);
       },
       E_NOINTERFACE},
      {"aggregation", true,
       [](IClassFactory* f, void** out) { return f->CreateInstance(f, IID_IUnknown, out); },
       CLASS_E_NOAGGREGATION},
      {"an object that cannot be made", true,
       [&refuse](IClassFactory* f, void** out) {
         refuse = true;
         const HRESULT hr = f->CreateInstance(nullptr, IID_IDispatch, out);
         refuse = false;
         return hr;
       },
       E_FAIL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    void* out = &refuse;
    EXPECT_EQ(c.call(factory.get(), c.with_place ? &out : nullptr), c.code);
    if (c.with_place) {
      EXPECT_EQ(out, nullptr);
    }
    ComPtr<IDispatch> made;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(made.put())),
              S_OK);
    EXPECT_TRUE(made.get() && Greets(made.get()));
  }
}

TEST(Bridge, ObjectsComeBackAsThemselves) {
  ole::Ref<ole::Dispatch> ours = ole::MakeRef<Greeter>();
  auto offered = ComPtr<IDispatch>::Adopt(win32::Expose(ours));
  EXPECT_EQ(win32::Wrap(offered.get()).get(), ours.get());
}

TEST(Bridge, SystemObjectThroughTheDispatchInterface) {
  ole::Ref<ole::Dispatch> created;
  const ole::HResult hr = ole::Com::Default().CreateObject("Scripting.Dictionary", &created);
  ASSERT_TRUE(SUCCEEDED(hr)) << hr;
  ole::Value dictionary(created);
  ole::Call(dictionary, "Add", {"key", 7});
  EXPECT_TRUE(ole::Get(dictionary, "Count") == ole::Value(1));
  EXPECT_TRUE(ole::Get(dictionary, "Exists", {"key"}) == ole::Value(true));
  EXPECT_TRUE(ole::Get(dictionary, "Exists", {"other"}) == ole::Value(false));
  ole::HResult code = S_OK;
  try {
    ole::Call(dictionary, "NoSuchMember");
  } catch (const ole::OleError& e) {
    code = e.code();
  }
  EXPECT_EQ(code, DISP_E_UNKNOWNNAME);
  // One of the program's objects handed to the system object comes back as itself.
  ole::Ref<ole::Dispatch> greeter = ole::MakeRef<Greeter>();
  ole::Call(dictionary, "Add", {"greeter", ole::Value(greeter)});
  std::vector<ole::DispId> ids;
  ASSERT_TRUE(SUCCEEDED(created->GetIDsOfNames({"Item"}, &ids)));
  ole::DispParams key{{ole::Value("greeter")}, {}};
  ole::Value got;
  EXPECT_TRUE(
      SUCCEEDED(created->Invoke(ids.at(0), ole::kPropertyGet, key, &got, nullptr, nullptr)));
  ASSERT_TRUE(got.type() == ole::VarType::kObject);
  EXPECT_EQ(got.AsObject().get(), greeter.get());
}

// Bstr and Variant hand what they own on when moved, and leave the source empty; Receive empties
// the owner for a function that fills it.
// NOLINTBEGIN(bugprone-use-after-move): the moved-from objects are what is checked.
TEST(Bridge, BstrAndVariantMoveWhatTheyOwn) {
  Bstr text("moved");
  Bstr moved = std::move(text);
  EXPECT_EQ(text.get(), nullptr);
  EXPECT_EQ(win32::ToAnsi(moved.get()), "moved");
  text = std::move(moved);
  EXPECT_EQ(moved.get(), nullptr);
  EXPECT_EQ(win32::ToAnsi(text.get()), "moved");
  EXPECT_EQ(*text.Receive(), nullptr);

  Variant value;
  win32::ToVariant(ole::Value("seven"), value.Receive());
  Variant other = std::move(value);
  EXPECT_EQ(value.get()->vt, VT_EMPTY);
  EXPECT_TRUE(win32::FromVariant(*other.get()) == ole::Value("seven"));
  value = std::move(other);
  EXPECT_EQ(other.get()->vt, VT_EMPTY);
  EXPECT_TRUE(win32::FromVariant(*value.get()) == ole::Value("seven"));
  EXPECT_EQ(value.Receive()->vt, VT_EMPTY);
}
// NOLINTEND(bugprone-use-after-move)

// While above zero, the number of allocations until one fails: the one that brings it to zero.
std::atomic<int> allocations_until_failure{0};

// An object of another program that takes every call and leaves its arguments alone.
class Indifferent final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  // It lives on the test's stack.
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
};

// A call whose conversions run out of memory, at whichever allocation, leaves none of its
// arguments behind: the objects passed are held by their owners alone again.
TEST(Bridge, ACallThatRunsOutOfMemoryLeavesNoArgumentBehind) {
  Indifferent other;
  const ole::Ref<ole::Dispatch> callee = win32::Wrap(&other);
  const auto first = ole::MakeRef<Greeter>(), second = ole::MakeRef<Greeter>();
  std::string text = "a text too long to be kept in place";
  std::int32_t number = 7;
  int failed = 0;
  bool called = false;
  for (int failing = 1; !called; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing));
    {
      // Converted in this order, as COM stores them: a string, an object, both by-reference
      // kinds and a second object, which fails after the first's VARIANT was made.
      ole::DispParams params{{"text", first, &text, &number, second}, {}};
      ole::Value result;
      allocations_until_failure = failing;
      try {
        callee->Invoke(kGreet, ole::kMethod, params, &result, nullptr, nullptr);
        called = true;
      } catch (const std::bad_alloc&) {
        ++failed;
      }
      allocations_until_failure = 0;
    }
    EXPECT_EQ(first->RefCount(), 1u);
    EXPECT_EQ(second->RefCount(), 1u);
  }
  EXPECT_GT(failed, 0);
}

}  // namespace

// Every allocation of this program passes here, so that a test can make one of them fail.
void* operator new(std::size_t size) {
  if (allocations_until_failure > 0 && --allocations_until_failure == 0) throw std::bad_alloc();
  if (void* p = HeapAlloc(GetProcessHeap(), 0, size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  ole::Com::Default().Initialize();
  const int status = RUN_ALL_TESTS();
  ole::Com::Default().Uninitialize();
  return status;
}
