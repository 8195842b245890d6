#include "platform/com.h"

namespace quillet::ole {

Ref<Dispatch> Com::CreateOleObject(const std::string& progid) {
  Ref<Dispatch> object;
  if (HResult r = CreateObject(progid, &object); hr::Failed(r)) throw OleError(r);
  return object;
}

}  // namespace quillet::ole
