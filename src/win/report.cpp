#include "win/report.h"

#include <windows.h>

#include <cstdio>
#include <exception>

namespace win {

void ReportCaught(std::wstring_view where) noexcept {
  // A fixed buffer: the failure may be that memory ran out.
  wchar_t text[512];
  const char* what = "an exception of no known kind";
  try {
    if (const std::exception_ptr caught = std::current_exception()) std::rethrow_exception(caught);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  std::swprintf(text, std::size(text), L"Pellucidor: %.*ls: %hs\n", static_cast<int>(where.size()),
                where.data(), what);
  ::OutputDebugStringW(text);
}

}  // namespace win
