#include "app/form1.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>

#include <algorithm>
#include <new>
#include <utility>

#include "app/find_in_list.h"
#include "app/layout.h"
#include "app/resource_ids.h"
#include "history/disk_io.h"
#include "history/files_codec.h"
#include "history/settings.h"
#include "app/window_helpers.h"
#include "clip/clipboard.h"
#include "clip/mclip.h"
#include "clip/save_log.h"
#include "startup/mstartup.h"
#include "win/accessible_role.h"
#include "win/module.h"
#include "win/report.h"
#include "win/system_program.h"

namespace app {
namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
constexpr wchar_t kPointerFile[] = L"HAND-M.CUR";
constexpr UINT kMenuShow = 1, kMenuExit = 2, kMenuPause = 3;
constexpr UINT_PTR kTrayMenuTimer = 0x5460;
constexpr int kCtrlMask = 2;  // in a key's shift state

win::UniqueHfont MakeFont(double points, bool bold, int dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -PointsToPixels(points, dpi);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = ANSI_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  wcscpy_s(lf.lfFaceName, L"Arial");
  return win::UniqueHfont(::CreateFontIndirectW(&lf));
}

HICON LoadIconResource(int id, int size) {
  return static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

RECT PixelRect(const TwipRect& t, int dpi) {
  const int left = TwipsToPixels(t.left, dpi), top = TwipsToPixels(t.top, dpi);
  return RECT{left, top, left + TwipsToPixels(t.width, dpi), top + TwipsToPixels(t.height, dpi)};
}

}  // namespace

namespace {

history::HistoryStore::Options StoreOptions(const Form1Options& options, const HWND* window) {
  history::HistoryStore::Options o;
  o.foldAfterBytes = options.foldAfterBytes;
  // Once the message at hand is done: a change's own copy of a huge text is let go by then.
  o.wake = [window] { return ::PostMessageW(*window, kHistoryWork, 0, 0) != FALSE; };
  return o;
}

}  // namespace

Form1::Form1(Form1Options options)
    : options_(std::move(options)),
      settings_(options_.settingsKey),
      history_(std::make_unique<history::DiskFolder>(
                   options_.dataFolder.empty() ? history::DefaultDataFolder() : options_.dataFolder),
               std::make_unique<history::SettingsListValue>(settings_), StoreOptions(options_, &hwnd_)) {}

Form1::~Form1() {
  if (window_ && !unloaded_) Form_QueryUnload();
  cSysTray1.reset();
  window_.reset();
}

bool Form1::Create(HINSTANCE instance) {
  static const ATOM atom = [instance] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kFormClass;
    return ::RegisterClassExW(&wc);
  }();
  if (!atom) return false;
  whiteBrush_ = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  window_.reset(::CreateWindowExW(kFormExStyle, kFormClass, L"", kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  100, 100, nullptr, nullptr, instance, this));
  if (!window_) return false;
  // Started elevated, the window still hears a second start at normal rights.
  (void)::ChangeWindowMessageFilterEx(hwnd_, kShowRunningCopy, MSGFLT_ALLOW, nullptr);

  dpi_ = WindowDpi(hwnd_);
  RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi_), TwipsToPixels(kClientHeightTwips, dpi_)};
  ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
  ApplyIcons();

  Form_Load();
  // A start in the tray shows the window minimised; the minimise rule then hides it at once.
  ::ShowWindow(hwnd_, startMinimized_ ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
  ::UpdateWindow(hwnd_);
  if (!startMinimized_) ::SetFocus(Check5);
  return true;
}

HWND Form1::CreateCheckBox(int control) {
  const ControlDesign& d = kDesign[control];
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
  if (d.pushLike) style |= BS_PUSHLIKE | BS_MULTILINE | BS_CENTER;
  return ::CreateWindowExW(0, WC_BUTTONW, d.caption, style, 0, 0, 0, 0, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(d.id)), nullptr, nullptr);
}

