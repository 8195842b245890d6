// Object creation and class registration with OLE: CoCreateInstance by ProgID and
// CoRegisterClassObject for the program's class, through the automation bridge.
#include <windows.h>

#include "platform/com.h"
#include "platform/win32/ole_bridge.h"

namespace quillet {

namespace {

class WindowsCom : public ole::Com {
 public:
  ole::HResult Initialize() override { return OleInitialize(nullptr); }
  void Uninitialize() override { OleUninitialize(); }

  ole::HResult RegisterClassObject(const std::string& clsid, ole::Ref<ole::ClassFactory> factory,
                                   std::uint32_t* cookie) override {
    CLSID id;
    win32::Bstr text(clsid);
    if (const HRESULT hr = CLSIDFromString(text.get(), &id); FAILED(hr)) return hr;
    const auto offered = win32::ComPtr<IClassFactory>::Adopt(win32::ExposeFactory(factory));
    DWORD registration = 0;
    const HRESULT hr = CoRegisterClassObject(id, offered.get(), CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &registration);
    *cookie = registration;
    return hr;
  }

  ole::HResult RevokeClassObject(std::uint32_t cookie) override {
    return CoRevokeClassObject(cookie);
  }

  ole::HResult CreateObject(const std::string& progid, ole::Ref<ole::Dispatch>* object) override {
    CLSID id;
    win32::Bstr text(progid);
    if (const HRESULT hr = CLSIDFromProgID(text.get(), &id); FAILED(hr)) return hr;
    win32::ComPtr<IDispatch> created;
    const HRESULT hr = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        IID_IDispatch, reinterpret_cast<void**>(created.put()));
    if (FAILED(hr)) return hr;
    *object = win32::Wrap(created.get());
    return S_OK;
  }
};

}  // namespace

ole::Com& ole::Com::Default() {
  static WindowsCom com;
  return com;
}

}  // namespace quillet
