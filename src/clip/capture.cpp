#include "clip/capture.h"

#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "clip/clipboard.h"
#include "win/module.h"
#include "win/report.h"
#include "win/unique.h"

namespace clip {

struct CaptureThread::Shared {
  HWND notify = nullptr;
  UINT message = 0;
  std::mutex lock;
  std::deque<CapturedChange> changes;
  HANDLE ready = nullptr;  // set once the thread listens, or gave up
  HWND window = nullptr;   // the thread's own, for as long as it listens
  std::atomic<DWORD> lastRead{0};
  bool paused = false;             // under lock
  std::optional<DWORD> resumedAt;  // under lock: the content when the pause ended, not taken yet
};

namespace {

constexpr wchar_t kWindowClass[] = L"PellucidorCapture";
constexpr UINT kStop = WM_APP + 1;
constexpr UINT_PTR kRetryTimer = 1;
constexpr LONGLONG kFollowMs = 3;

struct Listener {
  std::shared_ptr<CaptureThread::Shared> shared;
  DWORD lastRead = 0;  // what was on the clipboard already counts as read
  ReadRetry retry;
  bool stopping = false;
};

// True once the clipboard holds content not read yet. Copies that come back to back replace each
// other faster than an announcement wakes this thread: for a moment after each read it watches
// the content itself, so that it asks for the clipboard the moment the copier lets go. It never
// yields the processor meanwhile: on a busy machine a yield gives it to another program for a
// whole time slice, longer than the watch, and a copy that comes then goes unseen.
bool NewContent(const Listener& l) {
  static const LONGLONG perSecond = [] {
    LARGE_INTEGER f{};
    (void)::QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER start{}, now{};
  (void)::QueryPerformanceCounter(&start);
  for (;;) {
    if (::GetClipboardSequenceNumber() != l.lastRead) return true;
    (void)::QueryPerformanceCounter(&now);
    if ((now.QuadPart - start.QuadPart) * 1000 >= kFollowMs * perSecond) return false;
  }
}

// False while paused. What the clipboard held when a pause ended was copied during it: it counts as
// read, so that only later content is.
bool MayRead(Listener& l) {
  std::lock_guard<std::mutex> hold(l.shared->lock);
  if (l.shared->resumedAt) l.lastRead = *std::exchange(l.shared->resumedAt, std::nullopt);
  return !l.shared->paused;
}

void CaptureNew(HWND window, Listener& l) {
  // Content that changed while one change was read is the next change: read it too, at once.
  // Which changes are recorded is the recorder's to say; here each content is only read once. The
  // announcements of contents read already, which pile up in a burst, are passed over at once.
  if (!MayRead(l) || ::GetClipboardSequenceNumber() == l.lastRead) return;
  do {
    CapturedChange c = ReadChange(window, l.shared->notify);
    if (!c.readable) {
      // Read again a little later, unless newer content comes first.
      if (l.retry.Due() && !l.stopping) (void)::SetTimer(window, kRetryTimer, ReadRetry::kDelayMs, nullptr);
      return;
    }
    l.retry.Reset();
    l.lastRead = c.sequence;
    {
      std::lock_guard<std::mutex> hold(l.shared->lock);
      l.shared->changes.push_back(std::move(c));
    }
    l.shared->lastRead = l.lastRead;  // once it can be taken
    (void)::PostMessageW(l.shared->notify, l.shared->message, 0, 0);
  } while (MayRead(l) && NewContent(l));
}

LRESULT CALLBACK ListenerProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* l = reinterpret_cast<Listener*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  try {
    switch (msg) {
      case WM_CLIPBOARDUPDATE:
        if (l) {
          l->retry.Reset();
          CaptureNew(window, *l);
        }
        return 0;
      case WM_TIMER:
        ::KillTimer(window, wParam);
        if (l) CaptureNew(window, *l);
        return 0;
      case kStop:
        if (l) l->stopping = true;
        (void)::RemoveClipboardFormatListener(window);
        ::DestroyWindow(window);
        ::PostQuitMessage(0);
        return 0;
      default:
        break;
    }
  } catch (...) {
    win::ReportCaught(L"capture");
    return 0;  // nothing may unwind into the system's frames
  }
  return ::DefWindowProcW(window, msg, wParam, lParam);
}

DWORD WINAPI Run(void* param) {
  Listener l;
  l.shared = *static_cast<std::shared_ptr<CaptureThread::Shared>*>(param);
  delete static_cast<std::shared_ptr<CaptureThread::Shared>*>(param);
  WNDCLASSW wc{};
  wc.lpfnWndProc = ListenerProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  (void)::RegisterClassW(&wc);  // registered already by an earlier thread: fine
  HWND window =
      ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (window) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&l));
    l.lastRead = ::GetClipboardSequenceNumber();
    l.shared->lastRead = l.lastRead;
    if (!::AddClipboardFormatListener(window)) {
      ::DestroyWindow(window);
      window = nullptr;
    }
  }
  l.shared->window = window;
  ::SetEvent(l.shared->ready);
  if (!window) return 1;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}

}  // namespace

