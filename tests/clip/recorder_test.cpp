// Recording clipboard changes made by other programs: what becomes a row, what reaches the log,
// and how the window keeps its place in the viewer chain whatever the other viewers do.

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <utility>

#include "clip/save_log.h"
#include "support/test_support.h"

namespace {

using namespace testsupport;
using history::RowType;

// Another member of the chain, joined from its start: counts notifications and passes them on (and
// re-joins after each, as some viewers do), and keeps the last chain change it was told of.
struct OtherViewer {
  explicit OtherViewer(bool rejoins = false) : rejoins(rejoins) {
    ::SetWindowLongPtrW(hwnd.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc));
    next = ::SetClipboardViewer(hwnd.get());
  }
  ~OtherViewer() { ::ChangeClipboardChain(hwnd.get(), next); }
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<OtherViewer*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg == WM_CHANGECBCHAIN) {
      self->lastChainChange = {w, l};
      if (reinterpret_cast<HWND>(w) == self->next)
        self->next = reinterpret_cast<HWND>(l);
      else if (self->next)
        ::SendMessageW(self->next, msg, w, l);
    } else if (msg == WM_DRAWCLIPBOARD) {
      ++self->draws;
      if (self->next) ::SendMessageW(self->next, msg, w, l);
      if (self->rejoins && !std::exchange(self->busy, true)) {
        ::ChangeClipboardChain(h, self->next);
        self->next = ::SetClipboardViewer(h);
        self->busy = false;
      }
    } else {
      return ::DefWindowProcW(h, msg, w, l);
    }
    return 0;
  }
  win::UniqueHwnd hwnd{
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)};
  bool rejoins, busy = false;
  HWND next = nullptr;
  int draws = 0;
  std::pair<WPARAM, LPARAM> lastChainChange;
};

class RecorderTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    Open();
  }
  HWND Window() const { return form_->hwnd(); }
};

const Item kRtf{L"Rich Text Format", std::string("{\\rtf1 bold}", 13)}, kBitmap{L"bitmap", ""};