void Form1::CreateControls() {
  // Created in tab order; placed by ApplyLayout.
  Check5 = CreateCheckBox(kCheck5);
  Check6 = CreateCheckBox(kCheck6);
  Check3 = CreateCheckBox(kCheck3);
  Check4 = CreateCheckBox(kCheck4);
  Check8 = CreateCheckBox(kCheck8);
  // Screen readers announce the push buttons as buttons: the system calls them check boxes, as it
  // rightly does the two others. Where no annotation is kept, the system's word stands.
  (void)win::SetAccessibleRoles(
      {{Check5, ROLE_SYSTEM_PUSHBUTTON}, {Check6, ROLE_SYSTEM_PUSHBUTTON}, {Check3, ROLE_SYSTEM_PUSHBUTTON}});
  ListView1.Create(hwnd_, kDesign[kListView1].id, kDesign[kListView1].caption, RECT{}, nullptr);
  ListView1.onDblClick = [this] { ListView1_DblClick(); };
  ListView1.onKeyDown = [this](WORD key, int shift) { ListView1_KeyDown(key, shift); };
  find_ = std::make_unique<FindInList>(hwnd_, ListView1);
  ApplyLayout();

  // The tray control, loaded with the values the window keeps for it.
  cSysTray1 = std::make_unique<tray::cSysTray>(true);
  tray::PropertyBag stored;
  stored.WriteProperty(L"intray", false);
  stored.WriteProperty(L"trayicon", tray::Picture::FromIcon(LoadIconResource(IDI_FLOPPY, 32)));
  stored.WriteProperty(L"traytip", std::wstring(L"Divave Zidova"));
  cSysTray1->ReadProperties(stored);
  cSysTray1->MouseDblClick = [this](int16_t& button, int32_t& id) { cSysTray1_MouseDblClick(button, id); };
  cSysTray1->MouseDown = [this](int16_t& button, int32_t& id) { cSysTray1_MouseDown(button, id); };
  cSysTray1->MouseUp = [this](int16_t& button, int32_t& id) { cSysTray1_MouseUp(button, id); };
}

// Positions, fonts and pictures for the window's current DPI: the design is in twips, so every
// size follows the screen.
void Form1::ApplyLayout() {
  win::UniqueHfont windowFont = MakeFont(9, false, dpi_);
  win::UniqueHfont boldFont = MakeFont(9, true, dpi_);
  win::UniqueHfont buttonFont = MakeFont(11.25, true, dpi_);
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont.get()), FALSE);

  const HWND controls[kControlCount] = {Check5, Check6, Check3, Check4, Check8, ListView1.hwnd()};
  for (int i = 0; i < kControlCount; ++i) {
    const RECT r = PixelRect(kDesign[i].rect, dpi_);
    ::SetWindowPos(controls[i], nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    const HFONT font = kDesign[i].pushLike ? buttonFont.get() : boldFont.get();
    ::SendMessageW(controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }

  // The pictures of the push buttons, centred above their captions, which may take three lines.
  const int iconSize = MulDiv(32, dpi_, 96);
  const int icons[3] = {IDI_CLIPBOARD, IDI_ERASER, IDI_BOOK};
  for (int i = 0; i < 3; ++i) {
    win::UniqueHimagelist images(ImageList_Create(iconSize, iconSize, ILC_COLOR32 | ILC_MASK, 1, 0));
    win::UniqueHicon icon(LoadIconResource(icons[i], iconSize));
    ImageList_AddIcon(images.get(), icon.get());
    BUTTON_IMAGELIST bil{};
    bil.himl = images.get();
    bil.margin = RECT{0, 0, 0, -MulDiv(14, dpi_, 96)};
    bil.uAlign = BUTTON_IMAGELIST_ALIGN_TOP;
    ::SendMessageW(controls[i], BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&bil));
    buttonImages_[i] = std::move(images);
  }
  windowFont_ = std::move(windowFont);
  boldFont_ = std::move(boldFont);
  buttonFont_ = std::move(buttonFont);
}

void Form1::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  ApplyLayout();
  ApplyIcons();
}

// The window's and the tray's pictures at the sizes the system shows them at for the DPI: one that
// the system scales itself blurs.
void Form1::ApplyIcons() {
  win::UniqueHicon bigIcon(LoadIconResource(IDI_WINDOW, SystemMetricForDpi(SM_CXICON, dpi_)));
  win::UniqueHicon smallIcon(LoadIconResource(IDI_WINDOW, SystemMetricForDpi(SM_CXSMICON, dpi_)));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
  windowIcon_ = std::move(bigIcon);
  windowSmallIcon_ = std::move(smallIcon);
  if (HICON trayIcon = LoadIconResource(IDI_FLOPPY, SystemMetricForDpi(SM_CXSMICON, dpi_)))
    cSysTray1->SetTrayIcon(tray::Picture::FromIcon(trayIcon));
}

