#include "monitor_fixture.h"

namespace testsupport {

OtherViewer::OtherViewer(Kind kind) : kind_(kind) {
  hwnd_ = WindowOfProc(L"PellucidorTestViewer", Proc);
  ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
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
  clip::SetLogLocationsForTesting({folder_.path(), folder_.File(L"fallback")});
  host_ = WindowOfProc(L"PellucidorTestHost", ::DefWindowProcW);
  list_.Create(host_.get(), 1, L"", RECT{0, 0, 280, 280},
               static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
  list_.AddColumnHeader(L"Saved Clipboard Entries");
  list_.AddColumnHeader(L"Clipboard Type");
  Join();
  probe_ = std::make_unique<AnswerProbe>(host_.get());
}

void MonitorTest::TearDown() {
  probe_->Report("the window");
  probe_.reset();
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

void MonitorTest::Copy(const std::vector<std::wstring>& items) {
  // Newer than what came before the copy; the recorder's own writes after it are never "handled".
  const DWORD before = ::GetClipboardSequenceNumber();
  ASSERT_TRUE(testsupport::Copy(items));
  ASSERT_TRUE(PumpUntil([&] { return static_cast<LONG>(mClip::HandledSequence() - before) > 0; }));
}

}  // namespace testsupport
