#include "platform/win32/ole_bridge.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <vector>

namespace quillet::win32 {

namespace {

// Asked of an IDispatch to find out whether it is one of the program's own objects.
// {4E0B6A35-3C1F-4A9D-9A2B-6F3E1D7C5B21}
const IID kExposedIid = {
    0x4e0b6a35, 0x3c1f, 0x4a9d, {0x9a, 0x2b, 0x6f, 0x3e, 0x1d, 0x7c, 0x5b, 0x21}};

std::string FromBstr(BSTR text) {
  return text ? ToAnsi(text, SysStringLen(text)) : std::string();
}

// A pointer a COM caller must supply; a null one fails the call.
template <typename T>
T* Required(T* pointer) {
  if (!pointer) throw ole::OleError(E_POINTER);
  return pointer;
}

// The source of the failures the bridge itself reports: the program's file name without folder
// and extension, the name automation clients know the server by.
const std::string& ProgramName() {
  static const std::string name = [] {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return std::filesystem::path(path).stem().string();
  }();
  return name;
}

// Hands a failure to a caller of Invoke, who then owns the strings.
void Fill(EXCEPINFO* excep, const ole::ExcepInfo& info) {
  *excep = EXCEPINFO{};
  excep->bstrSource = Bstr(info.source).release();
  excep->bstrDescription = Bstr(info.description).release();
  excep->scode = info.scode;
}

// The exception being handled, as the failure of a call.
ole::ExcepInfo CurrentFailure() {
  try {
    throw;
  } catch (const ole::OleError& e) {
    return {ProgramName(), e.what(), e.code()};
  } catch (const std::bad_alloc&) {
    return {ProgramName(), ole::SystemMessage(E_OUTOFMEMORY), E_OUTOFMEMORY};
  } catch (const std::exception& e) {
    return {ProgramName(), e.what(), E_FAIL};
  } catch (...) {
    return {ProgramName(), ole::SystemMessage(E_UNEXPECTED), E_UNEXPECTED};
  }
}

// Runs the body of a COM entry point. A C++ exception must not unwind into the caller, COM's stub
// or another module, which cannot handle it and would leave the server hung or ended: it becomes
// the call's failure instead. Its code is returned; a caller of Invoke that passed an EXCEPINFO
// gets DISP_E_EXCEPTION with code and message there, as for a failure of the program's objects.
template <typename Body>
HRESULT Guarded(EXCEPINFO* excep, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    try {
      const ole::ExcepInfo failure = CurrentFailure();
      if (!excep) return failure.scode;
      Fill(excep, failure);
      return DISP_E_EXCEPTION;
    } catch (...) {  // no memory left even for the message
      return E_OUTOFMEMORY;
    }
  }
}

// The IUnknown part of a COM object the bridge makes: interface I, which it answers for under
// IUnknown and the identifiers `kOffered`, and its reference count. The object is born with one
// reference, its creator's, and deletes itself when the last one is released.
template <typename I, const IID&... kOffered>
class ComObject : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || (IsEqualIID(iid, kOffered) || ...)) {
      *out = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

// The program's automation object as an IDispatch.
class Exposed final : public ComObject<IDispatch, IID_IDispatch, kExposedIid> {
 public:
  explicit Exposed(ole::Ref<ole::Dispatch> object) : object_(std::move(object)) {}

