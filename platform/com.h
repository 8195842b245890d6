// Port: object creation and class registration (OleInitialize, CoRegisterClassObject,
// CoRevokeClassObject, creation by ProgID).
#pragma once

#include <cstdint>
#include <string>

#include "platform/automation.h"

namespace quillet::ole {

// The interfaces a creation request can ask for.
enum class Interface { kUnknown, kDispatch, kOther };

// A class object (IClassFactory).
class ClassFactory : public RefCounted {
 public:
  virtual HResult CreateInstance(bool aggregated, Interface iid, Ref<Dispatch>* object) = 0;
  virtual HResult LockServer(bool lock) = 0;
};

class Com {
 public:
  virtual ~Com() = default;
  // The implementation of the platform this program was built for.
  static Com& Default();

  virtual HResult Initialize() = 0;
  virtual void Uninitialize() = 0;
  // Offers a class to every client, for as long as it stays registered (multiple use).
  virtual HResult RegisterClassObject(const std::string& clsid, Ref<ClassFactory> factory,
                                      std::uint32_t* cookie) = 0;
  virtual HResult RevokeClassObject(std::uint32_t cookie) = 0;
  // Looks up the class registered for `progid` and creates an instance, in this process or in a
  // local server, asking it for its dispatch interface.
  virtual HResult CreateObject(const std::string& progid, Ref<Dispatch>* object) = 0;

  // CreateObject that raises OleError with the system's message on failure.
  Ref<Dispatch> CreateOleObject(const std::string& progid);
};

}  // namespace quillet::ole
