#include "platform/automation.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "base/text.h"

namespace quillet::ole {

namespace {

template <typename T>
const T& Expect(const auto& v) {
  if (const T* p = std::get_if<T>(&v)) return *p;
  throw OleError(hr::kTypeMismatch);
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// A decimal number as the system parses it: blanks around it, an optional sign, digits and an
// optional fraction, rounded half to even.
HResult ParseNumber(const std::string& text, double* number) {
  const std::string t = Trim(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  double value = 0;
  bool digits = false;
  for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
    value = value * 10 + (t[i] - '0');
    digits = true;
  }
  if (i < t.size() && t[i] == '.') {
    double scale = 0.1;
    for (++i; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i) {
      value += (t[i] - '0') * scale;
      scale /= 10;
      digits = true;
    }
  }
  if (!digits || i != t.size()) return hr::kTypeMismatch;
  *number = negative ? -value : value;
  return hr::kOk;
}

HResult ToInt(const Value& in, std::int32_t* out) {
  switch (in.type()) {
    case VarType::kEmpty:
      *out = 0;
      return hr::kOk;
    case VarType::kBool:
      *out = in.AsBool() ? -1 : 0;
      return hr::kOk;
    case VarType::kInt:
      *out = in.AsInt();
      return hr::kOk;
    case VarType::kString: {
      double number = 0;
      if (HResult r = ParseNumber(in.AsString(), &number); hr::Failed(r)) return r;
      number = std::nearbyint(number);  // the default rounding mode rounds half to even
      if (number < std::numeric_limits<std::int32_t>::min() ||
          number > std::numeric_limits<std::int32_t>::max())
        return hr::kOverflow;
      *out = static_cast<std::int32_t>(number);
      return hr::kOk;
    }
    default:
      return hr::kTypeMismatch;
  }
}

HResult ToBool(const Value& in, bool* out) {
  switch (in.type()) {
    case VarType::kEmpty:
      *out = false;
      return hr::kOk;
    case VarType::kBool:
      *out = in.AsBool();
      return hr::kOk;
    case VarType::kInt:
      *out = in.AsInt() != 0;
      return hr::kOk;
    case VarType::kString: {
      const std::string t = Trim(in.AsString());
      if (EqualsIgnoreCase(t, "true")) {
        *out = true;
        return hr::kOk;
      }
      if (EqualsIgnoreCase(t, "false")) {
        *out = false;
        return hr::kOk;
      }
      double number = 0;
      if (HResult r = ParseNumber(t, &number); hr::Failed(r)) return r;
      *out = number != 0;
      return hr::kOk;
    }
    default:
      return hr::kTypeMismatch;
  }
}

HResult ToString(const Value& in, std::string* out) {
  switch (in.type()) {
    case VarType::kEmpty:
      out->clear();
      return hr::kOk;
    case VarType::kBool:
      *out = in.AsBool() ? "-1" : "0";
      return hr::kOk;
    case VarType::kInt:
      *out = std::to_string(in.AsInt());
      return hr::kOk;
    case VarType::kString:
      *out = in.AsString();
      return hr::kOk;
    default:
      return hr::kTypeMismatch;
  }
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
    case VarType::kBool: {
      bool b = false;
      HResult r = ToBool(in, &b);
      if (!hr::Failed(r)) *out = Value(b);
      return r;
    }
    case VarType::kInt: {
      std::int32_t i = 0;
      HResult r = ToInt(in, &i);
      if (!hr::Failed(r)) *out = Value(i);
      return r;
    }
    case VarType::kString: {
      std::string s;
      HResult r = ToString(in, &s);
      if (!hr::Failed(r)) *out = Value(std::move(s));
      return r;
    }
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
