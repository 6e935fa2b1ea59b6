// Where a failure that nothing else may see is told: to a debugger, never to the user.
#pragma once

#include <string_view>

namespace win {

// Called from a catch block: tells what was caught, and where. Never throws.
void ReportCaught(std::wstring_view where) noexcept;

}  // namespace win
