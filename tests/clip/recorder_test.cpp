// Recording clipboard changes made by another process: what becomes a row, what reaches the log,
// and when the window re-joins the viewer chain.
#include <gtest/gtest.h>

#include "clip/clipboard.h"
#include "monitor_fixture.h"

namespace {

using testsupport::Hex;
using testsupport::MonitorTest;
using testsupport::OtherViewer;

std::wstring Text(std::wstring_view t) {
  return L"text=" + Hex(t);
}
std::wstring Rtf(std::wstring_view t) {
  return L"rtf=" + Hex(t);
}
constexpr wchar_t kSomeRtf[] = L"{\\rtf1 bold}";

TEST_F(MonitorTest, EachKindOfContentIsRecordedOrPassedOver) {
  const std::wstring fileA = L"C:\\data\\a.txt", fileB = L"C:\\d\u00E9j\u00E0\\\u65E5\u672C.doc";
  const struct {
    const char* what;
    std::vector<std::wstring> items;
    std::vector<std::wstring> rows;
    app::RowType label;
    bool rejoined;
    std::wstring clipboardAfter;  // checked when not empty
  } cases[] = {
      {"text", {Text(L"hello")}, {L"hello"}, app::RowType::Text, true, L""},
      {"rich text with text", {Text(L"rich"), Rtf(kSomeRtf)}, {L"rich"}, app::RowType::RichText, true, L""},
      {"rich text alone", {Rtf(kSomeRtf)}, {L""}, app::RowType::RichText, true, L""},
      {"bitmap", {L"bitmap"}, {}, app::RowType::None, true, L""},
      {"device-independent bitmap", {L"dib"}, {}, app::RowType::None, true, L""},
      {"text with a bitmap", {Text(L"caption"), L"bitmap"}, {}, app::RowType::None, false, L""},
      {"all four", {Text(L"all"), L"bitmap", L"dib", Rtf(kSomeRtf)}, {}, app::RowType::None, true, L""},
      {"file list",
       {L"files=" + Hex(fileA + L"|" + fileB)},
       {},
       app::RowType::None,
       true,
       fileA + L"\r\n" + fileB + L"\r\n"},
      {"file list with text",
       {L"files=" + Hex(fileA), Text(L"names")},
       {L"names"},
       app::RowType::Text,
       true,
       L"names"},
      {"empty clipboard", {}, {}, app::RowType::None, false, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    list_.Clear();
    ::DeleteFileW(folder_.File(L"backups.log").c_str());
    OtherViewer later;  // joins after us: first in the chain until we re-join
    later.Join();
    ASSERT_EQ(::GetClipboardViewer(), later.hwnd());

    CopyFromOtherProcess(c.items);
    EXPECT_EQ(Rows(), c.rows);
    if (!c.rows.empty()) {
      EXPECT_EQ(list_.ItemType(1), c.label);
    }
    EXPECT_EQ(LogLines().size(), c.rows.size());
    EXPECT_EQ(::GetClipboardViewer() == host_.get(), c.rejoined);
    if (!c.clipboardAfter.empty()) {
      EXPECT_EQ(testsupport::ClipboardText(), c.clipboardAfter);
    }
    EXPECT_FALSE(mClip::CaptureBusy);
    later.Leave();
  }
}

TEST_F(MonitorTest, EachAddedEntryGetsOneLogLine) {
  clip::SetClockForTesting([] {
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 6, t.wHour = 3, t.wMinute = 21, t.wSecond = 7;
    return t;
  });
  CopyFromOtherProcess({Text(L"hello")});
  CopyFromOtherProcess({Text(L"first\r\nsecond")});
  CopyFromOtherProcess({Text(L"")});
  clip::SetClockForTesting({});
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"hello was added to clipboard entries at 12/6/2026 3:21:07 AM", "first",
                                      "second was added to clipboard entries at 12/6/2026 3:21:07 AM",
                                      " was added to clipboard entries at 12/6/2026 3:21:07 AM"}));
}