void Form1::Form_Load() {
  CenterForm(hwnd_);
  IsLoading = true;
  ::SetWindowTextW(hwnd_, kCaption);
  OpenHomePageByChance(options_.random);
  const std::wstring pointerPath = win::ProgramFolder() + L"\\" + kPointerFile;
  if (FileExists(pointerPath)) {
    customPointer_.reset(static_cast<HCURSOR>(
        ::LoadImageW(nullptr, pointerPath.c_str(), IMAGE_CURSOR, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE)));
  }
  ListView1.AddColumnHeader(L"Saved Clipboard Entries");
  ListView1.AddColumnHeader(L"Clipboard Type");
  ListView1.SetColumnWidth(1, TwipsToPixels(kColumn1WidthTwips, dpi_));
  ListView1.SetColumnWidth(2, TwipsToPixels(kColumn2WidthTwips, dpi_));
  RestoreEntries();
  cSysTray1->SetTrayTip(history_.Partial() ? kPartialTip : kCaption);  // a start always records
  cSysTray1->SetInTray(true);
  SetValue(Check4, history::IsSwitchOn(history::GetSetting(settings_, L"Windows Startup", L"Off")) ? 1 : 0);
  SetValue(Check8, history::IsSwitchOn(history::GetSetting(settings_, L"Minimized", L"Off")) ? 1 : 0);
  startMinimized_ = Value(Check8) == 1;
  (void)clip::Clear(hwnd_);  // a clipboard that stays busy is simply not emptied
  mClip::CaptureEnabled = true;
  IsLoading = false;
  mClip::StartRecording(hwnd_, &history_, options_.log);
  mClip::HookWindow(hwnd_);
  mClip::CaptureBusy = false;
  mClip::NextViewerWnd = ::SetClipboardViewer(hwnd_);
}

void Form1::RestoreEntries() {
  history_.Load();
}

bool Form1::SaveEntries() {
  return history_.Store();
}

void Form1::Form_QueryUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  // Recording stops first: every copy read until now is a row before the list is stored. Each
  // step that may fail is on its own, so that the window always leaves the chain and the tray.
  mClip::StopRecording();
  try {
    (void)SaveEntries();  // closing goes on whatever the store answers
  } catch (...) {
    win::ReportCaught(L"storing the list at close");
  }
  cSysTray1->SetInTray(false);
  mClip::CaptureEnabled = false;
  mClip::LeaveViewerChain(hwnd_);
  mClip::UnhookWindow(hwnd_);
  win::DoEvents();
}

void Form1::Form_Resize() {
  if (!::IsIconic(hwnd_) || IsHiddenInTray) return;
  // Hidden, it keeps its minimised state: no call restores a window without showing it. It comes
  // back in the normal state when it is shown again.
  ::ShowWindow(hwnd_, SW_HIDE);
  IsHiddenInTray = true;
}