  const ole::Ref<ole::Dispatch>& object() const { return object_; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return Guarded(nullptr, [&] {
      *Required(count) = object_->GetTypeInfoCount();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return Guarded(nullptr, [&] {
      *Required(info) = nullptr;
      return object_->GetTypeInfo(index);
    });
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return Guarded(nullptr, [&] {
      if (count > 0) {
        Required(names);
        Required(ids);
      }
      std::vector<std::string> ansi;
      for (UINT i = 0; i < count; ++i) ansi.push_back(ToAnsi(names[i]));
      std::vector<ole::DispId> found;
      const HRESULT result = object_->GetIDsOfNames(ansi, &found);
      for (UINT i = 0; i < count; ++i) ids[i] = i < found.size() ? found[i] : DISPID_UNKNOWN;
      return result;
    });
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_error) override {
    return Guarded(excep,
                   [&] { return Call(id, flags, *Required(params), result, excep, arg_error); });
  }

 private:
  ~Exposed() override = default;

  // Invoke's work, in the program's values: the arguments taken, the object called, by-reference
  // arguments and the result handed back.
  HRESULT Call(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* excep,
               UINT* arg_error) {
    const UINT count = params.cArgs;
    if (count > 0) Required(params.rgvarg);
    if (params.cNamedArgs > 0) Required(params.rgdispidNamedArgs);
    // Storage for by-reference arguments, written back after the call.
    std::vector<std::string> strings(count);
    std::vector<std::int32_t> integers(count);
    ole::DispParams ours;
    for (UINT i = 0; i < count; ++i) {
      const VARIANT& arg = params.rgvarg[i];
      // A caller without an EXCEPINFO learns from `arg_error` which argument did not convert.
      if (arg_error) *arg_error = i;
      if (arg.vt == (VT_BYREF | VT_BSTR)) {
        strings[i] = FromBstr(*Required(arg.pbstrVal));
        ours.args.emplace_back(&strings[i]);
      } else if (arg.vt == (VT_BYREF | VT_I4)) {
        integers[i] = *Required(arg.plVal);
        ours.args.emplace_back(&integers[i]);
      } else {
        ours.args.push_back(FromVariant(arg));
      }
    }
    ours.named.assign(params.rgdispidNamedArgs, params.rgdispidNamedArgs + params.cNamedArgs);

    ole::Value answer;
    ole::ExcepInfo info;
    std::uint32_t position = 0;
    HRESULT hr = object_->Invoke(id, flags, ours, result ? &answer : nullptr, &info, &position);
    // A call from another process always arrives with a place for the result, whether its caller
    // wanted one or not; a member without a result is then called as if none was asked for.
    // The member refuses before its body runs, so the second call is the only one that acts.
    if (hr == DISP_E_MEMBERNOTFOUND && result)
      hr = object_->Invoke(id, flags, ours, nullptr, &info, &position);
    for (UINT i = 0; i < count; ++i) {
      VARIANT& arg = params.rgvarg[i];
      if (arg.vt == (VT_BYREF | VT_BSTR)) {
        SysFreeString(*arg.pbstrVal);
        *arg.pbstrVal = Bstr(strings[i]).release();
      } else if (arg.vt == (VT_BYREF | VT_I4)) {
        *arg.plVal = integers[i];
      }
    }
    if (hr == DISP_E_EXCEPTION && excep) Fill(excep, info);
    if (arg_error) *arg_error = position;
    if (SUCCEEDED(hr) && result) {
      VariantInit(result);
      ToVariant(answer, result);
    }
    return hr;
  }

  ole::Ref<ole::Dispatch> object_;
};

// A COM object behind the program's dispatch interface. The identifiers of the names it was asked
// for are kept for its lifetime: from another process every lookup is a round trip, and the
// program calls the same few members of an object again and again (a body rebuilt line by line is
// thousands of calls of one member). They are kept per object, never by the object's address,
// which a later object may get.
class Client final : public ole::Dispatch {
 public:
  explicit Client(IDispatch* object) : object_(ComPtr<IDispatch>::Share(object)) {}

  ole::HResult GetIDsOfNames(const std::vector<std::string>& names,
                             std::vector<ole::DispId>* ids) override {
    std::vector<std::wstring> wide;
    for (const std::string& name : names) {
      Bstr text(name);
      wide.emplace_back(text.get(), SysStringLen(text.get()));
    }
    const std::vector<std::wstring> key = CaseFolded(wide);
    {
      const std::lock_guard<std::mutex> lock(known_mutex_);
      if (const auto found = known_.find(key); found != known_.end()) {
        *ids = found->second;
        return S_OK;
      }
    }
    std::vector<LPOLESTR> pointers;
    for (std::wstring& name : wide) pointers.push_back(name.data());
    std::vector<DISPID> found(names.size(), DISPID_UNKNOWN);
    // Not under the lock: while an apartment waits for the answer, calls into it are served, and
    // one of those may look a name up on this object.
    const HRESULT hr =
        object_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()),
                               LOCALE_SYSTEM_DEFAULT, found.data());
    ids->assign(found.begin(), found.end());
    if (hr == S_OK) {
      const std::lock_guard<std::mutex> lock(known_mutex_);
      known_.emplace(key, *ids);
    }
    return hr;
  }

