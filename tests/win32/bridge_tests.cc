// The automation bridge under Windows (or Wine): the program's automation objects called through
// a real IDispatch, a system COM object called through the program's dispatch interface, objects
// that cross twice coming back as themselves, the names of another apartment's objects looked up
// once per object, and calls COM callers get wrong, which fail without harming the server. Prints
// "N passed, M failed" last.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "platform/autoobject.h"
#include "platform/com.h"
#include "platform/win32/ole_bridge.h"
#include "tests/win32/check.h"

namespace {

using namespace quillet;
using win32::Bstr;
using win32::ComPtr;
using win32::Variant;
using wintest::Show;

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

void ProgramObjectThroughIDispatch() {
  ComPtr<IDispatch> object(win32::Expose(ole::MakeRef<Greeter>()));
  CHECK(IdOf(object.get(), L"greet") == 1);
  CHECK(IdOf(object.get(), L"Nothing") == DISPID_UNKNOWN);

  Variant name;
  name.get()->vt = VT_BSTR;
  name.get()->bstrVal = SysAllocString(L"Ann");
  DISPPARAMS one{name.get(), nullptr, 1, 0};
  Variant result;
  CHECK(SUCCEEDED(
      object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, result.get(), nullptr, nullptr)));
  CHECK(result.get()->vt == VT_BSTR && std::wstring(result.get()->bstrVal) == L"Hello Ann");

