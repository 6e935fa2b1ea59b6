// Drives the real Pellucidor.exe from outside, as a user would: started from its own folder, its
// list read across processes, its buttons clicked, its window closed.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

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
  // Waits until the list holds n rows.
  bool WaitForRows(size_t n, DWORD timeoutMs = 5000) const;

 private:
  std::wstring exe_;
  win::UniqueHandle process_;
  DWORD pid_ = 0;
  HWND hwnd_ = nullptr;
};

// Measures how long a window takes to answer, from another thread, for as long as it lives: the
// longest wait is the longest time the window did not answer.
class AnswerProbe {
 public:
  explicit AnswerProbe(HWND window);
  ~AnswerProbe();
  AnswerProbe(const AnswerProbe&) = delete;
  AnswerProbe& operator=(const AnswerProbe&) = delete;
  double LongestMs();

 private:
  static DWORD WINAPI Run(void* self);
  HWND window_;
  volatile LONG stop_ = 0;
  volatile LONG longestUs_ = 0;
  win::UniqueHandle thread_;
};

// Finds the top-level window of a class that belongs to a process.
HWND FindProcessWindow(DWORD pid, const wchar_t* className);

}  // namespace e2e
