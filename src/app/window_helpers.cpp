#include "app/window_helpers.h"

#include <shellapi.h>

#include <cmath>
#include <random>

#include "win/system_program.h"

namespace app {

void CenterForm(HWND form) {
  RECT r{};
  ::GetWindowRect(form, &r);
  const double width = r.right - r.left, height = r.bottom - r.top;
  const double left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const double top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  ::SetWindowPos(form, nullptr, static_cast<int>(left), static_cast<int>(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool FileExists(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != FALSE;
}

bool IsHomePageDraw(double r) {
  return static_cast<int>(std::floor(r * 100)) + 1 == 7;
}

void OpenHomePageByChance(const std::function<double()>& random) {
  double r = 0;
  if (random) {
    r = random();
  } else {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    const double seconds = t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
    std::mt19937 gen(static_cast<unsigned>(seconds * 1000));
    r = std::uniform_real_distribution<double>(0.0, 1.0)(gen);
  }
  if (!IsHomePageDraw(r)) return;
  const std::wstring args = std::wstring(L"\"") + kHomePage + L"\"";
  // By its full path: by name alone, an explorer.exe beside us would run.
  const std::wstring explorer = win::SystemProgramPath(L"explorer.exe");
  if (explorer.empty()) return;
  (void)::ShellExecuteW(nullptr, nullptr, explorer.c_str(), args.c_str(), nullptr,
                        SW_SHOWMINIMIZED);  // best effort
}

int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi && hwnd) {
    if (const UINT dpi = getDpi(hwnd)) return static_cast<int>(dpi);
  }
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

int SystemMetricForDpi(int metric, int dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = reinterpret_cast<GetSystemMetricsForDpiFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
  if (forDpi) return forDpi(metric, static_cast<UINT>(dpi));
  // Before Windows 10 (1607) the metrics are those of the system's DPI.
  return ::MulDiv(::GetSystemMetrics(metric), dpi, WindowDpi(nullptr));
}

}  // namespace app
