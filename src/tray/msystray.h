// The window procedure that receives the shell's notifications on a cSysTray's own window.
#pragma once

#include <windows.h>

namespace mSysTray {

// One slot for the program: at most one cSysTray may have its icon added at a time.
extern WNDPROC TrayPrevWndProc;

LRESULT CALLBACK TrayWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The message the shell broadcasts when the task bar has been created anew.
UINT TaskbarCreatedMessage();

}  // namespace mSysTray
