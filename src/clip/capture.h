// Reading each clipboard change as soon as it is announced, on a thread that does nothing else, so
// that the next copy cannot replace it while the window records the one before.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "win/text_block.h"
#include "win/unique.h"

namespace clip {

// One change as read in one opening of the clipboard: its formats, its private marks and its text
// always come from the same copy.
struct CapturedChange {
  DWORD sequence = 0;     // the clipboard's sequence number for this content
  SYSTEMTIME time{};      // when it was read
  int formatMask = 0;     // see FormatMask
  bool fileList = false;  // a file list and none of the formats above
  bool readable = true;   // false: another program held the clipboard, or the text was not rendered
  bool own = false;       // written by the program itself (its window owns it): never recorded
  bool passOver = false;  // marked private, or too large for the memory there is: never recorded
  win::TextBlock text;    // for text and rich text that is not passed over
};

class Formats;
// Sum of one bit per format present: 1 text, 2 bitmap, 4 device-independent bitmap, 8 rich text.
int FormatMask(const Formats& formats);

// Reads the change on the clipboard now, in one opening, with opener as the clipboard's opener;
// program is the window that the program's own writes are made with.
CapturedChange ReadChange(HWND opener, HWND program);

// Content that another program keeps open is read again a little later, for two seconds by the
// clock: from the first read that failed until one succeeds.
class ReadRetry {
 public:
  static constexpr UINT kDelayMs = 100;
  // True while a read that failed is still to be tried again.
  bool Due() {
    if (until_ == 0) until_ = ::GetTickCount64() + 2000;
    return ::GetTickCount64() < until_;
  }
  void Reset() { until_ = 0; }

 private:
  ULONGLONG until_ = 0;
};

// True when sequence numbers a later content than than (the counter wraps).
inline bool IsLaterSequence(DWORD sequence, DWORD than) {
  return static_cast<LONG>(sequence - than) > 0;
}

// A thread of its own that listens for clipboard updates and reads each content once, at once. It
// only reads: the changes wait, in order, for the window's thread to take them, and it posts
// message to notify after each one.
class CaptureThread {
 public:
  CaptureThread(HWND notify, UINT message);
  ~CaptureThread();
  CaptureThread(const CaptureThread&) = delete;
  CaptureThread& operator=(const CaptureThread&) = delete;

  bool Running() const { return running_; }
  // Ends the reading once the updates announced until now are read, answering the messages sent to
  // the calling thread meanwhile. A read that waits on a hung clipboard owner is waited for a few
  // seconds only: the thread then goes on alone, holding its own share of the state, and takes
  // nothing more.
  void Stop();
  // The sequence number of the newest content read.
  DWORD LastRead() const;
  // Every change read since the last call, oldest first.
  std::deque<CapturedChange> Take();
  // While paused no read is begun; one under way when the pause comes still ends in a change.
  // Resuming counts the content with sequence number from as read already.
  void Pause();
  void Resume(DWORD from);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;  // the thread keeps it alive for as long as it runs
  win::UniqueHandle thread_;
  bool running_ = false;
};

}  // namespace clip
