// The recorder of clipboard changes: the one place that says which changes are new and which are
// recorded, and in what order they become rows.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>

#include "clip/capture.h"
#include "clip/save_log.h"
#include "history/history.h"

namespace clip {

// Posted to the window by the capture thread after each change it read.
UINT ChangeCapturedMessage();

class Recorder {
 public:
  Recorder() = default;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Start(HWND form, history::History* list, LogLocations log);
  void Stop() noexcept;
  // An announcement of a change, from whichever source: recorded now, by the loop that runs, or
  // once capture allows it. Nothing read is dropped here.
  void OnNotice();
  // The loop: every change read so far, each followed by its re-join and message pass.
  void RecordAll();
  // Every change read so far, with no message pass at all.
  void RecordRead();
  // Paused, nothing is read or recorded; what was read before is recorded first. Resuming
  // records only what is copied after it: the content it finds counts as handled.
  void Pause();
  void Resume();
  bool Paused() const { return paused_; }
  DWORD Handled() const { return handled_; }
  DWORD Read() const { return capture_ && capture_->Running() ? capture_->LastRead() : handled_; }
  bool IsListed(std::wstring_view text) const;
  HWND Form() const { return form_; }
  // Set while the loop runs once newer content is announced: its message passes end then.
  const bool& ChangeWaiting() const { return changeWaiting_; }
  // The window's own retry timer, for changes read on its thread.
  static constexpr UINT_PTR kRetryTimer = 0x5043;
  void OnRetryTimer();

 private:
  bool Next(CapturedChange& change);
  void RecordOne(CapturedChange& change, bool withPasses);
  void AddEntry(CapturedChange& change, history::RowType label);
  bool IsNew(DWORD sequence) const { return !haveHandled_ || IsLaterSequence(sequence, handled_); }
  bool ReadsHere() const { return !capture_ || !capture_->Running(); }
  void ScheduleRetry();

  HWND form_ = nullptr;
  history::History* list_ = nullptr;
  LogLocations log_;
  bool stopped_ = true;
  std::unique_ptr<CaptureThread> capture_;
  std::deque<CapturedChange> pending_;  // taken from the thread, not yet recorded
  DWORD handled_ = 0;
  bool haveHandled_ = false;
  bool recording_ = false;      // the loop runs: it takes every change announced meanwhile
  bool changeWaiting_ = false;  // newer content was announced: the loop's passes end at once
  DWORD retrying_ = 0;          // content read here that another program held
  bool paused_ = false;
  DWORD pausedAt_ = 0;  // the content when the pause came: anything later is never recorded
  ReadRetry retry_;
};

}  // namespace clip
