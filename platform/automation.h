// A portable model of late-bound OLE automation: values (VARIANT), status codes (HRESULT), the
// dispatch interface (IDispatch), intrusive reference counting, value conversion and a client
// helper that calls members by name. The Windows implementation bridges these types to the real
// COM ones; on Linux objects of both sides meet in one process through this model directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/error.h"

namespace quillet::ole {

using HResult = std::int32_t;
using DispId = std::int32_t;

// The status codes the program produces or tests for, with their COM values.
namespace hr {
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kNotImpl = static_cast<HResult>(0x80004001);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kUnexpected = static_cast<HResult>(0x8000FFFF);
inline constexpr HResult kMemberNotFound = static_cast<HResult>(0x80020003);
inline constexpr HResult kParamNotFound = static_cast<HResult>(0x80020004);
inline constexpr HResult kTypeMismatch = static_cast<HResult>(0x80020005);
inline constexpr HResult kUnknownName = static_cast<HResult>(0x80020006);
inline constexpr HResult kNoNamedArgs = static_cast<HResult>(0x80020007);
inline constexpr HResult kBadVarType = static_cast<HResult>(0x80020008);
inline constexpr HResult kException = static_cast<HResult>(0x80020009);
inline constexpr HResult kOverflow = static_cast<HResult>(0x8002000A);
inline constexpr HResult kBadParamCount = static_cast<HResult>(0x8002000E);
inline constexpr HResult kParamNotOptional = static_cast<HResult>(0x8002000F);
inline constexpr HResult kNoAggregation = static_cast<HResult>(0x80040110);
inline constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);
inline constexpr HResult kInvalidClassString = static_cast<HResult>(0x800401F3);
// A call to an object whose server process has ended, before the call or while it was under way.
inline constexpr HResult kDisconnected = static_cast<HResult>(0x80010108);
inline constexpr HResult kServerUnavailable = static_cast<HResult>(0x800706BA);
inline constexpr HResult kCallFailed = static_cast<HResult>(0x800706BE);

inline bool Failed(HResult code) {
  return code < 0;
}
inline bool ServerGone(HResult code) {
  return code == kDisconnected || code == kServerUnavailable || code == kCallFailed;
}
}  // namespace hr

// Dispatch identifiers with a fixed meaning.
inline constexpr DispId kDispIdUnknown = -1;
inline constexpr DispId kDispIdPropertyPut = -3;

// Invoke flags.
inline constexpr std::uint16_t kMethod = 1;
inline constexpr std::uint16_t kPropertyGet = 2;
inline constexpr std::uint16_t kPropertyPut = 4;

// Intrusive reference counting: an object is born with one reference, its creator's, and is
// destroyed when the last reference is released.
class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  std::uint32_t AddRef() { return ++refs_; }
  std::uint32_t Release() {
    std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  std::uint32_t RefCount() const { return refs_; }

 protected:
  virtual ~RefCounted() = default;

 private:
  std::atomic<std::uint32_t> refs_{1};
};

// Owns one reference to a reference-counted object: a RefCounted one, or a COM interface on
// Windows. A raw pointer becomes a Ref only through a named constructor that says whose reference
// it holds; copying a Ref adds a reference.
template <typename T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  // Takes over a reference the caller already holds (a new object's creator reference).
  static Ref Adopt(T* object) {
    Ref r;
    r.p_ = object;
    return r;
  }
  // Adds a reference of its own.
  static Ref Share(T* object) { return Adopt(Shared(object)); }
  Ref(const Ref& other) : p_(Shared(other.p_)) {}
  Ref(Ref&& other) noexcept : p_(other.release()) {}
  template <typename U>
  Ref(const Ref<U>& other) : p_(Shared(other.get())) {}
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { reset(); }

  void reset() {
    if (T* p = release()) p->Release();
  }
  // Hands the reference to the caller.
  T* release() { return std::exchange(p_, nullptr); }
  // For the functions that return a new reference through a pointer: the one held goes first.
  T** put() {
    reset();
    return &p_;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const Ref& other) const { return p_ == other.p_; }

 private:
  static T* Shared(T* object) {
    if (object) object->AddRef();
    return object;
  }

  T* p_ = nullptr;
};

// Makes a new object and adopts its creator reference.
template <typename T, typename... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>::Adopt(new T(std::forward<Args>(args)...));
}

class Value;
struct DispParams;
struct ExcepInfo;

