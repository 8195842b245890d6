// The bridge between the program's automation model and real OLE automation: VARIANTs to and
// from values, the program's automation objects offered to COM as IDispatch, COM's IDispatch
// objects called through the dispatch interface, and class factories in both directions. Whatever
// fails in a call COM makes into the bridge, a C++ exception included, reaches the caller as a
// status code.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::win32 {

// Owns one COM interface reference.
template <typename I>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(I* adopted) : p_(adopted) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(ComPtr other) {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() {
    if (p_) p_->Release();
  }
  I* get() const { return p_; }
  I* operator->() const { return p_; }
  I** out() {
    *this = ComPtr();
    return &p_;
  }
  I* detach() { return std::exchange(p_, nullptr); }

 private:
  I* p_ = nullptr;
};

// Owns a BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::string& ansi);
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR detach() { return std::exchange(b_, nullptr); }

 private:
  BSTR b_ = nullptr;
};

// Owns a VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }

 private:
  VARIANT v_;
};

// ANSI text to and from the wide text of BSTRs, through the ANSI code page.
std::string ToAnsi(const wchar_t* wide, int length = -1);

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
