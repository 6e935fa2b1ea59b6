#include "clip/recorder.h"

#include <utility>

#include "clip/mclip.h"
#include "win/module.h"
#include "win/report.h"

namespace clip {
namespace {

constexpr ULONGLONG kLongestWithoutFullPassMs = 500;

}  // namespace

UINT ChangeCapturedMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"PellucidorChangeCaptured");
  return message;
}

void Recorder::Start(HWND form, history::History* list, LogLocations log) {
  Stop();
  form_ = form;
  list_ = list;
  log_ = std::move(log);
  stopped_ = false;
  paused_ = false;  // a start always records
  capture_ = std::make_unique<CaptureThread>(form, ChangeCapturedMessage());
  // Without the thread the window reads each change itself, told by a listener of its own: a
  // viewer in front of it that passes nothing on cannot stop the recording.
  if (ReadsHere()) (void)::AddClipboardFormatListener(form);
}

void Recorder::Stop() noexcept {
  if (stopped_) return;
  // Announcements that come while the thread ends (its end is waited for answering sent messages)
  // are left to the reads below.
  const bool wasRecording = std::exchange(recording_, true);
  try {
    if (capture_) capture_->Stop();
    // With the thread stopped, what it never got to is read here. The content on the clipboard now
    // is kept too: while another program holds it open, it is read again for a while.
    RecordRead();
    for (ReadRetry wait; form_ && IsNew(::GetClipboardSequenceNumber()) && wait.Due(); RecordRead())
      (void)win::WaitAnsweringSentMessages(nullptr, 10);
  } catch (...) {
    win::ReportCaught(L"recording at close");
  }
  recording_ = wasRecording;
  stopped_ = true;
  if (form_) {
    (void)::RemoveClipboardFormatListener(form_);
    (void)::KillTimer(form_, kRetryTimer);
  }
  capture_.reset();
  pending_.clear();
  form_ = nullptr;
  list_ = nullptr;
}

void Recorder::OnNotice() {
  if (stopped_ || !mClip::CaptureEnabled) return;
  if (paused_) {
    RecordRead();  // a read that was under way when the pause came
    return;
  }
  if (recording_) {
    if (!pending_.empty() || IsNew(::GetClipboardSequenceNumber())) changeWaiting_ = true;
    return;
  }
  if (!mClip::CaptureBusy) RecordAll();
}

void Recorder::RecordAll() {
  if (recording_ || stopped_) return;
  recording_ = true;
  // However the loop ends, the flags are left as they were found, or recording would stop for good.
  struct Done {
    Recorder& r;
    ~Done() {
      r.recording_ = false;
      mClip::CaptureBusy = false;
    }
  } done{*this};
  ULONGLONG lastFullPass = ::GetTickCount64();
  CapturedChange change;
  while (mClip::CaptureEnabled && !mClip::CaptureBusy && !stopped_ && Next(change)) {
    RecordOne(change, true);
    // The loop takes every change itself: the announcements of what it has seen would pile up in
    // a quick burst and keep the window busy long after it.
    MSG msg;
    while (form_ &&
           (::PeekMessageW(&msg, form_, WM_CLIPBOARDUPDATE, WM_CLIPBOARDUPDATE, PM_REMOVE) ||
            ::PeekMessageW(&msg, form_, ChangeCapturedMessage(), ChangeCapturedMessage(), PM_REMOVE))) {
    }
    // Passes end early while changes keep coming; now and then one runs whole, so that the window
    // still paints and takes input during a long burst.
    if (!stopped_ && ::GetTickCount64() - lastFullPass >= kLongestWithoutFullPassMs) {
      win::DoEvents();
      lastFullPass = ::GetTickCount64();
    }
  }
}

void Recorder::RecordRead() {
  if (stopped_) return;
  // Put back however the loop ends (a file list's text may find no memory), or recording would
  // stop for good.
  struct Restore {
    bool busy = mClip::CaptureBusy;
    ~Restore() { mClip::CaptureBusy = busy; }
  } restore;
  CapturedChange change;
  while (Next(change)) RecordOne(change, false);
}

