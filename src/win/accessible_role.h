// What screen readers are told a control is, where the system's own description says otherwise.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <utility>

namespace win {

// Gives each window its accessible role (a ROLE_SYSTEM_ value), keeping everything else the
// system says of it; false where the platform keeps no such annotation (Wine does not).
bool SetAccessibleRoles(std::initializer_list<std::pair<HWND, long>> roles);

}  // namespace win