Item Dib() {
  BITMAPINFOHEADER h{sizeof(BITMAPINFOHEADER), 4, 4, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  return {L"8", std::string(reinterpret_cast<const char*>(&h), sizeof(h)) + std::string(64, '\0')};
}

Item Files(std::wstring_view names) {  // names separated by NUL
  const DROPFILES header{sizeof(DROPFILES), {}, FALSE, TRUE};
  return {L"15", std::string(reinterpret_cast<const char*>(&header), sizeof(header)) + Bytes(names) +
                     std::string(4, '\0')};
}

TEST_F(RecorderTest, EachKindOfContentIsRecordedOrPassedOver) {
  const char* stress = std::getenv("PELLUCIDOR_HUGE_CHARS");  // `make stress` copies 50 MB
  std::wstring huge;                                          // numbers in order: a slice out of place shows
  for (size_t n = 0; huge.size() < (stress ? std::strtoul(stress, nullptr, 10) : 200000); ++n)
    huge += std::to_wstring(n) + L' ';
  const std::wstring fileA = L"C:\\a", fileB = L"D:\\\u00E9\u65E5", names = fileA + L"\r\n" + fileB + L"\r\n";
  const struct {
    const char* what;
    std::vector<Item> items;
    Texts rows;
    RowType label;
    bool rejoined;
    std::wstring clipboardAfter;  // checked when not empty
  } cases[] = {
      {"text", {Text(L"hello")}, {L"hello"}, RowType::Text, true, L""},
      {"rich text with text", {Text(L"rich"), kRtf}, {L"rich"}, RowType::RichText, true, L""},
      {"rich text alone", {kRtf}, {L""}, RowType::RichText, true, L""},
      {"bitmap", {kBitmap}, {}, RowType::None, true, L""},
      {"device-independent bitmap", {Dib()}, {}, RowType::None, true, L""},
      {"text with a bitmap", {Text(L"caption"), kBitmap}, {}, RowType::None, false, L""},
      {"all four", {Text(L"all"), kBitmap, Dib(), kRtf}, {}, RowType::None, true, L""},
      {"file list", {Files(fileA + L'\0' + fileB)}, {}, RowType::None, true, names},
      {"file list with text", {Files(fileA), Text(L"names")}, {L"names"}, RowType::Text, true, L"names"},
      {"empty clipboard", {}, {}, RowType::None, false, L""},
      {"a text far longer than the log's slices", {Text(huge)}, {huge}, RowType::Text, true, L""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    form_->ListView1.Clear();
    ::DeleteFileW(folder_.File(L"backups.log").c_str());
    OtherViewer later;  // joins after the window: first in the chain until the window re-joins
    Copy(c.items);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(form_->ListView1.ItemType(1), c.label);
    EXPECT_EQ(LogLines().size(), c.rows.size());
    EXPECT_EQ(::GetClipboardViewer() == Window(), c.rejoined);
    EXPECT_EQ(c.clipboardAfter.empty() ? L"" : ClipboardText(), c.clipboardAfter);
    EXPECT_FALSE(mClip::CaptureBusy);
  }
  EXPECT_EQ(LogLines().at(0).rfind(std::string(huge.begin(), huge.end()) + " was added to", 0), 0u)
      << "logged whole";
  Close();
  EXPECT_EQ(StoredRows(), Texts{huge}) << "and stored whole";
}

// Copies in order, and what the list and the log hold afterwards: equal texts once, private ones never.
TEST_F(RecorderTest, DuplicatesAndPrivateContentAreNotRecorded) {
  for (const wchar_t* text : {L"hello", L"hello", L"Hello", L"hello\r\n", L"", L""}) Copy(text);
  Copy({Text(L"hello"), kRtf});
  const std::string nul(1, '\0'), never(4, '\0'), allowed("\1\0\0\0", 4);
  for (const Item& mark :
       {Item{L"Clipboard Viewer Ignore", nul}, Item{L"ExcludeClipboardContentFromMonitorProcessing", nul},
        Item{L"CanIncludeInClipboardHistory", never}})
    Copy({Text(L"secret"), mark});
  Copy({Text(L"allowed"), {L"CanIncludeInClipboardHistory", allowed}});
  EXPECT_EQ(Rows(), (Texts{L"hello", L"Hello", L"hello\r\n", L"", L"allowed"}));
  EXPECT_EQ(form_->ListView1.ItemType(1), RowType::Text) << "the first label stays";
  EXPECT_EQ(LogLines().size(), 6u) << "one line each, one of them with an inner line break";
  form_->ListView1.Remove(1);
  Copy(L"hello");
  EXPECT_EQ(Rows().back(), L"hello") << "a removed entry copied again comes back at the end";
}

// Bursts from another thread, every other copy marked private: what holds on any machine (make
// bench shows how many are recorded) is each plain copy at most once, in order, the last one
// recorded, and nothing private in the list, the log, the journal or the stored list.
TEST_F(RecorderTest, FastCopiesAreRecordedInOrderOnceAndPrivateOnesNever) {
  unsigned first = 1;
  for (const unsigned spacing : {10u, 1u, 0u}) {
    const unsigned count = spacing ? 401 : 4001;  // with no pause, thousands of announcements pile up
    std::thread copier([=] { (void)RunBurst(count, spacing, first, true); });
    first += count;
    const std::wstring last = L"burst " + std::to_wstring(first - 1);
    EXPECT_TRUE(PumpUntil([&] { return form_->ListView1.Contains(last); }, 120000)) << spacing;
    copier.join();
  }
  std::vector<unsigned long> numbers;
  for (const std::wstring& t : Rows())
    numbers.push_back(t.rfind(L"burst ", 0) ? 0 : std::wcstoul(&t[6], nullptr, 10));
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()) &&
              std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end() && !numbers.empty() &&
              numbers[0] > 0)
      << testing::PrintToString(Rows());
  EXPECT_EQ(ReadBytes(folder_.File(L"backups.log")).find("secret"), std::string::npos);
  for (const auto& f : std::filesystem::directory_iterator(std::filesystem::path(folder_.path())))
    EXPECT_EQ(ReadBytes(f.path().wstring()).find(Bytes(L"secret")), std::string::npos) << f.path();
  Close();
  EXPECT_EQ(Stored(L"Files").find(L"secret"), std::wstring::npos);
}

