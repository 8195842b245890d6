// Object creation on Linux: class objects registered in this process, found through the
// registry's ProgID entries exactly as COM finds them, so the program and the simulated mail
// client reach each other only through the dispatch interface.
#pragma once

#include <map>

#include "platform/com.h"
#include "platform/registry.h"

namespace quillet::linux_platform {

class ProcessCom : public ole::Com {
 public:
  explicit ProcessCom(Registry& registry) : registry_(registry) {}

  ole::HResult Initialize() override;
  void Uninitialize() override;
  ole::HResult RegisterClassObject(const std::string& clsid, ole::Ref<ole::ClassFactory> factory,
                                   std::uint32_t* cookie) override;
  ole::HResult RevokeClassObject(std::uint32_t cookie) override;
  ole::HResult CreateObject(const std::string& progid, ole::Ref<ole::Dispatch>* object) override;

  int initializations() const { return initializations_; }

 private:
  struct Registration {
    std::string clsid;
    ole::Ref<ole::ClassFactory> factory;
  };

  Registry& registry_;
  std::map<std::uint32_t, Registration> classes_;
  std::uint32_t next_cookie_ = 1;
  int initializations_ = 0;
};

}  // namespace quillet::linux_platform
