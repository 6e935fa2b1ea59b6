// The Find dialog: the controls, texts and keys of the system's common one (Find what, Match case,
// Direction Up or Down, Find Next, Cancel, with the ids of <dlgs.h>), from a template of our own, so
// that its edit box is a Unicode window everywhere: Wine's own keeps the text in the ANSI code page.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace app {

struct FindRequest {
  std::wstring text;
  bool matchCase = false, down = true;
};

class FindDialog {
 public:
  // onFindNext: Find Next pressed, with what the dialog holds. onClosed: Cancel, Escape or the close
  // box, with whether the dialog was the active window.
  FindDialog(std::function<void(const FindRequest&)> onFindNext,
             std::function<void(bool wasActive)> onClosed);
  ~FindDialog();
  FindDialog(const FindDialog&) = delete;
  FindDialog& operator=(const FindDialog&) = delete;

  // Shows the dialog, modeless and owned by owner, holding what.
  void Open(HWND owner, const FindRequest& what);
  HWND hwnd() const { return hwnd_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void Dialog_Init();
  void Dialog_Command(int id, int code);
  void FindNext_Click();
  void Close();

  std::function<void(const FindRequest&)> onFindNext_;
  std::function<void(bool)> onClosed_;
  HWND hwnd_ = nullptr;
  FindRequest opening_;  // what the dialog shows when it opens
};

}  // namespace app
