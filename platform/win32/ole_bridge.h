// The bridge between the program's automation model and real OLE automation: VARIANTs to and
// from values, the program's automation objects offered to COM as IDispatch, COM's IDispatch
// objects called through the dispatch interface, and class factories in both directions. Whatever
// fails in a call COM makes into the bridge, a C++ exception included, reaches the caller as a
// status code.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <utility>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::win32 {

// Owns one COM interface reference; Adopt and Share say whose reference a raw pointer is.
template <typename I>
using ComPtr = ole::Ref<I>;

// Owns a BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::string& ansi);
  // Takes over a BSTR the caller was given to free.
  static Bstr Adopt(BSTR b) {
    Bstr owner;
    owner.b_ = b;
    return owner;
  }
  Bstr(Bstr&& other) noexcept : b_(other.release()) {}
  Bstr& operator=(Bstr&& other) noexcept {
    SysFreeString(std::exchange(b_, other.release()));
    return *this;
  }
  ~Bstr() { SysFreeString(b_); }

  BSTR get() const { return b_; }
  BSTR release() { return std::exchange(b_, nullptr); }
  // For the functions that return a BSTR through a pointer: the one held is freed first.
  BSTR* Receive() {
    SysFreeString(release());
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

// Owns a VARIANT. An array of them is an array of VARIANTs, as DISPPARAMS takes it.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Variant& operator=(Variant&& other) noexcept {
    if (this != &other) {
      VariantClear(&v_);
      v_ = other.v_;
      VariantInit(&other.v_);
    }
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  VARIANT* get() { return &v_; }
  // For the functions that fill a VARIANT: what it held is freed first.
  VARIANT* Receive() {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

// ANSI text to and from the wide text of BSTRs, through the ANSI code page. A character the code
// page lacks becomes "?", and `lost`, when given, says whether one did.
std::string ToAnsi(const wchar_t* wide, int length = -1, bool* lost = nullptr);

// A value as a VARIANT the caller then owns. By-reference values cannot be converted this way.
void ToVariant(const ole::Value& value, VARIANT* out);
// A VARIANT as a value; by-reference VARIANTs are taken by their value.
ole::Value FromVariant(const VARIANT& in);

// The program's automation object offered to COM; an object that came from COM is handed back
// as itself.
IDispatch* Expose(const ole::Ref<ole::Dispatch>& object);
// A COM object as the program's dispatch interface; the program's own objects come back as
// themselves.
ole::Ref<ole::Dispatch> Wrap(IDispatch* object);

// The program's class factory offered to COM.
IClassFactory* ExposeFactory(const ole::Ref<ole::ClassFactory>& factory);

}  // namespace quillet::win32