// The window's own writes are passed on and never recorded; another program's copy that comes
// while the recorder is busy is passed on at once and recorded after it, not lost.
TEST_F(RecorderTest, OwnWritesAreNotRecordedAndBusyTimesLoseNothing) {
  OtherViewer later;
  mClip::CaptureEnabled = false;
  ASSERT_TRUE(clip::SetText(L"own write", Window()));
  mClip::CaptureEnabled = true;
  Copy(L"make us first");  // re-joins: the window is first, the later viewer its next
  const int before = later.draws;
  mClip::CaptureBusy = true;
  ASSERT_TRUE(testsupport::Copy({Text(L"while busy")}));
  EXPECT_TRUE(PumpUntil([&] {
    return later.draws > before && mClip::ReadSequence() == ::GetClipboardSequenceNumber();
  })) << "passed on all the same";
  EXPECT_EQ(Rows(), Texts{L"make us first"}) << "nothing recorded while busy";
  mClip::CaptureBusy = false;
  Copy(L"marker");
  EXPECT_EQ(Rows(), (Texts{L"make us first", L"while busy", L"marker"}));
}

// Copies read but not yet recorded when something else happens keep their place: a later copy
// never has its file list replaced for an earlier one's, "Clear Entries" also clears what was read
// before the click, and a pause records it first. What is copied during the pause is never
// recorded, also not when it is still on the clipboard as the pause ends.
TEST_F(RecorderTest, WhatWasReadBeforeALaterChangeIsRecordedAsItWas) {
  ASSERT_TRUE(CopyFromAnotherThread({Files(L"C:\\a")}));
  ASSERT_TRUE(WaitUntilRead());
  ASSERT_TRUE(CopyFromAnotherThread({Files(L"C:\\b"), Text(L"names")}));
  ASSERT_TRUE(WaitUntilRead());
  ASSERT_TRUE(PumpUntil([&] { return Rows() == Texts{L"names"}; }));
  EXPECT_EQ(ClipboardText(), L"names") << "the later copy is left as it is";
  EXPECT_TRUE(::IsClipboardFormatAvailable(CF_HDROP));

  ASSERT_TRUE(CopyFromAnotherThread({Text(L"before the burst")}));
  std::thread([] { (void)RunBurst(400, 0, 1); }).join();
  ASSERT_TRUE(WaitUntilRead());
  ::SendMessageW(form_->Check6, BM_CLICK, 0, 0);
  EXPECT_TRUE(Rows().empty());
  Copy(L"marker");
  EXPECT_EQ(Rows(), Texts{L"marker"});
  const auto lines = LogLines();
  const auto clear = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("Clipboard was clear", 0) == 0;
  });
  EXPECT_EQ(AddedInLog({clear, lines.end()}), Texts{L"marker"})
      << "every copy read before it logged before it";
  EXPECT_GT(AddedInLog({lines.begin(), clear}).size(), 2u);

  ASSERT_TRUE(CopyFromAnotherThread({Text(L"read")}));
  ASSERT_TRUE(WaitUntilRead());
  form_->SetRecordingPaused(true);
  EXPECT_EQ(Rows(), (Texts{L"marker", L"read"}));
  ASSERT_TRUE(testsupport::Copy({Text(L"private")}));
  form_->SetRecordingPaused(false);
  Copy(L"after");
  EXPECT_EQ(Rows(), (Texts{L"marker", L"read", L"after"}));
}

