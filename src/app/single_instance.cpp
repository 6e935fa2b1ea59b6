#include "app/single_instance.h"

#include <utility>

namespace app {

bool ClaimSingleInstance(win::UniqueHandle& held, const wchar_t* name) {
  win::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, name));
  const DWORD error = ::GetLastError();
  if (mutex ? error == ERROR_ALREADY_EXISTS : error == ERROR_ACCESS_DENIED) return false;
  held = std::move(mutex);
  return true;
}

}  // namespace app