  // By-reference arguments are written back; COM passes the last argument first.
  BSTR text = SysAllocString(L"me");
  LONG number = 21;
  VARIANT refs[2];
  refs[0].vt = VT_BYREF | VT_I4;
  refs[0].plVal = &number;
  refs[1].vt = VT_BYREF | VT_BSTR;
  refs[1].pbstrVal = &text;
  DISPPARAMS two{refs, nullptr, 2, 0};
  CHECK(
      SUCCEEDED(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, nullptr)));
  CHECK(std::wstring(text) == L"swapped me");
  CHECK(number == 42);

  // A by-reference integer where a string is declared: a type mismatch at its position.
  refs[1].vt = VT_BYREF | VT_I4;
  refs[1].plVal = &number;
  UINT position = 99;
  CHECK(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, &position) ==
        DISP_E_TYPEMISMATCH);
  CHECK(position == 1);
  SysFreeString(text);

  ExcepInfo excep;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  CHECK(object->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &excep, nullptr) ==
        DISP_E_EXCEPTION);
  CHECK(excep.bstrSource && std::wstring(excep.bstrSource) == L"Greeter");
  CHECK(excep.bstrDescription && std::wstring(excep.bstrDescription) == L"It went wrong");
  CHECK(excep.scode == E_FAIL);

  UINT count = 7;
  CHECK(SUCCEEDED(object->GetTypeInfoCount(&count)) && count == 0);
  ITypeInfo* info = nullptr;
  CHECK(object->GetTypeInfo(0, 0, &info) == E_NOTIMPL);
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
void InvokeFailsWhatTheBridgeCannotTake() {
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
  ComPtr<IDispatch> object(win32::Expose(ole::MakeRef<Greeter>()));
  for (const auto& c : cases) {
    std::printf("  %s\n", c.what);
    ExcepInfo excep;
    UINT position = 99;
    CHECK_EQ(c.call(object.get(), &excep, &position), DISP_E_EXCEPTION);
    CHECK_EQ(excep.scode, c.code);
    CHECK_EQ(win32::ToAnsi(excep.bstrSource), "win32_bridge_tests");
    CHECK_EQ(win32::ToAnsi(excep.bstrDescription), ole::SystemMessage(c.code));
    CHECK_EQ(c.call(object.get(), nullptr, &position), c.code);
    if (c.argument) CHECK_EQ(position, *c.argument);
    CHECK(Greets(object.get()));
  }
  // A caller that wants no result need not give a place for one.
  Variant name;
  PutName(name);
  DISPPARAMS one{name.get(), nullptr, 1, 0};
  CHECK_EQ(object->Invoke(kGreet, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
           S_OK);
}

// One of the program's objects served by a thread of its own, in another apartment, so that calls
// reach it through COM's marshalling as calls from another program do.
class ServedElsewhere {
 public:
  explicit ServedElsewhere(ole::Ref<ole::Dispatch> served = ole::MakeRef<Greeter>())
      : served_(std::move(served)), server_([this] { Serve(); }) {
    CoGetInterfaceAndReleaseStream(stream_.get_future().get(), IID_IDispatch,
                                   reinterpret_cast<void**>(proxy_.out()));
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
      ComPtr<IDispatch> object(win32::Expose(served_));
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
void AnArrayThroughComFailsAndTheServerKeepsServing() {
  ServedElsewhere served;
  CHECK(served.object() != nullptr);
  if (!served.object()) return;
  Variant array;
  array.get()->vt = VT_ARRAY | VT_I4;
  array.get()->parray = SafeArrayCreateVector(VT_I4, 0, 3);
  ExcepInfo excep;
  CHECK_EQ(Greet(served.object(), array.get(), &excep, nullptr), DISP_E_EXCEPTION);
  CHECK_EQ(excep.scode, DISP_E_TYPEMISMATCH);
  CHECK_EQ(win32::ToAnsi(excep.bstrDescription), ole::SystemMessage(DISP_E_TYPEMISMATCH));
  CHECK(Greets(served.object()));
}

// Each name of an object in another apartment is looked up there once, in whatever letter case it
// is called by, however often; a name the object does not know is asked for again at each call;
// and two objects do not share the identifiers of their names.
void NamesOfAnotherApartmentAreLookedUpOncePerObject() {
  const auto greeter = ole::MakeRef<Counting<Greeter>>();
  const auto welcomer = ole::MakeRef<Counting<Welcomer>>();
  ServedElsewhere served_greeter(greeter), served_welcomer(welcomer);
  CHECK(served_greeter.object() && served_welcomer.object());
  if (!served_greeter.object() || !served_welcomer.object()) return;
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
    std::printf("  %s of the %s\n", c.name, &c.object == &greeter_there ? "greeter" : "welcomer");
    std::optional<std::string> answer;
    ole::HResult code = S_OK;
    try {
      answer = ole::Get(c.object, c.name, {"Ann"}).AsString();
    } catch (const ole::OleError& e) {
      code = e.code();
    }
    CHECK_EQ(answer, c.answer);
    if (!c.answer) CHECK_EQ(code, DISP_E_UNKNOWNNAME);
    CHECK_EQ(greeter->lookups.load(), c.greeter_lookups);
    CHECK_EQ(welcomer->lookups.load(), c.welcomer_lookups);
  }
}

// The other entry points of an exposed object refuse a missing place for their answer.
void TheOtherEntryPointsRefuseNullPointers() {
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
  ComPtr<IDispatch> object(win32::Expose(ole::MakeRef<Greeter>()));
  for (const auto& c : cases) {
    std::printf("  %s\n", c.what);
    CHECK_EQ(c.call(object.get()), E_POINTER);
    CHECK(Greets(object.get()));
  }
}

// The class factory fails requests it cannot serve, an object that cannot be made among them, and
// then makes objects as before.
void TheClassFactoryFailsBadRequests() {
  bool refuse = false;
  ComPtr<IClassFactory> factory(win32::ExposeFactory(
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
    std::printf("  %s\n", c.what);
    void* out = &refuse;
    CHECK_EQ(c.call(factory.get(), c.with_place ? &out : nullptr), c.code);
    if (c.with_place) CHECK(out == nullptr);
    ComPtr<IDispatch> made;
    CHECK_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(made.out())),
             S_OK);
    CHECK(made.get() && Greets(made.get()));
  }
}

void ObjectsComeBackAsThemselves() {
  ole::Ref<ole::Dispatch> ours = ole::MakeRef<Greeter>();
  ComPtr<IDispatch> offered(win32::Expose(ours));
  CHECK(win32::Wrap(offered.get()).get() == ours.get());
}

void SystemObjectThroughTheDispatchInterface() {
  ole::Ref<ole::Dispatch> created;
  const ole::HResult hr = ole::Com::Default().CreateObject("Scripting.Dictionary", &created);
  CHECK(SUCCEEDED(hr));
  if (FAILED(hr)) return;
  ole::Value dictionary(created);
  ole::Call(dictionary, "Add", {"key", 7});
  CHECK(ole::Get(dictionary, "Count") == ole::Value(1));
  CHECK(ole::Get(dictionary, "Exists", {"key"}) == ole::Value(true));
  CHECK(ole::Get(dictionary, "Exists", {"other"}) == ole::Value(false));
  bool raised = false;
  try {
    ole::Call(dictionary, "NoSuchMember");
  } catch (const ole::OleError& e) {
    raised = e.code() == DISP_E_UNKNOWNNAME;
  }
  CHECK(raised);
  // One of the program's objects handed to the system object comes back as itself.
  ole::Ref<ole::Dispatch> greeter = ole::MakeRef<Greeter>();
  ole::Call(dictionary, "Add", {"greeter", ole::Value(greeter)});
  std::vector<ole::DispId> ids;
  CHECK(SUCCEEDED(created->GetIDsOfNames({"Item"}, &ids)));
  ole::DispParams key{{ole::Value("greeter")}, {}};
  ole::Value got;
  CHECK(SUCCEEDED(created->Invoke(ids.at(0), ole::kPropertyGet, key, &got, nullptr, nullptr)));
  CHECK(got.type() == ole::VarType::kObject && got.AsObject().get() == greeter.get());
}

const wintest::Test kTests[] = {
    {"ProgramObjectThroughIDispatch", ProgramObjectThroughIDispatch},
    {"InvokeFailsWhatTheBridgeCannotTake", InvokeFailsWhatTheBridgeCannotTake},
    {"AnArrayThroughComFailsAndTheServerKeepsServing",
     AnArrayThroughComFailsAndTheServerKeepsServing},
    {"NamesOfAnotherApartmentAreLookedUpOncePerObject",
     NamesOfAnotherApartmentAreLookedUpOncePerObject},
    {"TheOtherEntryPointsRefuseNullPointers", TheOtherEntryPointsRefuseNullPointers},
    {"TheClassFactoryFailsBadRequests", TheClassFactoryFailsBadRequests},
    {"ObjectsComeBackAsThemselves", ObjectsComeBackAsThemselves},
    {"SystemObjectThroughTheDispatchInterface", SystemObjectThroughTheDispatchInterface},
};

}  // namespace

int main() {
  ole::Com::Default().Initialize();
  const int status = wintest::RunTests(kTests);
  ole::Com::Default().Uninitialize();
  return status;
}