TEST_F(RecorderTest, ChainChangesRepairTheLinkAndArePassedOn) {
  OtherViewer a;
  Copy(L"y");  // the window re-joins in front of a
  ASSERT_EQ(mClip::NextViewerWnd, a.hwnd.get());
  const HWND b = ::GetDesktopWindow(), fake = reinterpret_cast<HWND>(1234);  // in no chain
  const auto change = [&](HWND leaving, HWND next) {
    ::SendMessageW(Window(), WM_CHANGECBCHAIN, reinterpret_cast<WPARAM>(leaving),
                   reinterpret_cast<LPARAM>(next));
  };
  change(b, fake);  // someone else leaving: passed on with its arguments unchanged
  EXPECT_EQ(mClip::NextViewerWnd, a.hwnd.get());
  EXPECT_EQ(a.lastChainChange, std::pair(reinterpret_cast<WPARAM>(b), reinterpret_cast<LPARAM>(fake)));
  change(a.hwnd.get(), b);  // the next one leaving: the link moves on
  EXPECT_EQ(mClip::NextViewerWnd, b);
  change(b, Window());  // a link to itself is never followed
  ::SendMessageW(Window(), WM_DRAWCLIPBOARD, 0, 0);
  mClip::NextViewerWnd = nullptr;
}

// A viewer in front that re-joins at every change; a next viewer that hangs or has died: none of
// them stops the recording, and none makes it record a change twice. Closed behind a viewer that
// hangs, the window leaves the chain all the same: once that viewer answers, the viewer after the
// window hears the changes again.
TEST_F(RecorderTest, OtherViewersStopNothing) {
  {
    OtherViewer rejoiner(true);
    Copy(L"first");
    Copy(L"again");
  }
  Close();
  // A viewer on a thread of its own that answers nothing until released (a minute at most), behind
  // the window or in front of it: a window that waited on it would record nothing meanwhile.
  for (const bool inFront : {false, true}) {
    const win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> joined{false};
    std::optional<OtherViewer> after;
    if (inFront) {
      after.emplace();
      Open();
    }
    std::thread hung([&] {
      OtherViewer viewer;
      joined = true;
      ::WaitForSingleObject(release.get(), 60000);
      win::DoEvents();  // what was sent to it meanwhile; then it leaves
    });
    (void)PumpUntil([&] { return joined.load(); });
    if (!inFront) Open();
    const std::wstring text = inFront ? L"with a hung viewer in front" : L"with a hung viewer behind";
    ASSERT_TRUE(testsupport::Copy({Text(text)}));  // in front, the viewer holds the copier a while
    EXPECT_TRUE(PumpUntil([&] { return !Rows().empty() && Rows().back() == text; }, 30000)) << text;
    Close();
    ::SetEvent(release.get());
    hung.join();
    const int heard = after ? after->draws : 0;
    ASSERT_TRUE(testsupport::Copy({Text(L"while closed")}));
    EXPECT_TRUE(!after || PumpUntil([&] { return after->draws > heard; })) << "the chain is whole";
  }
  HWND dead = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ::SetClipboardViewer(dead);
  Open();
  ::DestroyWindow(dead);  // gone without leaving the chain
  Copy(L"past the dead");
  EXPECT_EQ(Rows(), (Texts{L"first", L"again", L"with a hung viewer behind", L"with a hung viewer in front",
                           L"past the dead"}));
  EXPECT_EQ(LogLines().size(), 5u);
}

TEST_F(RecorderTest, ALockedLogOrAHeldClipboardStopsNothing) {
  ASSERT_TRUE(clip::WriteLogLine(L"earlier", {folder_.path(), L""}));
  {
    win::UniqueFile lock(::CreateFileW(folder_.File(L"backups.log").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    Copy(L"while locked");
  }
  Copy({Text(L"held briefly")}, 40);
  Copy({Text(L"held a while")}, 300);
  Copy(L"after");
  EXPECT_EQ(Rows(), (Texts{L"while locked", L"held briefly", L"held a while", L"after"})) << "once each";
  EXPECT_EQ(LogLines().size(), 4u);
  // Put back while another program holds the clipboard: nothing is put there, and the log says so.
  const win::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> held{false};
  std::thread holder([&] {
    const clip::ClipboardSession hold;
    held = hold.IsOpen();
    ::WaitForSingleObject(release.get(), 60000);
  });
  ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
  form_->ListView1.Select(1);
  ::SendMessageW(form_->Check5, BM_CLICK, 0, 0);
  ::SetEvent(release.get());
  holder.join();
  Copy(L"marker");
  EXPECT_EQ(LogLines().size(), 5u) << "no line for a put-back that was not made";
  EXPECT_EQ(Rows().size(), 5u);
}

}  // namespace
