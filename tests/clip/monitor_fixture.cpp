#include "monitor_fixture.h"

namespace testsupport {
namespace {

constexpr wchar_t kHostClass[] = L"PellucidorTestHost";
constexpr wchar_t kViewerClass[] = L"PellucidorTestViewer";

void RegisterClasses(WNDPROC viewerProc) {
  static bool done = false;
  if (done) return;
  done = true;
  WNDCLASSW wc{};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kHostClass;
  ::RegisterClassW(&wc);
  wc.lpfnWndProc = viewerProc;
  wc.lpszClassName = kViewerClass;
  ::RegisterClassW(&wc);
}

}  // namespace

OtherViewer::OtherViewer(Kind kind) : kind_(kind) {
  RegisterClasses(Proc);
  hwnd_.reset(::CreateWindowExW(0, kViewerClass, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr));
  ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

OtherViewer::~OtherViewer() {
  Leave();
  ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK OtherViewer::Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<OtherViewer*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(h, msg, w, l);
  if (msg == WM_DRAWCLIPBOARD) {
    ++self->draws;
    if (self->next_ && self->kind_ != kPassesNothingOn) ::SendMessageW(self->next_, msg, w, l);
    if (self->kind_ == kRejoins && !self->busy_) {
      self->busy_ = true;
      ::ChangeClipboardChain(h, self->next_);
      self->next_ = ::SetClipboardViewer(h);
      self->busy_ = false;
    }
    return 0;
  }
  if (msg == WM_CHANGECBCHAIN) {
    self->chainChanges.emplace_back(w, l);
    if (reinterpret_cast<HWND>(w) == self->next_) {
      self->next_ = reinterpret_cast<HWND>(l);
    } else if (self->next_) {
      ::SendMessageW(self->next_, msg, w, l);
    }
    return 0;
  }
  return ::DefWindowProcW(h, msg, w, l);
}

void MonitorTest::SetUp() {
  RegisterClasses(OtherViewer::Proc);
  clip::SetLogLocationsForTesting({folder_.path(), folder_.File(L"fallback")});
  host_.reset(::CreateWindowExW(0, kHostClass, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr));
  list_.Create(host_.get(), 1, L"", RECT{0, 0, 280, 280},
               static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
  list_.AddColumnHeader(L"Saved Clipboard Entries");
  list_.AddColumnHeader(L"Clipboard Type");
  Join();
  probe_ = std::make_unique<AnswerProbe>(host_.get());
}

void MonitorTest::TearDown() {
  const double silence = probe_->TakeLongestMs();
  probe_.reset();
  ReportSilence("the window", silence);
  EXPECT_LT(silence, 2000.0) << "the window froze";
  Leave();
  clip::SetLogLocationsForTesting({});
}

void MonitorTest::Join() {
  // As the program joins: empty clipboard, capture on, hook, not busy, then register.
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  ::CloseClipboard();
  mClip::CaptureEnabled = true;
  mClip::SetRecordTarget(host_.get(), &list_);
  mClip::HookWindow(host_.get());
  mClip::CaptureBusy = false;
  mClip::NextViewerWnd = ::SetClipboardViewer(host_.get());
  ::AddClipboardFormatListener(host_.get());
  joined_ = true;
}

void MonitorTest::Leave() {
  if (!joined_) return;
  joined_ = false;
  mClip::CaptureEnabled = false;
  ::ChangeClipboardChain(host_.get(), mClip::NextViewerWnd);
  ::RemoveClipboardFormatListener(host_.get());
  mClip::UnhookWindow(host_.get());
  mClip::SetRecordTarget(nullptr, nullptr);
  PumpFor(0);
}

std::vector<std::wstring> MonitorTest::Rows() const {
  std::vector<std::wstring> rows;
  for (size_t i = 1; i <= list_.Count(); ++i) rows.emplace_back(list_.ItemText(i));
  return rows;
}

std::vector<std::string> MonitorTest::LogLines() const {
  return testsupport::LogLines(folder_.File(L"backups.log"));
}

void MonitorTest::CopyFromOtherProcess(const std::vector<std::wstring>& items, DWORD settleMs) {
  ASSERT_TRUE(ClipboardFromOtherProcess(items));
  PumpFor(settleMs);
}

}  // namespace testsupport
