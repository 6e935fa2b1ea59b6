#include "tray/csystray.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "tray/msystray.h"
#include "win/text.h"

namespace tray {
namespace {

constexpr wchar_t kWindowClass[] = L"PellucidorTrayControl";

// Window and icon handles keep their meaning in 32 bits; a 64-bit program widens them with their sign.
template <typename H>
H Handle(uint32_t h) {
  return reinterpret_cast<H>(static_cast<intptr_t>(static_cast<int32_t>(h)));
}

// The record's fields in this build's own layout of the same record: a 64-bit build's is wider, and
// copied byte for byte the record would name another window.
bool RealShellNotify(uint32_t operation, const NotifyRecord& record) {
  static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V1_SIZE == kRecordSize);
  const NotifyFields f = UnpackNotifyRecord(record);
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = Handle<HWND>(f.hWnd);
  data.uID = f.uID;
  data.uFlags = f.uFlags;
  data.uCallbackMessage = f.uCallbackMessage;
  data.hIcon = Handle<HICON>(f.hIcon);
  std::memcpy(data.szTip, f.szTip.data(), std::min<size_t>(f.szTip.size(), sizeof(data.szTip)));
  return ::Shell_NotifyIconA(operation, &data) != FALSE;
}

bool Send(const ShellNotifyFn& notify, uint32_t operation, const NotifyFields& fields) {
  const NotifyRecord record = PackNotifyRecord(fields);
  return notify ? notify(operation, record) : RealShellNotify(operation, record);
}

uint32_t Handle32(const void* h) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
}

std::string TipBytes(std::wstring_view tip) {
  std::string bytes = win::WideToBytes(TipField(tip), win::kAnsiCodePage);
  if (bytes.size() > kTipChars) bytes.resize(kTipChars);
  return bytes;
}

// The icon's whole record: what an add carries, and a modify that asks whether the shell holds it.
NotifyFields IconRecord(HWND hWnd, int32_t IconId, const std::wstring& Tip, const PicturePtr& Icon) {
  NotifyFields f;
  f.hWnd = Handle32(hWnd);
  f.uID = static_cast<uint32_t>(IconId);
  if (Icon) {
    f.hIcon = Handle32(Icon->Handle);
    f.uFlags |= kNifIcon;
  }
  if (!Tip.empty()) {
    f.szTip = TipBytes(Tip);
    f.uFlags |= kNifTip;
  }
  f.uCallbackMessage = kTrayCallbackMessage;
  f.uFlags |= kNifMessage;
  f.cbSize = kRecordSize;
  return f;
}

HWND CreateControlWindow() {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    return ::RegisterClassW(&wc);
  }();
  (void)atom;
  // A hidden top-level window, so that it also hears the shell's broadcasts.
  return ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

cSysTray::cSysTray(bool userMode, ShellNotifyFn notify, AddRetry retry)
    : window_(CreateControlWindow()), userMode_(userMode), notify_(std::move(notify)), retry_(retry) {
  mWnd = window_.get();
  // Started elevated, the window still hears the shell, which runs at normal rights.
  for (const UINT message : {mSysTray::TaskbarCreatedMessage(), kTrayCallbackMessage})
    (void)::ChangeWindowMessageFilterEx(mWnd, message, MSGFLT_ALLOW, nullptr);
}

cSysTray::~cSysTray() {
  PropertyChanged = nullptr;  // the container is going away too
  if (InTray()) SetInTray(false);
}

bool cSysTray::AddToTray(HWND hWnd, int32_t IconId, const std::wstring& Tip, const PicturePtr& Icon) {
  if (Icon) mIcon = Icon;
  if (!Tip.empty()) mTip = Tip;
  return Send(notify_, kNimAdd, IconRecord(hWnd, IconId, Tip, Icon));
}

// A refused add may still have reached a shell that timed out on it, or one that kept the icon:
// a shell that holds the icon takes a modify of it.
bool cSysTray::TryAdd() {
  shown_ = AddToTray(mWnd, mIconId, TrayTip(), TrayIcon()) ||
           Send(notify_, kNimModify, IconRecord(mWnd, mIconId, mTip, mIcon));
  return shown_;
}

void cSysTray::StartAddRetry() {
  // Bounded by the time since the refusal: each refused call can itself take seconds.
  retryUntil_ = ::GetTickCount64() + retry_.forMs;
  if (!::SetTimer(mWnd, kAddRetryTimer, retry_.everyMs, nullptr)) retryUntil_ = 0;
}

void cSysTray::StopAddRetry() {
  if (retryUntil_ == 0) return;
  (void)::KillTimer(mWnd, kAddRetryTimer);
  retryUntil_ = 0;
}

void cSysTray::RetryAdd() {
  if (mAdded && !shown_ && !TryAdd() && ::GetTickCount64() < retryUntil_) return;
  StopAddRetry();
}

