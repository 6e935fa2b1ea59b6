// Programs of the system, started by full path: a bare name is looked for in the program's own
// folder and the current folder first, where anyone may have left a file of that name.
#pragma once

#include <string>
#include <string_view>

namespace win {

// The full path of a program in the system folder, else in the Windows folder; empty when
// neither holds it.
std::wstring SystemProgramPath(std::wstring_view fileName);

}  // namespace win
