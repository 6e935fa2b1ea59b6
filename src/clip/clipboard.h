// Operations on the system clipboard's content. Each opens the clipboard, acts and closes it again;
// while another program holds the clipboard, opening is tried again for 100 ms by the clock (a
// sleep of a millisecond lasts 15 on Windows).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/text_block.h"

namespace clip {

// Scoped access: open in the constructor, closed in the destructor.
class ClipboardSession {
 public:
  explicit ClipboardSession(HWND owner = nullptr);
  ~ClipboardSession();
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;
  bool IsOpen() const { return open_; }
  // The sequence number of the content as this session finds it: nothing else changes the
  // clipboard while it is open, so this is the number of exactly what is read.
  DWORD Sequence() const { return ::GetClipboardSequenceNumber(); }

 private:
  bool open_ = false;
};

// Clipboard format numbers as they are used here.
constexpr UINT kText = CF_TEXT;
constexpr UINT kBitmap = CF_BITMAP;
constexpr UINT kDib = CF_DIB;
constexpr UINT kFileList = CF_HDROP;
UINT RichTextFormat();

// owner: the window that opens the clipboard. A clipboard emptied without one has no owner, and
// Windows may then refuse the data put on it. Each write says whether it was made.
bool Clear(HWND owner);
// Puts the text on the clipboard as Unicode text; the platform offers the 8-bit form to others.
bool SetText(std::wstring_view text, HWND owner);
// Replaces a file list by the plain text of its paths, one per line, only while the clipboard
// still holds the content with that sequence number: a later copy is never replaced.
bool ReplaceFileListWithText(DWORD sequence, HWND owner);
// The clipboard's text; empty when there is none, nothing when it cannot be read (another
// program holds the clipboard, or the text's owner fails to render it), so that neither is ever
// taken for an empty text.
std::optional<std::wstring> GetText();
// True when the clipboard holds the format, formats the platform synthesises included.
bool GetFormat(UINT format);

// The formats on the clipboard, synthesised ones included, asked for all at once: in a burst of
// copies every call to the system counts.
class Formats {
 public:
  static Formats Available();
  bool Has(UINT format) const;

 private:
  std::vector<UINT> formats_;
};

// The text, as GetText reads it, of a clipboard that the caller holds open, so that the formats,
// the marks and the text all come from one change.
std::optional<win::TextBlock> ReadText(const ClipboardSession& open);
// True when the content carries a mark asking clipboard monitors not to record it.
bool ReadPrivateMark(const ClipboardSession& open, const Formats& formats);

}  // namespace clip