TEST_F(MonitorTest, TextAlreadyListedIsNotAddedAgain) {
  for (const auto& items : std::vector<std::vector<std::wstring>>{{Text(L"hello")},
                                                                  {Text(L"hello")},
                                                                  {Text(L"hello"), Rtf(kSomeRtf)},
                                                                  {Text(L"Hello")},
                                                                  {Text(L"hello ")},
                                                                  {Text(L"hello\r\n")},
                                                                  {Text(L"")},
                                                                  {Text(L"")},
                                                                  {Text(L"caf\u00E9 \u65E5")}}) {
    CopyFromOtherProcess(items);
  }
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"hello", L"Hello", L"hello ", L"hello\r\n", L"",
                                               L"caf\u00E9 \u65E5"}));
  EXPECT_EQ(list_.ItemType(1), app::RowType::Text) << "the first label stays";
  EXPECT_EQ(LogLines().size(), 7u) << "six lines, one of them with an inner line break";

  list_.Remove(1);
  CopyFromOtherProcess({Text(L"hello")});
  EXPECT_EQ(Rows().back(), L"hello") << "a removed entry copied again comes back at the end";
}

TEST_F(MonitorTest, ContentMarkedPrivateIsNotRecorded) {
  const struct {
    std::wstring mark;
    bool recorded;
  } cases[] = {
      {L"mark=" + Hex(L"Clipboard Viewer Ignore"), false},
      {L"mark=" + Hex(L"ExcludeClipboardContentFromMonitorProcessing"), false},
      {L"dword=" + Hex(L"CanIncludeInClipboardHistory") + L":0", false},
      {L"dword=" + Hex(L"CanIncludeInClipboardHistory") + L":1", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::wstring secret = L"secret " + std::to_wstring(++n);
    CopyFromOtherProcess({Text(secret), c.mark});
    EXPECT_EQ(list_.Contains(secret), c.recorded) << testing::PrintToString(c.mark);
  }
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(MonitorTest, TextThatIsNeverRenderedIsNotTakenForEmpty) {
  ASSERT_TRUE(testsupport::RunSelf(L"--unrendered", {}));
  testsupport::PumpFor(300);
  EXPECT_FALSE(list_.Contains(L""));
  CopyFromOtherProcess({Text(L"next")});
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"next"})) << "and recording goes on";
}

TEST_F(MonitorTest, MalformedBlocksAreReadWithinBounds) {
  // Unicode text without its NUL, a zero-size text block, and broken file lists.
  CopyFromOtherProcess({L"raw=13:" + testsupport::HexBytes(std::string("n\0o\0 \0n\0u\0l\0", 12))});
  CopyFromOtherProcess({L"raw=13:"});
  CopyFromOtherProcess(
      {L"raw=15:" + testsupport::HexBytes(std::string("\xFF\xFF\0\0", 4) + std::string(16, '\0'))});
  CopyFromOtherProcess({L"raw=15:0A00"});
  CopyFromOtherProcess({Text(L"still recording")});
  // The platform may end an unterminated block itself (Wine overwrites its last character).
  const auto rows = Rows();
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows.front().substr(0, 5), L"no nu");
  EXPECT_LE(rows.front().size(), 6u);
  EXPECT_EQ(rows.back(), L"still recording");
  EXPECT_FALSE(mClip::CaptureBusy);
}

TEST_F(MonitorTest, OwnWritesAndBusyTimesAreNotRecordedButPassedOn) {
  OtherViewer later;
  later.Join();  // later -> host
  OtherViewer earlier;
  mClip::CaptureEnabled = false;
  ASSERT_TRUE(clip::SetText(L"own write", host_.get()));
  mClip::CaptureEnabled = true;
  EXPECT_EQ(list_.Count(), 0u);

  // Re-join so that the host is first and the viewer that joined later is its next.
  CopyFromOtherProcess({Text(L"make us first")});
  ASSERT_EQ(::GetClipboardViewer(), host_.get());
  const int before = later.draws;
  mClip::CaptureBusy = true;
  ASSERT_TRUE(clip::SetText(L"while busy", host_.get()));
  mClip::CaptureBusy = false;
  EXPECT_FALSE(list_.Contains(L"while busy"));
  EXPECT_GT(later.draws, before) << "passed on all the same";
}

