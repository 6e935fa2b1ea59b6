// Reading each clipboard change as soon as it is announced, on a thread that does nothing else, so
// that the next copy cannot replace it while the window records the one before.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "win/text_block.h"

namespace clip {

// One change as read in one opening of the clipboard: its formats, its private marks and its text
// always come from the same copy.
struct CapturedChange {
  DWORD sequence = 0;     // the clipboard's sequence number for this content
  SYSTEMTIME time{};      // when it was read
  int formatMask = 0;     // one bit per format present: 1 text, 2 bitmap, 4 DIB, 8 rich text
  bool fileList = false;  // a file list and none of the formats above
  bool readable = true;   // false: another program held the clipboard, or the text was not rendered
  bool passOver = false;  // marked private, or too large for the memory there is: never recorded
  win::TextBlock text;    // for text and rich text that is not passed over
};

class Formats;
// Sum of one bit per format present: 1 text, 2 bitmap, 4 device-independent bitmap, 8 rich text.
int FormatMask(const Formats& formats);

// Reads the change on the clipboard now, in one opening, with owner as the clipboard's opener.
CapturedChange ReadChange(HWND owner);

// A thread of its own that listens for clipboard updates and reads each change at once. It only
// reads: the changes wait, in order, for the window's thread to take them, and it posts message to
// notify after each one.
class CaptureThread {
 public:
  CaptureThread(HWND notify, UINT message);
  ~CaptureThread();
  CaptureThread(const CaptureThread&) = delete;
  CaptureThread& operator=(const CaptureThread&) = delete;

  bool Running() const { return running_; }
  // Every change read since the last call, oldest first.
  std::deque<CapturedChange> Take();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;  // the thread keeps it alive for as long as it runs
  HANDLE thread_ = nullptr;
  bool running_ = false;
};

}  // namespace clip
