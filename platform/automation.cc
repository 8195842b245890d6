#include "platform/automation.h"

namespace quillet::ole {

namespace {

template <typename T>
const T& Expect(const auto& v) {
  if (const T* p = std::get_if<T>(&v)) return *p;
  throw OleError(hr::kTypeMismatch);
}

}  // namespace

bool Value::AsBool() const {
  return Expect<bool>(v_);
}
std::int32_t Value::AsInt() const {
  return Expect<std::int32_t>(v_);
}
const std::string& Value::AsString() const {
  return Expect<std::string>(v_);
}
const Ref<Dispatch>& Value::AsObject() const {
  const Ref<Dispatch>& object = Expect<Ref<Dispatch>>(v_);
  if (!object) throw OleError(hr::kTypeMismatch);
  return object;
}
std::int32_t* Value::AsIntRef() const {
  return Expect<std::int32_t*>(v_);
}
std::string* Value::AsStringRef() const {
  return Expect<std::string*>(v_);
}

Value Value::Dereferenced() const {
  if (type() == VarType::kIntRef) return Value(*AsIntRef());
  if (type() == VarType::kStringRef) return Value(*AsStringRef());
  return *this;
}

HResult ChangeType(const Value& source, VarType to, Value* out) {
  const Value in = source.Dereferenced();
  switch (to) {
    case VarType::kEmpty:
      *out = Value();
      return hr::kOk;
    case VarType::kBool:
    case VarType::kInt:
    case VarType::kString:
      return ChangeScalarType(in, to, out);
    case VarType::kObject:
      if (in.type() != VarType::kObject) return hr::kTypeMismatch;
      *out = in;
      return hr::kOk;
    default:
      return hr::kBadVarType;
  }
}

Value Convert(const Value& in, VarType to) {
  Value out;
  if (HResult r = ChangeType(in, to, &out); hr::Failed(r)) throw OleError(r);
  return out;
}

OleError::OleError(HResult code, const std::string& description)
    : Error(description.empty() ? SystemMessage(code) : description), code_(code) {}

namespace {

Value InvokeByName(const Value& holder, const std::string& name, std::uint16_t flags,
                   std::vector<Value> args, std::vector<DispId> named, bool want_result) {
  const Ref<Dispatch>& object = holder.AsObject();
  std::vector<DispId> ids;
  if (HResult r = object->GetIDsOfNames({name}, &ids); hr::Failed(r)) throw OleError(r);
  DispParams params{{args.rbegin(), args.rend()}, std::move(named)};
  Value result;
  ExcepInfo excep;
  std::uint32_t arg_error = 0;
  HResult r =
      object->Invoke(ids.at(0), flags, params, want_result ? &result : nullptr, &excep, &arg_error);
  if (r == hr::kException) throw OleError(excep.scode ? excep.scode : r, excep.description);
  if (hr::Failed(r)) throw OleError(r);
  return result;
}

}  // namespace

Value Call(const Value& object, const std::string& name, std::vector<Value> args) {
  return InvokeByName(object, name, kMethod, std::move(args), {}, false);
}

Value Get(const Value& object, const std::string& name, std::vector<Value> args) {
  const std::uint16_t flags = args.empty() ? kMethod | kPropertyGet : kMethod;
  return InvokeByName(object, name, flags, std::move(args), {}, true);
}

void Put(const Value& object, const std::string& name, Value value) {
  InvokeByName(object, name, kPropertyPut, {std::move(value)}, {kDispIdPropertyPut}, false);
}

}  // namespace quillet::ole
