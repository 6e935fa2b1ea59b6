#include "win/accessible_role.h"

#include <initguid.h>  // the annotation service's identifiers, defined here
#include <oleacc.h>

#include <memory>

namespace win {
namespace {

struct ComRelease {
  void operator()(IUnknown* object) const noexcept { object->Release(); }
};

}  // namespace

// Annotated on the system's own description rather than answered by one of ours: its name, state,
// keyboard shortcut and default action stay as the system gives them, also to UI Automation.
bool SetAccessibleRoles(std::initializer_list<std::pair<HWND, long>> roles) {
  // Left initialised on the thread: the annotations live on with the service's library, which
  // uninitialising could unload.
  (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IAccPropServices* created = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(&created))))
    return false;
  const std::unique_ptr<IAccPropServices, ComRelease> services(created);
  for (const auto& [window, role] : roles) {
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = role;
    if (FAILED(services->SetHwndProp(window, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_ROLE, value)))
      return false;
  }
  return true;
}

}  // namespace win