void Form1::ShowFromTray() {
  ::ShowWindow(hwnd_, ::IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(hwnd_);
  IsHiddenInTray = false;
}

void Form1::cSysTray1_MouseDblClick(int16_t& Button, int32_t& /*Id*/) {
  if (Button == 2) {
    (void)::KillTimer(hwnd_, kTrayMenuTimer);
    trayMenuPending_ = false;
    rightUpEndsDblClick_ = true;
  }
  ShowFromTray();
}

void Form1::cSysTray1_MouseDown(int16_t& Button, int32_t& /*Id*/) {
  if (Button == 2) rightUpEndsDblClick_ = false;
}

// The menu waits until a second click can no longer come: a right double-click shows the window.
void Form1::cSysTray1_MouseUp(int16_t& Button, int32_t& /*Id*/) {
  if (Button != 2 || std::exchange(rightUpEndsDblClick_, false)) return;
  trayMenuPending_ = ::SetTimer(hwnd_, kTrayMenuTimer, ::GetDoubleClickTime(), nullptr) != 0;
  if (!trayMenuPending_) ShowTrayMenu();
}

void Form1::TrayMenuTimer() {
  (void)::KillTimer(hwnd_, kTrayMenuTimer);
  trayMenuPending_ = false;
  ShowTrayMenu();
}

// Windows' rule for notification-area menus: the owner in front while the menu is open, and a
// message to it afterwards, or a click elsewhere leaves the menu standing.
void Form1::ShowTrayMenu() {
  win::UniqueHmenu menu(::CreatePopupMenu());
  const UINT pause = MF_STRING | (mClip::RecordingPaused() ? MF_CHECKED : MF_UNCHECKED);
  if (!menu || !::AppendMenuW(menu.get(), MF_STRING, kMenuShow, L"Show Pellucidor") ||
      !::AppendMenuW(menu.get(), pause, kMenuPause, L"Pause Recording") ||
      !::AppendMenuW(menu.get(), MF_STRING, kMenuExit, L"Exit")) {
    return;
  }
  (void)::SetMenuDefaultItem(menu.get(), kMenuShow, FALSE);  // what a double-click does
  POINT at{};
  (void)::GetCursorPos(&at);
  ::SetForegroundWindow(hwnd_);
  const UINT chosen = static_cast<UINT>(
      ::TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x,
                         at.y, hwnd_, nullptr));
  ::PostMessageW(hwnd_, WM_NULL, 0, 0);
  if (chosen == kMenuShow) {
    ShowFromTray();
  } else if (chosen == kMenuPause) {
    SetRecordingPaused(!mClip::RecordingPaused());
  } else if (chosen == kMenuExit) {
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);  // the normal close, once the tray's message is done
  }
}

void Form1::SetRecordingPaused(bool paused) {
  if (paused)
    mClip::PauseRecording();
  else
    mClip::ResumeRecording();
  cSysTray1->SetTrayTip(TrayTip());
}

// What the tray's tip says: the program's name, and why it records less than it would.
const wchar_t* Form1::TrayTip() const {
  return mClip::RecordingPaused() ? kPausedTip : history_.Partial() ? kPartialTip : kCaption;
}

void Form1::ListView1_DblClick() {
  if (const auto selected = ListView1.SelectedItem()) ListView1.Remove(*selected);
}

// The keyboard does what the mouse and the first button do.
void Form1::ListView1_KeyDown(WORD KeyCode, int Shift) {
  if (KeyCode == VK_DELETE && Shift == 0)
    ListView1_DblClick();
  else if ((KeyCode == VK_RETURN && Shift == 0) || (KeyCode == 'C' && Shift == kCtrlMask))
    PutSelectedEntryOnClipboard();
}