TEST_F(MonitorTest, ChainChangesRepairTheLinkAndArePassedOn) {
  OtherViewer a, b;
  CopyFromOtherProcess({Text(L"x")});
  ASSERT_EQ(mClip::NextViewerWnd, nullptr);
  a.Join();
  CopyFromOtherProcess({Text(L"y")});  // host re-joins in front of a
  ASSERT_EQ(mClip::NextViewerWnd, a.hwnd());
  // Someone else leaving: the message goes on down the chain with its arguments unchanged.
  ::SendMessageW(host_.get(), WM_CHANGECBCHAIN, reinterpret_cast<WPARAM>(b.hwnd()), 1234);
  EXPECT_EQ(mClip::NextViewerWnd, a.hwnd());
  ASSERT_FALSE(a.chainChanges.empty());
  EXPECT_EQ(a.chainChanges.back(), std::make_pair(reinterpret_cast<WPARAM>(b.hwnd()), LPARAM{1234}));
  // Our next leaving: the link moves to its successor.
  ::SendMessageW(host_.get(), WM_CHANGECBCHAIN, reinterpret_cast<WPARAM>(a.hwnd()),
                 reinterpret_cast<LPARAM>(b.hwnd()));
  EXPECT_EQ(mClip::NextViewerWnd, b.hwnd());
  // A link that would point at ourselves is never followed.
  ::SendMessageW(host_.get(), WM_CHANGECBCHAIN, reinterpret_cast<WPARAM>(b.hwnd()),
                 reinterpret_cast<LPARAM>(host_.get()));
  ::SendMessageW(host_.get(), WM_DRAWCLIPBOARD, 0, 0);
  mClip::NextViewerWnd = nullptr;
}

TEST_F(MonitorTest, TheWindowsOwnProcedureSeesEveryMessageFirst) {
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(host_.get(), GWLP_WNDPROC)),
            mClip::ClipboardWndProc);
  EXPECT_EQ(mClip::PrevWndProc, ::DefWindowProcW);
  ::SetWindowTextW(host_.get(), L"through the hook");
  wchar_t text[32] = {};
  ::GetWindowTextW(host_.get(), text, 32);
  EXPECT_STREQ(text, L"through the hook");
  Leave();
  EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(host_.get(), GWLP_WNDPROC)), ::DefWindowProcW);
}

TEST_F(MonitorTest, TwoViewersThatBothRejoinDoNotFeedEachOtherForEver) {
  OtherViewer rejoiner(OtherViewer::kRejoins);
  rejoiner.Join();
  CopyFromOtherProcess({Text(L"once")}, 500);
  const int settled = rejoiner.draws;
  testsupport::PumpFor(500);
  EXPECT_EQ(rejoiner.draws, settled) << "the notifications stopped";
  EXPECT_LT(settled, 20);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"once"}));
  CopyFromOtherProcess({Text(L"twice")}, 300);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"once", L"twice"})) << "and recording goes on";
}

}  // namespace

namespace {

TEST_F(MonitorTest, AHungNextViewerDoesNotFreezeTheWindow) {
  Leave();
  testsupport::ViewerProcess hung(3000, 2500);  // stops answering for 2.5 s at every change
  ASSERT_TRUE(hung.WaitJoined());
  Join();  // we are first, the hung viewer is next
  CopyFromOtherProcess({Text(L"not frozen")}, 0);
  const DWORD start = ::GetTickCount();
  EXPECT_TRUE(testsupport::PumpUntil([&] { return list_.Contains(L"not frozen"); }, 8000));
  // The window answered well before the viewer did.
  EXPECT_LT(::GetTickCount() - start, 2000u);
}

TEST_F(MonitorTest, ALogThatCannotBeWrittenDoesNotStopRecording) {
  ASSERT_TRUE(clip::WriteLogLine(L"earlier"));
  {
    win::UniqueFile lock(::CreateFileW(folder_.File(L"backups.log").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    CopyFromOtherProcess({Text(L"while locked")});
  }
  CopyFromOtherProcess({Text(L"after")});
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"while locked", L"after"}));
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_FALSE(mClip::CaptureBusy);
}

}  // namespace

