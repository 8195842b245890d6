#include "platform/linux/process_com.h"

#include "base/text.h"

namespace quillet {

namespace linux_platform {

using namespace ole;

HResult ProcessCom::Initialize() {
  return ++initializations_ == 1 ? hr::kOk : hr::kFalse;
}

void ProcessCom::Uninitialize() {
  if (initializations_ > 0) --initializations_;
}

HResult ProcessCom::RegisterClassObject(const std::string& clsid, Ref<ClassFactory> factory,
                                        std::uint32_t* cookie) {
  if (!factory) return hr::kPointer;
  *cookie = next_cookie_++;
  classes_[*cookie] = Registration{clsid, std::move(factory)};
  return hr::kOk;
}

HResult ProcessCom::RevokeClassObject(std::uint32_t cookie) {
  return classes_.erase(cookie) ? hr::kOk : hr::kUnexpected;
}

HResult ProcessCom::CreateObject(const std::string& progid, Ref<Dispatch>* object) {
  const std::optional<std::string> clsid = registry_.QueryValue(progid + "\\Clsid");
  if (!clsid) return hr::kInvalidClassString;
  // The newest registration of a class wins, as with the system's class table.
  for (auto it = classes_.rbegin(); it != classes_.rend(); ++it) {
    if (EqualsIgnoreCase(it->second.clsid, *clsid)) {
      Ref<ClassFactory> factory = it->second.factory;  // the call may revoke the registration
      return factory->CreateInstance(false, Interface::kDispatch, object);
    }
  }
  return hr::kClassNotRegistered;
}

}  // namespace linux_platform

ole::Com& ole::Com::Default() {
  static linux_platform::ProcessCom com(Registry::Default());
  return com;
}

}  // namespace quillet
