// Small window and file routines of the main window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace app {

inline constexpr wchar_t kHomePage[] = L"https://kestrelay.example/";

// Places the window in the middle of the screen without changing its size.
void CenterForm(HWND form);

// True when the file system can tell the path's last-modified time.
bool FileExists(const std::wstring& path);

// n = floor(r * 100) + 1 for r in [0, 1): the page opens for n = 7 only, once in a hundred starts.
bool IsHomePageDraw(double r);
// random: a uniform draw in [0, 1), seeded from the time of day unless a test supplies one.
void OpenHomePageByChance(const std::function<double()>& random = {});

// The dots per inch the window is shown at; the system's own for no window.
int WindowDpi(HWND hwnd);
// A system metric (SM_CXSMICON, ...) as it is at the given DPI.
int SystemMetricForDpi(int metric, int dpi);

}  // namespace app
