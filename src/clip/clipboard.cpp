#include "clip/clipboard.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "clip/clip_data.h"
#include "win/unique.h"

namespace clip {
namespace {

constexpr LONGLONG kAtOnceForMs = 2;
constexpr ULONGLONG kOpenForMs = 100;

// Locks a clipboard block for reading and unlocks it again.
class BlockView {
 public:
  explicit BlockView(HANDLE h) : h_(h), p_(h ? ::GlobalLock(h) : nullptr), size_(p_ ? ::GlobalSize(h) : 0) {}
  ~BlockView() {
    if (p_) (void)::GlobalUnlock(h_);
  }
  BlockView(const BlockView&) = delete;
  BlockView& operator=(const BlockView&) = delete;
  const void* data() const { return p_; }
  size_t size() const { return size_; }

 private:
  HANDLE h_;
  void* p_;
  size_t size_;
};

}  // namespace

ClipboardSession::ClipboardSession(HWND owner) {
  const ULONGLONG start = ::GetTickCount64();
  LARGE_INTEGER perSecond{}, first{}, now{};
  (void)::QueryPerformanceFrequency(&perSecond);
  (void)::QueryPerformanceCounter(&first);
  for (;;) {
    open_ = ::OpenClipboard(owner) != FALSE;
    if (open_ || ::GetTickCount64() - start >= kOpenForMs) break;
    // Another reader lets go within a fraction of a millisecond, and the next copy of a burst may
    // take the clipboard first when asked for it only a millisecond later: at first it is asked for
    // again at once. Never after yielding the processor, which on a busy machine goes to another
    // program for a whole time slice.
    (void)::QueryPerformanceCounter(&now);
    if ((now.QuadPart - first.QuadPart) * 1000 >= kAtOnceForMs * perSecond.QuadPart) ::Sleep(1);
  }
}

ClipboardSession::~ClipboardSession() {
  if (open_) (void)::CloseClipboard();
}

UINT RichTextFormat() {
  static const UINT format = ::RegisterClipboardFormatW(L"Rich Text Format");
  return format;
}

bool Clear(HWND owner) {
  ClipboardSession session(owner);
  return session.IsOpen() && ::EmptyClipboard();
}

namespace {

win::UniqueHglobal UnicodeTextBlock(std::wstring_view text) {
  win::UniqueHglobal mem(::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
  auto* p = mem ? static_cast<wchar_t*>(::GlobalLock(mem.get())) : nullptr;
  if (!p) return {};
  if (!text.empty()) std::memcpy(p, text.data(), text.size() * sizeof(wchar_t));
  p[text.size()] = L'\0';
  (void)::GlobalUnlock(mem.get());
  return mem;
}

// The clipboard owns the block once it took it; until then it is freed with its owner.
bool Put(win::UniqueHglobal mem) {
  if (!mem || !::EmptyClipboard() || !::SetClipboardData(CF_UNICODETEXT, mem.get())) return false;
  (void)mem.release();
  return true;
}

}  // namespace

bool SetText(std::wstring_view text, HWND owner) {
  win::UniqueHglobal mem = UnicodeTextBlock(text);  // made before the clipboard is held
  if (!mem) return false;
  ClipboardSession session(owner);
  return session.IsOpen() && Put(std::move(mem));
}

bool ReplaceFileListWithText(DWORD sequence, HWND owner) {
  ClipboardSession session(owner);
  if (!session.IsOpen() || session.Sequence() != sequence) return false;
  std::optional<std::vector<std::wstring>> names;
  {
    BlockView block(::GetClipboardData(CF_HDROP));
    if (block.data()) names = FileNamesFromDropBlock(block.data(), block.size(), CP_ACP);
  }
  if (!names) return false;  // nothing readable: the clipboard stays as it is
  return Put(UnicodeTextBlock(JoinPathLines(*names)));
}

std::optional<std::wstring> GetText() {
  ClipboardSession session;
  const std::optional<win::TextBlock> text = ReadText(session);
  if (!text) return std::nullopt;
  return std::wstring(text->view());
}

std::optional<win::TextBlock> ReadText(const ClipboardSession& open) {
  if (!open.IsOpen()) return std::nullopt;
  BlockView block(::GetClipboardData(CF_UNICODETEXT));
  // Text that is offered but cannot be had (its owner failed to render it) is not an empty text.
  if (!block.data() && ::IsClipboardFormatAvailable(CF_UNICODETEXT)) return std::nullopt;
  return TextFromBlock(block.data(), block.size());
}

bool GetFormat(UINT format) {
  return ::IsClipboardFormatAvailable(format) != FALSE;
}

Formats Formats::Available() {
  Formats f;
  UINT count = 0;
  f.formats_.resize(32);
  while (!::GetUpdatedClipboardFormats(f.formats_.data(), static_cast<UINT>(f.formats_.size()), &count)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || f.formats_.size() >= 4096) {
      count = 0;
      break;
    }
    f.formats_.resize(f.formats_.size() * 4);
  }
  f.formats_.resize(count);
  // Whether the list names the formats the system makes from others is not documented: where it
  // lacks one that a listed format gives, the system is asked for that one.
  const auto made = [&f](UINT format, std::initializer_list<UINT> sources) {
    if (f.Has(format)) return;
    for (const UINT source : sources) {
      if (f.Has(source)) {
        if (::IsClipboardFormatAvailable(format)) f.formats_.push_back(format);
        return;
      }
    }
  };
  made(kText, {CF_UNICODETEXT, CF_OEMTEXT});
  made(kBitmap, {CF_DIB, CF_DIBV5});
  made(kDib, {CF_BITMAP, CF_DIBV5});
  return f;
}

bool Formats::Has(UINT format) const {
  return std::find(formats_.begin(), formats_.end(), format) != formats_.end();
}

bool ReadPrivateMark(const ClipboardSession& open, const Formats& formats) {
  static const UINT ignore = ::RegisterClipboardFormatW(L"Clipboard Viewer Ignore");
  static const UINT exclude = ::RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing");
  static const UINT history = ::RegisterClipboardFormatW(L"CanIncludeInClipboardHistory");
  if (formats.Has(ignore) || formats.Has(exclude)) return true;
  if (!formats.Has(history) || !open.IsOpen()) return false;
  BlockView block(::GetClipboardData(history));
  DWORD value = 1;
  if (!block.data() || block.size() < sizeof(value)) return false;
  std::memcpy(&value, block.data(), sizeof(value));
  return value == 0;
}

}  // namespace clip
