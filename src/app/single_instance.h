// One copy of the program at a time, whatever rights each copy was started with.
#pragma once

#include <windows.h>

#include "win/unique.h"

namespace app {

inline constexpr wchar_t kInstanceMutex[] = L"Local\\Kestrelay.Pellucidor.Running";

// Takes the mutex that marks a running copy and keeps it in held; false when another copy has it.
// A copy started elevated has one that a copy at normal rights may not even open: that counts as
// another copy too. Where no mutex can be made at all, the program runs.
bool ClaimSingleInstance(win::UniqueHandle& held, const wchar_t* name = kInstanceMutex);

}  // namespace app