  ole::HResult Invoke(ole::DispId id, std::uint16_t flags, ole::DispParams& params,
                      ole::Value* result, ole::ExcepInfo* excep,
                      std::uint32_t* arg_error) override {
    const std::size_t count = params.args.size();
    // The arguments' VARIANTs, and what the by-reference ones point to, are owned here from the
    // moment they exist: an argument that fails to convert frees those made before it.
    std::vector<Variant> args(count);
    std::vector<Bstr> strings(count);
    std::vector<LONG> integers(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
      const ole::Value& arg = params.args[i];
      VARIANT& variant = *args[i].get();
      if (arg.type() == ole::VarType::kStringRef) {
        // The callee may free the string and put another in its place.
        BSTR* place = strings[i].Receive();
        *place = Bstr(*arg.AsStringRef()).release();
        variant.vt = VT_BYREF | VT_BSTR;
        variant.pbstrVal = place;
      } else if (arg.type() == ole::VarType::kIntRef) {
        integers[i] = *arg.AsIntRef();
        variant.vt = VT_BYREF | VT_I4;
        variant.plVal = &integers[i];
      } else {
        ToVariant(arg, args[i].Receive());
      }
    }
    std::vector<DISPID> named(params.named.begin(), params.named.end());
    DISPPARAMS dispatch_params{args.empty() ? nullptr : args.front().get(), named.data(),
                               static_cast<UINT>(count), static_cast<UINT>(named.size())};
    Variant answer;
    EXCEPINFO info{};
    UINT position = 0;
    const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &dispatch_params,
                                       result ? answer.Receive() : nullptr, &info, &position);
    if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    // The failure's strings are the caller's to free.
    const Bstr source = Bstr::Adopt(info.bstrSource);
    const Bstr description = Bstr::Adopt(info.bstrDescription);
    const Bstr help_file = Bstr::Adopt(info.bstrHelpFile);
    for (std::size_t i = 0; i < count; ++i) {
      const ole::Value& arg = params.args[i];
      if (arg.type() == ole::VarType::kStringRef)
        *arg.AsStringRef() = FromBstr(strings[i].get());
      else if (arg.type() == ole::VarType::kIntRef)
        *arg.AsIntRef() = integers[i];
    }
    if (hr == DISP_E_EXCEPTION && excep)
      *excep = {FromBstr(source.get()), FromBstr(description.get()),
                info.scode ? info.scode : E_FAIL};
    if (arg_error) *arg_error = position;
    if (SUCCEEDED(hr) && result) *result = FromVariant(*answer.get());
    return hr;
  }

  // The COM object itself, with a reference for the caller.
  IDispatch* Share() {
    object_->AddRef();
    return object_.get();
  }

  std::uint32_t GetTypeInfoCount() override {
    UINT count = 0;
    object_->GetTypeInfoCount(&count);
    return count;
  }
  ole::HResult GetTypeInfo(std::uint32_t index) override {
    ComPtr<ITypeInfo> info;
    return object_->GetTypeInfo(index, LOCALE_SYSTEM_DEFAULT, info.put());
  }

 private:
  // Names compare without regard to case, as OLE compares them.
  static std::vector<std::wstring> CaseFolded(std::vector<std::wstring> names) {
    for (std::wstring& name : names) CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return names;
  }

  ComPtr<IDispatch> object_;
  std::mutex known_mutex_;
  std::map<std::vector<std::wstring>, std::vector<ole::DispId>> known_;
};

// The program's class factory as an IClassFactory.
class ExposedFactory final : public ComObject<IClassFactory, IID_IClassFactory> {
 public:
  explicit ExposedFactory(ole::Ref<ole::ClassFactory> factory) : factory_(std::move(factory)) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return Guarded(nullptr, [&] {
      *Required(out) = nullptr;
      const ole::Interface which = IsEqualIID(iid, IID_IUnknown)    ? ole::Interface::kUnknown
                                   : IsEqualIID(iid, IID_IDispatch) ? ole::Interface::kDispatch
                                                                    : ole::Interface::kOther;
      ole::Ref<ole::Dispatch> object;
      const HRESULT hr = factory_->CreateInstance(outer != nullptr, which, &object);
      if (FAILED(hr)) return hr;
      *out = Expose(object);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    return Guarded(nullptr, [&] { return factory_->LockServer(lock != FALSE); });
  }

 private:
  ~ExposedFactory() override = default;

  ole::Ref<ole::ClassFactory> factory_;
};

}  // namespace

