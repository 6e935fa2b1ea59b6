// cSysTray: one icon with a tip in the notification area, reporting mouse actions on it as events.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tray/notify_record.h"
#include "tray/property_bag.h"
#include "win/unique.h"

namespace tray {

// Where the control's records go: the shell's notification area unless another is given.
using ShellNotifyFn = std::function<bool(uint32_t operation, const NotifyRecord& record)>;

inline constexpr wchar_t kDefaultTip[] = L"Divave Zidova\0";  // with its NUL: 14 characters
constexpr int kControlSizeTwips = 510;
constexpr UINT_PTR kAddRetryTimer = 1;  // on the control's own window

// How often and how long an add that the shell refused is tried again: at log-on the shell can
// time out on an add that it still carries out, or not be there yet.
struct AddRetry {
  UINT everyMs = 2000;
  ULONGLONG forMs = 120000;
};

class cSysTray {
 public:
  // userMode: true when the hosting program runs (rather than being designed).
  explicit cSysTray(bool userMode = true, ShellNotifyFn notify = {}, AddRetry retry = {});  // Initialize
  ~cSysTray();                                                                              // Terminate
  cSysTray(const cSysTray&) = delete;
  cSysTray& operator=(const cSysTray&) = delete;

  PicturePtr TrayIcon() const { return mIcon; }
  void SetTrayIcon(const PicturePtr& picture);
  std::wstring TrayTip() const { return mTip; }
  void SetTrayTip(std::wstring_view text);
  bool InTray() const { return mInTray; }
  void SetInTray(bool value);

  // Container notifications.
  void InitProperties();
  void ReadProperties(const PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;
  void Resize();
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetSize(int widthTwips, int heightTwips) {
    width_ = widthTwips;
    height_ = heightTwips;
    Resize();
  }
  PicturePtr OwnPicture() const { return ownPicture_; }

  HWND hwnd() const { return mWnd; }
  bool IsAdded() const { return mAdded; }
  bool IsShown() const { return shown_; }  // the shell has said that it holds the icon
  bool IsRetryingAdd() const { return retryUntil_ != 0; }

  // Called by the tray window procedure only.
  void RaiseMouseEvent(uint32_t MouseMessage, int32_t& Id);
  void ReAddAfterShellRestart();
  void RetryAdd();

  // Events.
  std::function<void(int32_t& Id)> MouseMove;
  std::function<void(int16_t& Button, int32_t& Id)> MouseDown;
  std::function<void(int16_t& Button, int32_t& Id)> MouseUp;
  std::function<void(int16_t& Button, int32_t& Id)> MouseDblClick;
  // Container service: marks a property as changed.
  std::function<void(std::wstring_view name)> PropertyChanged;

 private:
  bool AddToTray(HWND hWnd, int32_t IconId, const std::wstring& Tip, const PicturePtr& Icon);
  bool TryAdd();
  void StartAddRetry();
  void StopAddRetry();
  void RemoveFromTray(HWND hWnd, int32_t IconId);
  NotifyFields ModifyRecord(uint32_t flags) const;
  void Signal(std::wstring_view name) {
    if (PropertyChanged) PropertyChanged(name);
  }

  bool mInTray = false;
  int32_t mIconId = 0;
  std::wstring mTip;
  HWND mWnd = nullptr;
  win::UniqueHwnd window_;  // owns mWnd
  PicturePtr mIcon;
  bool mAdded = false;  // an add was tried: the icon may be shown
  bool shown_ = false;
  bool userMode_;
  ShellNotifyFn notify_;
  AddRetry retry_;
  ULONGLONG retryUntil_ = 0;  // 0: not retrying
  PicturePtr ownPicture_;
  int width_ = kControlSizeTwips, height_ = kControlSizeTwips;
};

}  // namespace tray
