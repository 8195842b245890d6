// Automation objects with a declared table of members: the server side of the dispatch
// interface, shared by every automation class of the program and of the simulated mail client.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::ole {

enum class MemberKind { kMethod, kProperty };
enum class ParamType { kString, kInt, kVariant, kStringRef, kIntRef, kOptional };
enum class ResultType { kNone, kString, kInt, kBool, kVariant };

// The arguments of one call, converted to the declared parameter types, in natural order.
class Args {
 public:
  explicit Args(std::vector<Value> values) : values_(std::move(values)) {}
  const std::string& String(std::size_t i) const { return values_.at(i).AsString(); }
  std::int32_t Int(std::size_t i) const { return values_.at(i).AsInt(); }
  const Value& Variant(std::size_t i) const { return values_.at(i); }
  std::string& StringRef(std::size_t i) const { return *values_.at(i).AsStringRef(); }
  std::int32_t& IntRef(std::size_t i) const { return *values_.at(i).AsIntRef(); }

 private:
  std::vector<Value> values_;
};

// A trailing parameter that callers may leave out, as COM's optional parameters; left out, or
// passed as omitted, it holds Value::Omitted().
struct Optional {
  Value value;
  bool given() const { return value.type() != VarType::kMissing; }
};

class AutoObject;

struct Member {
  DispId id;
  std::string name;
  MemberKind kind;
  ResultType result;
  std::vector<ParamType> params;
  std::function<Value(AutoObject&, const Args&)> body;
  // Writable properties: the type of the assigned value and the body that takes it.
  std::optional<ParamType> put_type;
  std::function<void(AutoObject&, const Args&)> put;
};

namespace detail {
template <typename P>
struct Param;
template <>
struct Param<const std::string&> {
  static constexpr ParamType kType = ParamType::kString;
  static const std::string& Get(const Args& a, std::size_t i) { return a.String(i); }
};
template <>
struct Param<std::int32_t> {
  static constexpr ParamType kType = ParamType::kInt;
  static std::int32_t Get(const Args& a, std::size_t i) { return a.Int(i); }
};
template <>
struct Param<const Value&> {
  static constexpr ParamType kType = ParamType::kVariant;
  static const Value& Get(const Args& a, std::size_t i) { return a.Variant(i); }
};
template <>
struct Param<const Optional&> {
  static constexpr ParamType kType = ParamType::kOptional;
  static Optional Get(const Args& a, std::size_t i) { return {a.Variant(i)}; }
};
template <>
struct Param<std::string&> {
  static constexpr ParamType kType = ParamType::kStringRef;
  static std::string& Get(const Args& a, std::size_t i) { return a.StringRef(i); }
};
template <>
struct Param<std::int32_t&> {
  static constexpr ParamType kType = ParamType::kIntRef;
  static std::int32_t& Get(const Args& a, std::size_t i) { return a.IntRef(i); }
};

template <typename R>
struct Result;
template <>
struct Result<void> {
  static constexpr ResultType kType = ResultType::kNone;
};
template <>
struct Result<std::string> {
  static constexpr ResultType kType = ResultType::kString;
};
template <>
struct Result<std::int32_t> {
  static constexpr ResultType kType = ResultType::kInt;
};
template <>
struct Result<bool> {
  static constexpr ResultType kType = ResultType::kBool;
};
template <>
struct Result<Value> {
  static constexpr ResultType kType = ResultType::kVariant;
};

template <typename C, typename R, typename... P, std::size_t... I>
Value CallMember(C& object, R (C::*fn)(P...), const Args& args, std::index_sequence<I...>) {
  if constexpr (std::is_void_v<R>) {
    (object.*fn)(Param<P>::Get(args, I)...);
    return Value();
  } else {
    return Value((object.*fn)(Param<P>::Get(args, I)...));
  }
}
}  // namespace detail

// The members of one automation class in declaration order. A class's table extends its base
// class's table: its own members are numbered after the base's last identifier, and a lookup by
// name searches the own members before the base's, so a re-declared member hides the base one
// by name while the base body stays reachable by its identifier. Member signatures give the
// declared parameter and result types.
class DispatchTable {
 public:
  explicit DispatchTable(std::string class_name, const DispatchTable* base = nullptr);

  template <typename C, typename R, typename... P>
  DispatchTable& Method(std::string name, R (C::*fn)(P...)) {
    return Add(std::move(name), MemberKind::kMethod, fn);
  }
  template <typename C, typename R>
  DispatchTable& Property(std::string name, R (C::*fn)()) {
    return Add(std::move(name), MemberKind::kProperty, fn);
  }
  // A property that can also be assigned.
  template <typename C, typename R, typename P>
  DispatchTable& Property(std::string name, R (C::*get)(), void (C::*set)(P)) {
    Add(std::move(name), MemberKind::kProperty, get);
    Member& member = members_.back();
    member.put_type = detail::Param<P>::kType;
    member.put = [set](AutoObject& self, const Args& args) {
      detail::CallMember(static_cast<C&>(self), set, args, std::index_sequence<0>{});
    };
    return *this;
  }

  const std::string& class_name() const { return class_name_; }
  const Member* Find(DispId id) const;
  // Case-insensitive; the most derived declaration wins.
  const Member* Find(std::string_view name) const;

 private:
  template <typename C, typename R, typename... P>
  DispatchTable& Add(std::string name, MemberKind kind, R (C::*fn)(P...)) {
    members_.push_back(Member{static_cast<DispId>(members_.size() + 1),
                              std::move(name),
                              kind,
                              detail::Result<R>::kType,
                              {detail::Param<P>::kType...},
                              [fn](AutoObject& self, const Args& args) {
                                return detail::CallMember(static_cast<C&>(self), fn, args,
                                                          std::index_sequence_for<P...>{});
                              },
                              std::nullopt,
                              {}});
    levels_.back() = members_.size();
    return *this;
  }

  std::string class_name_;
  std::vector<Member> members_;
  // End of each class level in members_, base class first.
  std::vector<std::size_t> levels_;
};

// The number of automation objects in existence plus the server locks that clients hold.
class LiveObjects {
 public:
  static int Count();
  static void Add();
  static void Remove();
};

// A reference-counted automation object answering the dispatch interface from its table.
// Failures of a call are answered as COM does: unknown names and identifiers, wrong kinds,
// named or missing arguments, wrong counts (optional parameters may be left out) and types, failed
// conversions with the argument's position, and an escaping exception as DISP_E_EXCEPTION with the
// class name as source.
class AutoObject : public Dispatch {
 public:
  HResult GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>* ids) override;
  HResult Invoke(DispId id, std::uint16_t flags, DispParams& params, Value* result,
                 ExcepInfo* excep, std::uint32_t* arg_error) override;
  std::uint32_t GetTypeInfoCount() override { return 0; }
  HResult GetTypeInfo(std::uint32_t) override { return hr::kNotImpl; }

 protected:
  explicit AutoObject(const DispatchTable& table);
  ~AutoObject() override;

 private:
  const DispatchTable& table_;
};

// A class object that refuses aggregation and makes a new object for every request.
class AutoObjectFactory : public ClassFactory {
 public:
  explicit AutoObjectFactory(std::function<Ref<Dispatch>()> create) : create_(std::move(create)) {}
  HResult CreateInstance(bool aggregated, Interface iid, Ref<Dispatch>* object) override;
  HResult LockServer(bool lock) override;

 private:
  std::function<Ref<Dispatch>()> create_;
};

}  // namespace quillet::ole