void cSysTray::RemoveFromTray(HWND hWnd, int32_t IconId) {
  NotifyFields f;
  f.cbSize = kRecordSize;
  f.hWnd = Handle32(hWnd);
  f.uID = static_cast<uint32_t>(IconId);
  Send(notify_, kNimDelete, f);
}

NotifyFields cSysTray::ModifyRecord(uint32_t flags) const {
  NotifyFields f;
  f.cbSize = kRecordSize;
  f.hWnd = Handle32(mWnd);
  f.uID = static_cast<uint32_t>(mIconId);
  f.uFlags = flags;
  return f;
}

void cSysTray::SetTrayIcon(const PicturePtr& picture) {
  if (!picture || picture->Type != Picture::kIcon) return;
  if (mAdded) {
    NotifyFields f = ModifyRecord(kNifIcon);
    f.hIcon = Handle32(picture->Handle);
    Send(notify_, kNimModify, f);
  }
  mIcon = picture;
  ownPicture_ = picture;
  Signal(L"TrayIcon");
}

void cSysTray::SetTrayTip(std::wstring_view text) {
  if (mAdded) {
    NotifyFields f = ModifyRecord(kNifTip);
    f.szTip = TipBytes(text);
    Send(notify_, kNimModify, f);
  }
  mTip = std::wstring(text);
  // The hidden window carries the tip as its text: what the icon says can be read from another
  // program, where the shell's own tooltip cannot be reached.
  (void)::SetWindowTextW(mWnd, mTip.c_str());
  Signal(L"TrayTip");
}

void cSysTray::SetInTray(bool value) {
  if (value == mInTray) return;
  if (value && userMode_) {
    // Subclass before the icon is added, so that no notification is missed.
    mSysTray::TrayPrevWndProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(mWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mSysTray::TrayWndProc)));
    (void)::SetWindowLongPtrW(mWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (!TryAdd()) StartAddRetry();
    mAdded = true;
  } else if (!value && userMode_) {
    StopAddRetry();
    // Also after a refused add: a shell that timed out on it may show the icon all the same.
    if (mAdded) RemoveFromTray(mWnd, mIconId);
    (void)::SetWindowLongPtrW(mWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mSysTray::TrayPrevWndProc));
    mAdded = false;
    shown_ = false;
  }
  mInTray = value;
  Signal(L"InTray");
}

void cSysTray::ReAddAfterShellRestart() {
  if (!mInTray || !userMode_) return;
  if (TryAdd()) {
    StopAddRetry();
  } else {
    StartAddRetry();  // a new task bar can be as slow as the first
  }
}

void cSysTray::RaiseMouseEvent(uint32_t MouseMessage, int32_t& Id) {
  if (MouseMessage == WM_MOUSEMOVE) {
    if (MouseMove) MouseMove(Id);
    return;
  }
  // Left button 0x0201-0x0203, right button 0x0204-0x0206: down, up, double-click each. The middle
  // button and everything else raise nothing.
  if (MouseMessage < WM_LBUTTONDOWN || MouseMessage > WM_RBUTTONDBLCLK) return;
  int16_t button = MouseMessage <= WM_LBUTTONDBLCLK ? 1 : 2;
  const std::function<void(int16_t&, int32_t&)>* events[] = {&MouseDown, &MouseUp, &MouseDblClick};
  const auto& event = *events[(MouseMessage - WM_LBUTTONDOWN) % 3];
  if (event) event(button, Id);
}

void cSysTray::InitProperties() {
  SetInTray(false);
  SetTrayTip(std::wstring(kDefaultTip, 14));
  SetTrayIcon(ownPicture_);
}

void cSysTray::ReadProperties(const PropertyBag& bag) {
  const PropertyValue inTray = bag.ReadProperty(L"InTray", false);
  SetInTray(std::holds_alternative<bool>(inTray) && std::get<bool>(inTray));
  const PropertyValue icon = bag.ReadProperty(L"TrayIcon", ownPicture_);
  SetTrayIcon(std::holds_alternative<PicturePtr>(icon) ? std::get<PicturePtr>(icon) : nullptr);
  const PropertyValue tip = bag.ReadProperty(L"TrayTip", std::wstring(kDefaultTip, 14));
  SetTrayTip(std::holds_alternative<std::wstring>(tip) ? std::get<std::wstring>(tip) : std::wstring());
}

void cSysTray::WriteProperties(PropertyBag& bag) const {
  bag.WriteProperty(L"InTray", mInTray);
  bag.WriteProperty(L"TrayIcon", mIcon);
  bag.WriteProperty(L"TrayTip", mTip);
}

void cSysTray::Resize() {
  width_ = kControlSizeTwips;
  height_ = kControlSizeTwips;
}

}  // namespace tray
