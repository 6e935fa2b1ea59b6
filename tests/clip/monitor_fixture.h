// A stand-in main window for the clipboard monitor: a plain window with the history list, joined to
// the viewer chain exactly as the program joins it; and well-behaved or misbehaving other viewers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/history_list_view.h"
#include "clip/mclip.h"
#include "clip/save_log.h"
#include "support/test_support.h"
#include "win/unique.h"

namespace testsupport {

// Another member of the chain, in this thread: counts notifications and passes them on.
// With rejoin set it also leaves and re-joins the chain after each one, as some viewers do.
class OtherViewer {
 public:
  enum Kind { kWellBehaved, kRejoins, kPassesNothingOn };
  explicit OtherViewer(Kind kind = kWellBehaved);
  ~OtherViewer();
  void Join() { next_ = ::SetClipboardViewer(hwnd_.get()); }
  void Leave() { ::ChangeClipboardChain(hwnd_.get(), next_); }
  HWND hwnd() const { return hwnd_.get(); }
  int draws = 0;
  std::vector<std::pair<WPARAM, LPARAM>> chainChanges;

  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l);

 private:
  win::UniqueHwnd hwnd_;
  HWND next_ = nullptr;
  Kind kind_;
  bool busy_ = false;
};

class MonitorTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Join();
  void Leave();
  std::vector<std::wstring> Rows() const;
  std::vector<std::string> LogLines() const;
  // Content from another process, then a moment for the notification to arrive.
  void CopyFromOtherProcess(const std::vector<std::wstring>& items, DWORD settleMs = 150);

  TempFolder folder_;
  win::UniqueHwnd host_;
  app::HistoryListView list_;
  bool joined_ = false;
  std::unique_ptr<AnswerProbe> probe_;  // how long the window went without answering
};

}  // namespace testsupport