int Form1::Value(HWND check) {
  return ::SendMessageW(check, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void Form1::SetValue(HWND check, int value) {
  if (Value(check) == value) return;
  ::SendMessageW(check, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
  OnCommand(MAKEWPARAM(::GetDlgCtrlID(check), BN_CLICKED), reinterpret_cast<LPARAM>(check));
}

bool Form1::PushButtonRule(HWND check) {
  if (Value(check) != 1) return false;
  SetValue(check, 0);
  return true;
}

void Form1::Check3_Click() {
  if (!PushButtonRule(Check3)) return;
  const std::wstring path = clip::LogPathInUse(options_.log);
  std::wstring command = L"notepad \"" + path + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  // The system's Notepad by its full path: by name alone, a notepad.exe beside us would run.
  const std::wstring notepad = win::SystemProgramPath(L"notepad.exe");
  if (!notepad.empty() && ::CreateProcessW(notepad.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                           nullptr, nullptr, &si, &pi)) {
    win::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    return;
  }
  // No Notepad: the program the user has chosen for the log, which is named by its full path.
  (void)::ShellExecuteW(hwnd_, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Form1::Check5_Click() {
  if (!PushButtonRule(Check5)) return;
  PutSelectedEntryOnClipboard();
}

void Form1::PutSelectedEntryOnClipboard() {
  const auto selected = ListView1.SelectedItem();
  if (!selected) return;
  mClip::RecordPendingChanges();  // copies read before this one are logged before it
  const std::wstring text(ListView1.ItemText(*selected));
  mClip::CaptureEnabled = false;
  (void)clip::Clear(hwnd_);
  const bool written = clip::SetText(text, hwnd_);
  mClip::CaptureEnabled = true;
  // Said only when it is so: the entry stays where it was when another program held the clipboard.
  if (written)
    (void)clip::WriteLogLine(std::wstring(ListView1.ItemText(*selected)) + clip::kPutPhrase + clip::NowText(),
                             options_.log);
}

void Form1::Check6_Click() {
  if (!PushButtonRule(Check6)) return;
  mClip::RecordPendingChanges();  // copies read before the click are cleared with the rest
  ListView1.Clear();
  (void)clip::Clear(hwnd_);
  (void)clip::WriteLogLine(std::wstring(clip::kClearedPhrase) + clip::NowText(), options_.log);
}

void Form1::Check4_Click() {
  if (IsLoading) return;
  if (Value(Check4) == 1) {
    ::ShowWindow(Check8, SW_SHOW);
    (void)history::SaveSetting(settings_, L"Windows Startup", history::SwitchText(true));
    mStartUp::AddToStartup(options_.runKeys);
  } else {
    SetValue(Check8, 0);
    ::ShowWindow(Check8, SW_HIDE);
    (void)history::SaveSetting(settings_, L"Windows Startup", history::SwitchText(false));
    mStartUp::RemoveFromStartup(options_.runKeys);
  }
}

void Form1::Check8_Click() {
  (void)history::SaveSetting(settings_, L"Minimized", history::SwitchText(Value(Check8) == 1));
}

void Form1::PushButtonHover() {
  if (MousePointer != kPointerHourglass) MousePointer = kPointerCustom;
}

void Form1::Form_MouseMove() {
  if (MousePointer != kPointerHourglass) MousePointer = kPointerDefault;
}

void Form1::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) != BN_CLICKED) return;
  const HWND from = reinterpret_cast<HWND>(lParam);
  if (from == Check3)
    Check3_Click();
  else if (from == Check4)
    Check4_Click();
  else if (from == Check5)
    Check5_Click();
  else if (from == Check6)
    Check6_Click();
  else if (from == Check8)
    Check8_Click();
}

bool Form1::OnSetCursor(HWND over, UINT hitTest, UINT mouseMessage) {
  if (mouseMessage == WM_MOUSEMOVE) {
    if (over == Check3)
      Check3_MouseMove();
    else if (over == Check5)
      Check5_MouseMove();
    else if (over == Check6)
      Check6_MouseMove();
    else if (over == hwnd_ && hitTest == HTCLIENT)
      Form_MouseMove();
  }
  if (hitTest != HTCLIENT || MousePointer == kPointerDefault) return false;
  HCURSOR cursor = nullptr;
  if (MousePointer == kPointerHourglass) {
    cursor = ::LoadCursorW(nullptr, IDC_WAIT);
  } else {
    cursor = customPointer_ ? customPointer_.get() : ::LoadCursorW(nullptr, IDC_HAND);
  }
  ::SetCursor(cursor);
  return true;
}

LRESULT CALLBACK Form1::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Form1*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  try {
    return self ? self->HandleMessage(msg, wParam, lParam) : ::DefWindowProcW(hwnd, msg, wParam, lParam);
  } catch (...) {
    win::ReportCaught(L"main window");
    return 0;  // nothing may unwind into the system's frames
  }
}

LRESULT Form1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (find_ && find_->OnMessage(msg, wParam, lParam)) return 0;
  switch (msg) {
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return 0;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (ListView1.OnNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) return result;
      break;
    }
    case WM_SIZE:
      Form_Resize();
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_SETCURSOR:
      if (OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam))) return TRUE;
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      ::SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(whiteBrush_);
    case kShowRunningCopy:
      ShowFromTray();
      return 0;
    case WM_TIMER:
      if (wParam != kTrayMenuTimer) break;
      TrayMenuTimer();
      return 0;
    case kHistoryWork:
      history_.Work();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // Windows ends the process after this without closing the window.
      if (wParam) Form_QueryUnload();
      return 0;
    case WM_CLOSE:
      Form_QueryUnload();
      ::DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      (void)window_.release();  // destroyed by the system now
      if (options_.quitOnDestroy) ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace app