void Recorder::Pause() {
  if (paused_) return;
  paused_ = true;
  pausedAt_ = ::GetClipboardSequenceNumber();
  if (capture_) capture_->Pause();
  RecordRead();
}

void Recorder::Resume() {
  if (!paused_) return;
  RecordRead();
  handled_ = ::GetClipboardSequenceNumber();
  haveHandled_ = true;
  paused_ = false;
  if (capture_) capture_->Resume(handled_);
}

bool Recorder::IsListed(std::wstring_view text) const {
  return list_ && list_->Contains(text);
}

// The next change to record, oldest first; false when every change read so far is handled.
bool Recorder::Next(CapturedChange& change) {
  if (capture_)
    for (CapturedChange& c : capture_->Take()) pending_.push_back(std::move(c));
  for (;;) {
    if (pending_.empty()) {
      // Read here what no thread of ours reads: without one, or once it has stopped.
      if (paused_ || !ReadsHere() || !form_ || !IsNew(::GetClipboardSequenceNumber())) return false;
      CapturedChange c = ReadChange(form_, form_);
      if (!c.readable) {
        ScheduleRetry();
        return false;
      }
      pending_.push_back(std::move(c));
    }
    change = std::move(pending_.front());
    pending_.pop_front();
    if (!IsNew(change.sequence)) continue;
    // Copied after the pause came, and read by a read begun before it: let go unrecorded.
    if (paused_ && IsLaterSequence(change.sequence, pausedAt_)) continue;
    handled_ = change.sequence;
    haveHandled_ = true;
    if (!change.own) return true;
  }
}

void Recorder::ScheduleRetry() {
  const DWORD now = ::GetClipboardSequenceNumber();
  if (retrying_ != now) {
    retrying_ = now;
    retry_.Reset();
  }
  if (retry_.Due()) (void)::SetTimer(form_, kRetryTimer, ReadRetry::kDelayMs, nullptr);
}

void Recorder::OnRetryTimer() {
  if (form_) (void)::KillTimer(form_, kRetryTimer);
  if (!stopped_ && (!mClip::CaptureEnabled || mClip::CaptureBusy)) {
    ScheduleRetry();
    return;
  }
  OnNotice();
}

// One change as it was read: its row, then the chain re-joined and the message passes, in which
// anything may run (a close, a log-off, a click) and finds every change before it recorded.
void Recorder::RecordOne(CapturedChange& change, bool withPasses) {
  mClip::CaptureBusy = true;
  changeWaiting_ = false;
  int mask = change.formatMask;
  if (change.fileList) {
    (void)mClip::FileListToText(change.sequence);
    mask = 15;
  }
  switch (mask) {
    case 1:
    case 8:
    case 9:
      if (!change.passOver && change.readable)
        AddEntry(change, mask == 1 ? history::RowType::Text : history::RowType::RichText);
      change.text = {};  // a duplicate's text goes at once
      break;
    case 2:
    case 4:
    case 6:
    case 15:
      break;
    default:
      mClip::CaptureBusy = false;
      return;
  }
  if (withPasses && !stopped_) mClip::RejoinViewerChain();
  mClip::CaptureBusy = false;
  if (withPasses && !stopped_) win::DoEvents(&changeWaiting_);
}

// The row with its journal record, or neither; then its log line. Nothing in between lets another
// message run.
void Recorder::AddEntry(CapturedChange& change, history::RowType label) {
  try {
    if (!list_ || list_->Contains(change.text.view())) return;
    const size_t row = list_->Add(std::move(change.text), label);  // the row keeps the text read
    // The entry's text goes to the log from the row itself, in slices, with the time of the change;
    // a line the log refuses (a full disk, a locked file) is not written later.
    (void)WriteLogLine({list_->Text(row), kAddedPhrase, LogTimeText(change.time)}, log_);
  } catch (...) {
    win::ReportCaught(L"recording a change");  // no memory for it: the next change goes on
  }
}

}  // namespace clip