Bstr::Bstr(const std::string& ansi) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  b_ = SysAllocStringLen(nullptr, length);
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), b_, length);
}

std::string ToAnsi(const wchar_t* wide, int length, bool* lost) {
  if (lost) *lost = false;
  if (!wide) return {};
  // Never a look-alike letter ("D" for "Ď"): a name shown with a plausible wrong letter names
  // someone else.
  const int size =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, nullptr);
  std::string ansi(size, '\0');
  BOOL defaulted = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, ansi.data(), size, nullptr,
                      &defaulted);
  if (lost) *lost = defaulted != FALSE;
  if (length < 0 && !ansi.empty()) ansi.pop_back();  // the terminating zero
  return ansi;
}

void ToVariant(const ole::Value& value, VARIANT* out) {
  VariantInit(out);
  switch (value.type()) {
    case ole::VarType::kEmpty:
      break;
    case ole::VarType::kBool:
      out->vt = VT_BOOL;
      out->boolVal = value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case ole::VarType::kInt:
      out->vt = VT_I4;
      out->lVal = value.AsInt();
      break;
    case ole::VarType::kString:
      out->vt = VT_BSTR;
      out->bstrVal = Bstr(value.AsString()).release();
      break;
    case ole::VarType::kObject:
      out->vt = VT_DISPATCH;
      out->pdispVal = Expose(value.AsObject());
      break;
    case ole::VarType::kMissing:
      out->vt = VT_ERROR;
      out->scode = DISP_E_PARAMNOTFOUND;
      break;
    case ole::VarType::kIntRef:
    case ole::VarType::kStringRef:
      throw ole::OleError(DISP_E_BADVARTYPE);
  }
}

ole::Value FromVariant(const VARIANT& in) {
  if (in.vt & VT_BYREF) Required(in.byref);
  switch (in.vt) {
    case VT_BYREF | VT_VARIANT:
      return FromVariant(*in.pvarVal);
    case VT_EMPTY:
    case VT_NULL:
      return ole::Value();
    case VT_BOOL:
      return ole::Value(in.boolVal != VARIANT_FALSE);
    case VT_BSTR:
      return ole::Value(FromBstr(in.bstrVal));
    case VT_BYREF | VT_BSTR:
      return ole::Value(FromBstr(*in.pbstrVal));
    case VT_DISPATCH:
      return in.pdispVal ? ole::Value(Wrap(in.pdispVal)) : ole::Value();
    case VT_UNKNOWN: {
      ComPtr<IDispatch> dispatch;
      if (in.punkVal && SUCCEEDED(in.punkVal->QueryInterface(
                            IID_IDispatch, reinterpret_cast<void**>(dispatch.put()))))
        return ole::Value(Wrap(dispatch.get()));
      return ole::Value();
    }
    case VT_ERROR:
      if (in.scode == DISP_E_PARAMNOTFOUND) return ole::Value::Omitted();
      return ole::Value(static_cast<std::int32_t>(in.scode));
    default: {
      // Every other number is taken as a 32-bit integer, as the system converts it.
      Variant converted;
      if (FAILED(VariantChangeTypeEx(converted.get(), const_cast<VARIANT*>(&in),
                                     LOCALE_SYSTEM_DEFAULT, 0, VT_I4)))
        throw ole::OleError(DISP_E_TYPEMISMATCH);
      return ole::Value(static_cast<std::int32_t>(converted.get()->lVal));
    }
  }
}

IDispatch* Expose(const ole::Ref<ole::Dispatch>& object) {
  if (auto* client = dynamic_cast<Client*>(object.get())) return client->Share();
  return new Exposed(object);
}

ole::Ref<ole::Dispatch> Wrap(IDispatch* object) {
  ComPtr<IDispatch> own;
  if (SUCCEEDED(object->QueryInterface(kExposedIid, reinterpret_cast<void**>(own.put()))))
    return static_cast<Exposed*>(own.get())->object();
  return ole::MakeRef<Client>(object);
}

IClassFactory* ExposeFactory(const ole::Ref<ole::ClassFactory>& factory) {
  return new ExposedFactory(factory);
}

}  // namespace quillet::win32
