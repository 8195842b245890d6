// Value conversion by the system: VariantChangeTypeEx with the system default locale.
#include <windows.h>

#include "platform/automation.h"
#include "platform/win32/ole_bridge.h"

namespace quillet::ole {

HResult ChangeScalarType(const Value& in, VarType to, Value* out) {
  VARTYPE type = VT_EMPTY;
  switch (to) {
    case VarType::kBool:
      type = VT_BOOL;
      break;
    case VarType::kInt:
      type = VT_I4;
      break;
    case VarType::kString:
      type = VT_BSTR;
      break;
    default:
      return hr::kBadVarType;
  }
  // The system would ask an object for its default member; the program's values never mean that.
  if (in.type() == VarType::kObject) return hr::kTypeMismatch;
  win32::Variant source, converted;
  win32::ToVariant(in, source.get());
  const HRESULT r =
      VariantChangeTypeEx(converted.get(), source.get(), LOCALE_SYSTEM_DEFAULT, 0, type);
  if (FAILED(r)) return r;
  *out = win32::FromVariant(*converted.get());
  return hr::kOk;
}

}  // namespace quillet::ole
