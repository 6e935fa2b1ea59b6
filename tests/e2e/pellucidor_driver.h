// Drives the real Pellucidor.exe from outside, as a user would: started from its own folder, its
// list read across processes, its buttons clicked, its window closed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "win/unique.h"

namespace e2e {

struct Row {
  std::wstring text, type;
  bool operator==(const Row&) const = default;
};

class Pellucidor {
 public:
  // Copies the built executable into folder (once) and starts it from there.
  explicit Pellucidor(const std::wstring& folder);
  ~Pellucidor();
  Pellucidor(const Pellucidor&) = delete;
  Pellucidor& operator=(const Pellucidor&) = delete;

  bool Start();
  // Asks the window to close and waits for the process to end; returns its exit code.
  DWORD Close();
  void Kill();
  bool Running() const;

  HWND hwnd() const { return hwnd_; }
  HWND Control(int id) const { return ::GetDlgItem(hwnd_, id); }
  HWND List() const { return Control(101); }
  HWND TrayWindow() const;
  const std::wstring& exe() const { return exe_; }

  std::vector<Row> Rows() const;
  std::vector<std::wstring> Texts() const;
  void SelectRow(int index) const;
  void DoubleClickRow(int index) const;
  // Minimises the window, as the user does to hide it in the tray; true once it is hidden.
  bool MinimiseToTray() const;
  void Click(int buttonId) const { ::SendMessageW(Control(buttonId), BM_CLICK, 0, 0); }
  // Real input through the X server, for what only it gives: the keyboard's focus and Ctrl held as
  // a user holds it. Each step clicks a row (-1: below the last one) and presses keys (xdotool's
  // names). Nothing tells when it is done: wait for the effect.
  struct ClickAndKeys {
    int row;
    const char* keys;
  };
  void Press(const std::vector<ClickAndKeys>& steps) const;
  // Keys to a window that takes them itself, such as an open menu.
  void Press(HWND window, const char* keys) const;
  // Releases the right button on the tray icon, as the shell reports it; the menu it opens, or null.
  HWND OpenTrayMenu() const;
  // Waits until the list holds n rows, or lists text.
  bool WaitForRows(size_t n, DWORD timeoutMs = 10000) const;
  bool WaitForText(const std::wstring& text, DWORD timeoutMs = 10000) const;

 private:
  std::wstring exe_;
  // A point inside a row, or below the last one for -1, in the list's client pixels.
  POINT RowPoint(int index) const;
  win::UniqueHandle process_;
  DWORD pid_ = 0;
  HWND hwnd_ = nullptr;
  // Watches the window from the moment it is ready until it is closed or killed.
  std::unique_ptr<testsupport::AnswerProbe> probe_;
};

// Finds the top-level window of a class that belongs to a process.
HWND FindProcessWindow(DWORD pid, const wchar_t* className);
// Whether real input can be given: under Wine, with xdotool installed.
bool HasRealInput();

}  // namespace e2e
