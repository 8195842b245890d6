// Value conversion as the system does it, for platforms without OLE automation: the rules of
// VariantChangeTypeEx for the types the program uses, with the default locale's number format.
#include <cctype>
#include <cmath>
#include <limits>

#include "base/text.h"
#include "platform/automation.h"

namespace quillet::ole {

namespace {

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

HResult ChangeScalarType(const Value& in, VarType to, Value* out) {
  switch (to) {
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
    default:
      return hr::kBadVarType;
  }
}

}  // namespace quillet::ole
