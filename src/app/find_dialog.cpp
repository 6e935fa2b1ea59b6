#include "app/find_dialog.h"

#include <dlgs.h>

#include <string_view>
#include <utility>
#include <vector>

#include "win/report.h"

namespace app {
namespace {

// Laid out as the resource compiler lays out a DIALOG of the system's Find dialog, in dialog units,
// without its Match whole word and Help.
std::vector<WORD> FindTemplate() {
  struct Item {
    DWORD style;
    short x, y, cx, cy;
    WORD id, classAtom;
    const wchar_t* text;
  };
  constexpr WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82;
  static constexpr Item kItems[] = {
      {SS_LEFT | WS_GROUP, 4, 8, 42, 8, 0xFFFF, kStatic, L"Fi&nd what:"},
      {ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP, 47, 7, 128, 12, edt1, kEdit, L""},
      {BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 4, 38, 64, 12, chx2, kButton, L"Match &case"},
      {BS_GROUPBOX | WS_GROUP, 107, 26, 68, 28, grp1, kButton, L"Direction"},
      {BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 111, 38, 25, 12, rad1, kButton, L"&Up"},
      {BS_AUTORADIOBUTTON, 138, 38, 35, 12, rad2, kButton, L"&Down"},
      {BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 182, 5, 50, 14, IDOK, kButton, L"&Find Next"},
      {BS_PUSHBUTTON | WS_TABSTOP, 182, 23, 50, 14, IDCANCEL, kButton, L"Cancel"},
  };
  std::vector<WORD> t;
  const auto add = [&t](std::initializer_list<WORD> words) {
    for (const WORD w : words) t.push_back(w);  // GCC 12 takes insert's copy for an overflow
  };
  const auto text = [&t](std::wstring_view s) {
    t.insert(t.end(), s.begin(), s.end());
    t.push_back(0);
  };
  const DWORD style =
      WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT;
  // Style, extended style, items, x, y, cx, cy; no menu, the dialog class; title; font.
  add({LOWORD(style), HIWORD(style), 0, 0, static_cast<WORD>(std::size(kItems)), 30, 73, 236, 58, 0, 0});
  text(L"Find");
  add({8});
  text(L"MS Shell Dlg");
  for (const Item& i : kItems) {
    if (t.size() % 2) t.push_back(0);  // each item on a DWORD
    const DWORD s = i.style | WS_CHILD | WS_VISIBLE;
    add({LOWORD(s), HIWORD(s), 0, 0, static_cast<WORD>(i.x), static_cast<WORD>(i.y), static_cast<WORD>(i.cx),
         static_cast<WORD>(i.cy), i.id, 0xFFFF, i.classAtom});
    text(i.text);
    add({0});  // no creation data
  }
  return t;
}

}  // namespace

FindDialog::FindDialog(std::function<void(const FindRequest&)> onFindNext, std::function<void(bool)> onClosed)
    : onFindNext_(std::move(onFindNext)), onClosed_(std::move(onClosed)) {}

FindDialog::~FindDialog() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void FindDialog::Open(HWND owner, const FindRequest& what) {
  if (hwnd_) return;
  opening_ = what;
  const std::vector<WORD> layout = FindTemplate();
  (void)::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr),
                                     reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));  // none: no Find
}

INT_PTR CALLBACK FindDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    if (msg == WM_INITDIALOG) {
      ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      reinterpret_cast<FindDialog*>(lParam)->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<FindDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
      case WM_INITDIALOG:
        self->Dialog_Init();
        return TRUE;  // the keyboard on the first control that takes it: the text, selected
      case WM_COMMAND:
        self->Dialog_Command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
      case WM_NCDESTROY:
        self->hwnd_ = nullptr;
        return FALSE;
    }
  } catch (...) {
    win::ReportCaught(L"find dialog");
  }
  return FALSE;
}

void FindDialog::Dialog_Init() {
  ::SetDlgItemTextW(hwnd_, edt1, opening_.text.c_str());
  ::CheckDlgButton(hwnd_, chx2, opening_.matchCase ? BST_CHECKED : BST_UNCHECKED);
  ::CheckRadioButton(hwnd_, rad1, rad2, opening_.down ? rad2 : rad1);
  ::EnableWindow(::GetDlgItem(hwnd_, IDOK), !opening_.text.empty());
}

void FindDialog::Dialog_Command(int id, int code) {
  if (id == edt1 && code == EN_CHANGE) {
    ::EnableWindow(::GetDlgItem(hwnd_, IDOK), ::GetWindowTextLengthW(::GetDlgItem(hwnd_, edt1)) > 0);
  } else if (id == IDOK && code == BN_CLICKED) {
    FindNext_Click();
  } else if (id == IDCANCEL) {
    Close();
  }
}

void FindDialog::FindNext_Click() {
  const HWND edit = ::GetDlgItem(hwnd_, edt1);
  FindRequest request;
  request.text.resize(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1);
  request.text.resize(static_cast<size_t>(
      ::GetWindowTextW(edit, request.text.data(), static_cast<int>(request.text.size()))));
  if (request.text.empty()) return;  // Enter while Find Next is greyed
  request.matchCase = ::IsDlgButtonChecked(hwnd_, chx2) == BST_CHECKED;
  request.down = ::IsDlgButtonChecked(hwnd_, rad2) == BST_CHECKED;
  onFindNext_(request);
}

void FindDialog::Close() {
  const bool active = ::GetActiveWindow() == hwnd_;
  ::DestroyWindow(hwnd_);
  onClosed_(active);
}

}  // namespace app