// The dispatch interface (IDispatch) of an automation object.
class Dispatch : public RefCounted {
 public:
  // Looks up names; the first is a member name, the others would be parameter names.
  virtual HResult GetIDsOfNames(const std::vector<std::string>& names,
                                std::vector<DispId>* ids) = 0;
  // `result` is null when the caller wants no result; `arg_error` receives the index into
  // params.args of an argument that could not be taken.
  virtual HResult Invoke(DispId id, std::uint16_t flags, DispParams& params, Value* result,
                         ExcepInfo* excep, std::uint32_t* arg_error) = 0;
  virtual std::uint32_t GetTypeInfoCount() = 0;
  // No object of this program offers type information; the call exists to answer E_NOTIMPL.
  virtual HResult GetTypeInfo(std::uint32_t index) = 0;
};

// The kinds of value that pass through the dispatch interface.
enum class VarType { kEmpty, kBool, kInt, kString, kObject, kIntRef, kStringRef, kMissing };

// A VARIANT restricted to what the program passes. By-reference values point into storage the
// caller owns for the length of the call, as in COM.
class Value {
 public:
  struct Missing {
    bool operator==(const Missing&) const = default;
  };

  Value() = default;
  Value(bool b) : v_(b) {}
  Value(std::int32_t i) : v_(i) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Ref<Dispatch> object) : v_(std::move(object)) {}
  template <typename T>
  requires(std::is_base_of_v<Dispatch, T> && !std::is_same_v<T, Dispatch>)
      Value(const Ref<T>& object)
      : v_(Ref<Dispatch>(object)) {}
  Value(std::int32_t* ref) : v_(ref) {}
  Value(std::string* ref) : v_(ref) {}
  Value(Missing) : v_(Missing{}) {}
  // An omitted optional argument (VT_ERROR with DISP_E_PARAMNOTFOUND in COM).
  static Value Omitted() { return Value(Missing{}); }

  VarType type() const { return static_cast<VarType>(v_.index()); }
  bool IsEmpty() const { return type() == VarType::kEmpty; }

  // Strict accessors: the value must already be of that type, or Error is raised.
  bool AsBool() const;
  std::int32_t AsInt() const;
  const std::string& AsString() const;
  const Ref<Dispatch>& AsObject() const;
  std::int32_t* AsIntRef() const;
  std::string* AsStringRef() const;

  // The value a by-reference value points to; other values are returned unchanged.
  Value Dereferenced() const;

  bool operator==(const Value& other) const = default;

 private:
  std::variant<std::monostate, bool, std::int32_t, std::string, Ref<Dispatch>, std::int32_t*,
               std::string*, Missing>
      v_;
};

// Converts a value to another type the way the system conversion does (VariantChangeTypeEx with
// the system default locale): a text that is not a number becomes no integer (type mismatch), one
// out of range gives overflow. By-reference values are converted from what they point to.
// `to` is one of kEmpty, kBool, kInt, kString, kObject.
HResult ChangeType(const Value& in, VarType to, Value* out);
// The part of ChangeType that each platform implements: a value that is not by reference to
// kBool, kInt or kString.
HResult ChangeScalarType(const Value& in, VarType to, Value* out);

// Status information of a failed call (EXCEPINFO).
struct ExcepInfo {
  std::string source;
  std::string description;
  HResult scode = hr::kOk;
};

// Arguments of one call, stored as COM stores them: in reverse order (the last argument first),
// with the named arguments, if any, at the front and their identifiers in `named`.
struct DispParams {
  std::vector<Value> args;
  std::vector<DispId> named;
};

// A failed automation call or conversion: the message is the callee's description when it gave
// one, otherwise the system's message for the code.
class OleError : public Error {
 public:
  explicit OleError(HResult code, const std::string& description = {});
  HResult code() const { return code_; }

 private:
  HResult code_;
};

// The system's message text for a status or error code, without trailing full stop or line end.
// Each platform implementation supplies it.
std::string SystemMessage(std::int32_t code);

// Converts or raises OleError.
Value Convert(const Value& in, VarType to);

// Late-bound calls by name on the object a value holds, looking the name up at every call.
// Arguments are given in their natural order. Failures raise OleError, also when the value holds
// no object.
Value Call(const Value& object, const std::string& name, std::vector<Value> args = {});
// As Call, with the result wanted; with no arguments the member is invoked as method and
// property read at once, so a property and a method of that name both answer.
Value Get(const Value& object, const std::string& name, std::vector<Value> args = {});
// Assigns a property.
void Put(const Value& object, const std::string& name, Value value);

}  // namespace quillet::ole