int FormatMask(const Formats& formats) {
  int mask = 0;
  if (formats.Has(kText)) mask += 1;
  if (formats.Has(kBitmap)) mask += 2;
  if (formats.Has(kDib)) mask += 4;
  if (formats.Has(RichTextFormat())) mask += 8;
  return mask;
}

CapturedChange ReadChange(HWND opener, HWND program) {
  CapturedChange c;
  ClipboardSession session(opener);
  c.sequence = session.Sequence();
  ::GetLocalTime(&c.time);
  if (!session.IsOpen()) {
    c.readable = false;
    return c;
  }
  // The owner comes with the content: the number read during the program's own write is not the
  // one readers see, as closing the clipboard adds the formats it synthesises.
  c.own = program && ::GetClipboardOwner() == program;
  if (c.own) return c;
  const Formats formats = Formats::Available();
  c.formatMask = FormatMask(formats);
  c.fileList = c.formatMask == 0 && formats.Has(kFileList);
  if (c.formatMask != 1 && c.formatMask != 8 && c.formatMask != 9) return c;
  try {
    c.passOver = ReadPrivateMark(session, formats);
    if (c.passOver) return c;
    std::optional<win::TextBlock> text = ReadText(session);  // no row rather than a wrong one
    c.readable = text.has_value();
    if (text) c.text = std::move(*text);
  } catch (const std::bad_alloc&) {
    c.passOver = true;  // the list, the log and the journal stay as they were
    c.text = {};
  }
  return c;
}

CaptureThread::CaptureThread(HWND notify, UINT message) : shared_(std::make_shared<Shared>()) {
  shared_->notify = notify;
  shared_->message = message;
  win::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ready) return;
  shared_->ready = ready.get();
  auto* param = new std::shared_ptr<Shared>(shared_);
  thread_.reset(::CreateThread(nullptr, 0, Run, param, 0, nullptr));
  if (!thread_) {
    delete param;
    return;
  }
  // It only waits and reads: when a copy comes it must run before the next copy replaces it.
  (void)::SetThreadPriority(thread_.get(), THREAD_PRIORITY_HIGHEST);
  (void)::WaitForSingleObject(ready.get(), INFINITE);
  shared_->ready = nullptr;
  running_ = shared_->window != nullptr;
}

CaptureThread::~CaptureThread() {
  Stop();
}

void CaptureThread::Stop() {
  if (!thread_) return;
  // Posted after the updates already announced: those are read first.
  if (running_) (void)::PostMessageW(shared_->window, kStop, 0, 0);
  running_ = false;
  // A read may wait on this thread meanwhile: an owner that renders its content only when asked may
  // ask this thread's window something first, and under Wine each opening asks the owner, which may
  // be that window, about the content.
  (void)win::WaitAnsweringSentMessages(thread_.get(), 5000);
  thread_.reset();
}

DWORD CaptureThread::LastRead() const {
  return shared_->lastRead;
}

std::deque<CapturedChange> CaptureThread::Take() {
  std::lock_guard<std::mutex> hold(shared_->lock);
  std::deque<CapturedChange> taken;
  taken.swap(shared_->changes);
  return taken;
}

void CaptureThread::Pause() {
  std::lock_guard<std::mutex> hold(shared_->lock);
  shared_->paused = true;
}

void CaptureThread::Resume(DWORD from) {
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->paused = false;
    shared_->resumedAt = from;
  }
  shared_->lastRead = from;
}

}  // namespace clip
