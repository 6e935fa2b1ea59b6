// A stand-in main window for the clipboard monitor: a plain window with the history list, joined to
// the viewer chain exactly as the program joins it; and other viewers, well-behaved or not.
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

// Another member of the chain, in this thread: counts notifications and passes them on, or not;
// one that rejoins leaves and joins again after each, as some viewers do.
class OtherViewer {
 public:
  enum Kind { kWellBehaved, kRejoins, kPassesNothingOn };
  explicit OtherViewer(Kind kind = kWellBehaved);
  ~OtherViewer() { Leave(); }
  void Join() { next_ = ::SetClipboardViewer(hwnd_.get()); }
  void Leave() { ::ChangeClipboardChain(hwnd_.get(), next_); }
  HWND hwnd() const { return hwnd_.get(); }
  int draws = 0;
  std::vector<std::pair<WPARAM, LPARAM>> chainChanges;

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l);
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
  // Content from another process; returns once the recorder has handled that change.
  void Copy(const std::vector<std::wstring>& items);

  TempFolder folder_;
  win::UniqueHwnd host_;
  app::HistoryListView list_;
  bool joined_ = false;
  std::unique_ptr<AnswerProbe> probe_;
};

}  // namespace testsupport
