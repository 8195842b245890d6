// The automation bridge under Windows (or Wine): the program's automation objects called through
// a real IDispatch, a system COM object called through the program's dispatch interface, and
// objects that cross twice coming back as themselves. Prints "N passed, M failed" last.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/autoobject.h"
#include "platform/com.h"
#include "platform/win32/ole_bridge.h"
#include "tests/win32/check.h"

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
                                                          .Property("Count", &Greeter::Count));
    return table;
  }
  std::string Greet(const std::string& name) { return "Hello " + name; }
  void Swap(std::string& text, std::int32_t& number) {
    text = "swapped " + text;
    number = number * 2;
  }
  void Fail() { throw Error("It went wrong"); }
  std::int32_t Count() { return 42; }
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

  EXCEPINFO excep{};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  CHECK(object->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &excep, nullptr) ==
        DISP_E_EXCEPTION);
  CHECK(excep.bstrSource && std::wstring(excep.bstrSource) == L"Greeter");
  CHECK(excep.bstrDescription && std::wstring(excep.bstrDescription) == L"It went wrong");
  CHECK(excep.scode == E_FAIL);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);

  UINT count = 7;
  CHECK(SUCCEEDED(object->GetTypeInfoCount(&count)) && count == 0);
  ITypeInfo* info = nullptr;
  CHECK(object->GetTypeInfo(0, 0, &info) == E_NOTIMPL);
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