namespace {

TEST_F(MonitorTest, ViewersInOtherProcessesJoinAndLeaveAroundUs) {
  testsupport::ViewerProcess a(4000);
  ASSERT_TRUE(a.WaitJoined());
  CopyFromOtherProcess({Text(L"one")}, 300);  // a hands it to us; we re-join in front of a
  EXPECT_EQ(::GetClipboardViewer(), host_.get());
  const HWND aWindow = mClip::NextViewerWnd;
  ASSERT_NE(aWindow, nullptr);

  {
    testsupport::ViewerProcess b(1200);
    ASSERT_TRUE(b.WaitJoined());
    CopyFromOtherProcess({Text(L"two")}, 300);
    EXPECT_EQ(::GetClipboardViewer(), host_.get());
    EXPECT_NE(mClip::NextViewerWnd, aWindow) << "b is our next now";
    // Told of the change, and of the announcement that each re-join makes.
    EXPECT_GE(b.WaitEnd(), 1) << "b was told of the change made while it was in the chain";
  }
  EXPECT_EQ(mClip::NextViewerWnd, aWindow) << "b left: the link skips it";
  CopyFromOtherProcess({Text(L"three")}, 300);
  EXPECT_GE(a.WaitEnd(), 3) << "every change reached a, passed on by us";
  EXPECT_EQ(mClip::NextViewerWnd, nullptr) << "a left too";
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"one", L"two", L"three"}));
}

}  // namespace

namespace {

TEST_F(MonitorTest, AClipboardHeldByAnotherProgramIsReadOnceItIsFree) {
  CopyFromOtherProcess({Text(L"held briefly"), L"hold=40"}, 300);
  CopyFromOtherProcess({Text(L"held a while"), L"hold=300"}, 0);
  EXPECT_TRUE(testsupport::PumpUntil([&] { return list_.Count() == 2; }, 3000));
  testsupport::PumpFor(300);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"held briefly", L"held a while"}))
      << "once each, never empty";
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_FALSE(mClip::CaptureBusy);
}

}  // namespace

namespace {

TEST_F(MonitorTest, AViewerInFrontThatPassesNothingOnDoesNotStopTheRecording) {
  OtherViewer swallower(OtherViewer::kPassesNothingOn);
  swallower.Join();
  CopyFromOtherProcess({Text(L"swallowed in the chain")}, 300);
  CopyFromOtherProcess({Text(L"and again")}, 300);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"swallowed in the chain", L"and again"}));
  EXPECT_EQ(LogLines().size(), 2u) << "recorded once each, though told twice";
}

TEST_F(MonitorTest, ADeadNextViewerAndOneThatComesAndGoesStopNothing) {
  Leave();
  HWND dead = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ::SetClipboardViewer(dead);
  Join();
  ::DestroyWindow(dead);  // gone without leaving the chain
  mClip::NextViewerWnd = dead;
  CopyFromOtherProcess({Text(L"past the dead")});
  for (int i = 0; i < 100; ++i) {
    OtherViewer v;
    v.Join();
    testsupport::PumpFor(0);
  }
  CopyFromOtherProcess({Text(L"after the crowd")}, 300);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"past the dead", L"after the crowd"}));
  EXPECT_FALSE(mClip::CaptureBusy);
}

}  // namespace

namespace {

// Copies another process makes while the recorder re-joins the chain and runs a message pass: each
// one is recorded, though the next comes before the pass would have ended.
LRESULT CALLBACK CopyWhenAsked(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg != WM_APP) return ::DefWindowProcW(h, msg, w, l);
  const auto* text = reinterpret_cast<const wchar_t*>(l);
  win::UniqueHandle helper;
  if (testsupport::StartProcess(L"\"" + testsupport::SelfPath() + L"\" --helper " + Text(text), &helper)) {
    ::WaitForSingleObject(helper.get(), 10000);  // without taking messages: the pass is ours to watch
  }
  return 0;
}

TEST_F(MonitorTest, CopiesMadeDuringTheRecordersMessagePassAreEachRecorded) {
  const win::UniqueHwnd copier = testsupport::WindowOfProc(L"PellucidorTestCopier", CopyWhenAsked);
  static const wchar_t* const kDuring[] = {L"during one", L"during two"};
  list_.onChange = [&](app::JournalOp, size_t, std::wstring_view text) {
    if (text != L"before") return;
    for (const wchar_t* t : kDuring) ::PostMessageW(copier.get(), WM_APP, 0, reinterpret_cast<LPARAM>(t));
  };
  CopyFromOtherProcess({Text(L"before")});
  EXPECT_TRUE(testsupport::PumpUntil([&] { return list_.Count() == 3; }, 3000));
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"before", L"during one", L"during two"}));
  EXPECT_FALSE(mClip::CaptureBusy);
  list_.onChange = nullptr;
}

}  // namespace
