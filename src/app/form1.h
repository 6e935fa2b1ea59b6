// Form1: the program's one window, with its controls and their event handlers.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/history_list_view.h"
#include "clip/save_log.h"
#include "history/history.h"
#include "history/settings.h"
#include "startup/regstuff.h"
#include "tray/csystray.h"
#include "win/unique.h"

namespace app {

inline constexpr wchar_t kCaption[] = L"Pellucidor";
inline constexpr wchar_t kPausedTip[] = L"Pellucidor (paused)";
inline constexpr wchar_t kFormClass[] = L"PellucidorForm1";
// Sent by a second start of the program: show the running window.
constexpr UINT kShowRunningCopy = WM_APP + 1;
// The history's own work on the window's thread (a fold to start, or one done on its own thread
// to finish), asked for from any thread.
constexpr UINT kHistoryWork = WM_APP + 2;
// The tray's tip while part of the history could not be read.
inline constexpr wchar_t kPartialTip[] = L"Pellucidor (part of the history could not be read)";

// Window pointer settings.
constexpr int kPointerDefault = 0, kPointerHourglass = 11, kPointerCustom = 99;

struct Form1Options {
  std::function<double()> random;  // the home-page draw; a test fixes it
  bool quitOnDestroy = true;       // end the message loop when the window is gone
  std::wstring dataFolder;         // the history's files; empty: the per-user data folder
  RegStuff::RunKeys runKeys;       // where the start-up entry goes
  clip::LogLocations log;          // where backups.log goes
  std::wstring settingsKey;        // under HKEY_CURRENT_USER; empty: the program's own
  uint64_t foldAfterBytes = 0;     // 0: once the journal has outgrown the list
};

class FindInList;

class Form1 {
  Form1Options options_;
  history::Settings settings_;
  history::History history_;  // before the list that shows it

 public:
  explicit Form1(Form1Options options = {});
  ~Form1();
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window with its controls, runs Form_Load and shows it.
  bool Create(HINSTANCE instance);
  HWND hwnd() const { return hwnd_; }

  // Controls, by their design names.
  HWND Check3 = nullptr, Check4 = nullptr, Check5 = nullptr, Check6 = nullptr, Check8 = nullptr;
  HistoryListView ListView1{history_};
  std::unique_ptr<tray::cSysTray> cSysTray1;

  // Ctrl+F, F3 and Shift+F3: finding an entry by any part of its text.
  FindInList& Find() const { return *find_; }

  bool IsLoading = false;
  bool IsHiddenInTray = false;
  int MousePointer = kPointerDefault;

  // Event handlers.
  void Form_Load();
  void Form_QueryUnload();
  void Form_Resize();
  void Form_MouseMove();
  void Check3_Click();
  void Check4_Click();
  void Check5_Click();
  void Check6_Click();
  void Check8_Click();
  void Check3_MouseMove() { PushButtonHover(); }
  void Check5_MouseMove() { PushButtonHover(); }
  void Check6_MouseMove() { PushButtonHover(); }
  void ListView1_DblClick();
  void ListView1_KeyDown(WORD KeyCode, int Shift);
  void cSysTray1_MouseDblClick(int16_t& Button, int32_t& Id);
  void cSysTray1_MouseDown(int16_t& Button, int32_t& Id);
  void cSysTray1_MouseUp(int16_t& Button, int32_t& Id);
  // A right click's menu waits for the double-click time to pass without a second click.
  bool TrayMenuPending() const { return trayMenuPending_; }
  // "Pause Recording" in the tray menu: nothing copied meanwhile is read or recorded, and the tray
  // tip says so.
  void SetRecordingPaused(bool paused);
  const wchar_t* TrayTip() const;

  // The history list to and from the settings store, with the journal of changes in between.
  void RestoreEntries();
  bool SaveEntries();

  // A check box's value (0 or 1); setting a new value raises its click handler, as a click would.
  static int Value(HWND check);
  void SetValue(HWND check, int value);

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void ApplyLayout();
  void OnDpiChanged(int dpi, const RECT& suggested);
  void ApplyIcons();
  HWND CreateCheckBox(int control);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  bool OnSetCursor(HWND over, UINT hitTest, UINT mouseMessage);
  void PushButtonHover();
  bool PushButtonRule(HWND check);
  void ShowFromTray();
  void ShowTrayMenu();
  void TrayMenuTimer();
  void PutSelectedEntryOnClipboard();

  HWND hwnd_ = nullptr;
  win::UniqueHwnd window_;
  int dpi_ = 96;
  bool startMinimized_ = false;
  bool unloaded_ = false;
  bool trayMenuPending_ = false;
  bool rightUpEndsDblClick_ = false;  // the release of a right double-click's second press is no click
  win::UniqueHfont windowFont_, boldFont_, buttonFont_;
  win::UniqueHimagelist buttonImages_[3];
  win::UniqueHicon windowIcon_, windowSmallIcon_;
  win::UniqueHcursor customPointer_;
  HBRUSH whiteBrush_ = nullptr;  // a stock object
  std::unique_ptr<FindInList> find_;
};

}  // namespace app
