// User journeys with the real executable.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <set>

#include "history/files_codec.h"
#include "history/journal.h"
#include "history/journal_codec.h"
#include "history/settings.h"
#include "pellucidor_driver.h"
#include "support/test_support.h"
#include "tray/notify_record.h"
#include "win/system_program.h"

namespace {

using e2e::Pellucidor;
using e2e::Row;

// Button identifiers of the window.
constexpr int kPutBack = 105, kClear = 106, kViewLog = 103;

class Journey : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER,
                     app::SettingsKeyPath(app::kSettingsApp, app::kSettingsSection).c_str());
    ::DeleteFileW(app::Journal().path().c_str());
  }
  static std::wstring Stored(const wchar_t* key) {
    return app::GetSetting(app::kSettingsApp, app::kSettingsSection, key, L"<absent>");
  }
  static void Copy(std::wstring_view text) { ASSERT_TRUE(testsupport::Copy({testsupport::Text(text)})); }
  int LogLinesWith(const std::string& phrase) const {
    const std::string log = testsupport::ReadBytes(folder_.File(L"backups.log"));
    int n = 0;
    for (size_t at = log.find(phrase); at != std::string::npos; at = log.find(phrase, at + 1)) ++n;
    return n;
  }

  testsupport::TempFolder folder_;
};

TEST_F(Journey, AHugeTextIsRecordedOnceAndKept) {
  constexpr size_t kChars = 8'000'000;  // `make stress` copies 50 MB
  const char* stress = std::getenv("PELLUCIDOR_HUGE_CHARS");
  const size_t chars = stress ? std::strtoul(stress, nullptr, 10) : kChars;
  {
    Pellucidor p(folder_.path());
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(testsupport::Copy({L"big=" + std::to_wstring(chars)}));
    ASSERT_TRUE(p.WaitForRows(1, 60000));
    EXPECT_EQ(p.Texts().front().substr(0, 8), L"BIG 4567") << "the list shows the start of it";
    EXPECT_GE(testsupport::ReadBytes(folder_.File(L"backups.log")).size(), chars);
    ASSERT_TRUE(testsupport::Copy({L"big=" + std::to_wstring(chars)}));
    Copy(L"end");
    ASSERT_TRUE(p.WaitForText(L"end", 60000));
    EXPECT_EQ(p.Rows().size(), 2u) << "once";
    EXPECT_EQ(p.Close(), 0u);
  }
  EXPECT_EQ(Stored(L"Files").size(), chars + 5);
  Pellucidor again(folder_.path());
  ASSERT_TRUE(again.Start());
  ASSERT_EQ(again.Rows().size(), 2u);
  EXPECT_EQ(again.Rows().front().type, L"") << "restored rows show no type";
  EXPECT_EQ(again.Texts().front().substr(0, 8), L"BIG 4567");
}

TEST_F(Journey, BurstsOfCopiesAreRecordedInOrderOnce) {
  const char* stress = std::getenv("PELLUCIDOR_BURST");
  // Spaced bursts take seconds per hundred copies; one with no pause is ten thousand copies in a
  // few seconds, enough to pile up ten thousand announcements.
  const auto copies = [stress](unsigned spacing) -> unsigned {
    return stress ? static_cast<unsigned>(std::strtoul(stress, nullptr, 10)) : spacing ? 300 : 10000;
  };
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  unsigned count = 0;
  const auto burst = [&](unsigned spacing) {
    count = copies(spacing);
    p.Click(kClear);
    EXPECT_TRUE(testsupport::RunBurst({count, spacing}));
    // Done once what the clipboard holds at the end is listed (the last copy, unless Wine brought
    // an older one back from the X11 side after it: a real change, recorded where it comes).
    const std::wstring last = testsupport::ClipboardText();
    std::vector<std::wstring> texts;
    const bool listed = testsupport::PumpUntil(
        [&] {
          texts = p.Texts();
          return std::find(texts.begin(), texts.end(), last) != texts.end();
        },
        60000);
    EXPECT_TRUE(listed) << testing::PrintToString(last);
    std::printf("burst of %u copies %u ms apart: %zu recorded\n", count, spacing, texts.size());
    return texts;
  };
  // How many of a burst are recorded depends on the machine (make bench prints it); what holds on
  // any machine: each at most once, in the order copied.
  for (unsigned spacing : {25u, 10u, 1u, 0u}) {
    SCOPED_TRACE(spacing);
    const auto texts = burst(spacing);
    std::vector<unsigned long> numbers;
    for (const std::wstring& t : texts) numbers.push_back(std::wcstoul(t.c_str() + 6, nullptr, 10));
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()) &&
                std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end())
        << testing::PrintToString(texts);
  }
}

// Content marked private never reaches the list, the log, the journal or the stored list, however
// fast plain and marked copies alternate.
TEST_F(Journey, PrivateCopiesAmongFastOnesAreNeverRecorded) {
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  unsigned first = 1;
  for (unsigned spacing : {5u, 1u, 0u}) {
    ASSERT_TRUE(testsupport::RunBurst({400, spacing, first, true}));
    first += 400;
  }
  Copy(L"the end");
  ASSERT_TRUE(p.WaitForText(L"the end", 60000));
  const auto texts = p.Texts();
  std::printf("%zu of 600 plain copies recorded\n", texts.size() - 1);
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::wstring& t) { return t.find(L"secret") != std::wstring::npos; }),
            0);
  EXPECT_EQ(LogLinesWith("secret"), 0);
  const std::string journal = testsupport::ReadBytes(app::Journal().path());
  const std::wstring secret = L"secret";
  EXPECT_EQ(journal.find(std::string(reinterpret_cast<const char*>(secret.data()), secret.size() * 2)),
            std::string::npos);
  EXPECT_EQ(p.Close(), 0u);
  EXPECT_EQ(Stored(L"Files").find(L"secret"), std::wstring::npos);
}

// Killed at random moments while copies come (and once with its journal's last record torn, as a
// crash in the middle of writing it leaves it), the program comes back every time with every entry
// its log says it added, each once.
TEST_F(Journey, KilledAnywhereItKeepsEveryEntryItLogged) {
  const char* stress = std::getenv("PELLUCIDOR_KILLS");
  const int kills = stress ? std::atoi(stress) : 3;
  const unsigned seed = ::GetTickCount();
  std::printf("kill moments from seed %u\n", seed);
  std::mt19937 gen(seed);
  const std::string added = testsupport::Utf8(L" was added to clipboard entries at ");
  unsigned first = 1;
  for (int round = 0;; ++round) {
    SCOPED_TRACE(round);
    Pellucidor p(folder_.path());
    ASSERT_TRUE(p.Start());
    std::multiset<std::string> listed;
    for (const std::wstring& t : p.Texts()) listed.insert(testsupport::Utf8(t));
    size_t logged = 0;
    std::vector<std::string> notOnce;
    for (const std::string& line : testsupport::LogLines(folder_.File(L"backups.log"))) {
      const size_t at = line.find(added);
      if (at == std::string::npos) continue;
      ++logged;
      if (listed.count(line.substr(0, at)) != 1) notOnce.push_back(line.substr(0, at));
    }
    std::printf("after %d kills: %zu entries logged, %zu listed\n", round, logged, listed.size());
    EXPECT_TRUE(notOnce.empty()) << notOnce.size() << " logged but not listed once, first "
                                 << notOnce.front();
    if (round == kills) break;
    const win::UniqueHandle copier = testsupport::StartBurst({300, 2, first});
    first += 300;
    // Killed once a random number of this burst's copies is listed, or when the burst is over.
    const size_t killAt = listed.size() + std::uniform_int_distribution<size_t>(1, 60)(gen);
    const auto copierEnded = [&] { return ::WaitForSingleObject(copier.get(), 0) == WAIT_OBJECT_0; };
    (void)testsupport::PumpUntil([&] { return p.Texts().size() >= killAt || copierEnded(); }, 120000);
    p.Kill();
    ASSERT_TRUE(testsupport::PumpUntil(copierEnded, 120000));
    if (round == 1) {
      const std::string journal = testsupport::ReadBytes(app::Journal().path());
      const std::string torn = app::JournalRecord(app::JournalOp::Add, 1, L"torn").substr(0, 9);
      ASSERT_TRUE(testsupport::WriteBytes(app::Journal().path(), journal + torn));
    }
  }
}

TEST_F(Journey, AFullDiskStopsNeitherTheRecordingNorTheList) {
  const auto disk = testsupport::SmallDisk();
  if (!disk) GTEST_SKIP() << "no size-limited folder: mounting one needs root";
  testsupport::TempFolder folder(*disk);  // the program's folder, so its log's too
  const std::wstring log = folder.File(L"backups.log");
  const std::vector<std::wstring> copies = {L"before", testsupport::BigText(20000), L"while full",
                                            L"after"};  // 20,000 characters: more than a block's slack
  const auto lineStarts = [&] {
    std::vector<std::string> starts;
    for (const std::string& line : testsupport::LogLines(log)) starts.push_back(line.substr(0, 5));
    return starts;
  };
  {
    Pellucidor p(folder.path());
    ASSERT_TRUE(p.Start());
    Copy(copies[0]);
    ASSERT_TRUE(p.WaitForRows(1));
    {
      testsupport::DiskFiller full(folder.path());
      ASSERT_TRUE(testsupport::Copy({L"big=20000"}));
      Copy(copies[2]);
      ASSERT_TRUE(p.WaitForRows(3));  // each row's line is written before the list shows it
      const std::string bytes = testsupport::ReadBytes(log);
      EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "no line half written";
      // What still fitted in the file's last block went in; the long line did not.
      const auto starts = lineStarts();
      EXPECT_EQ(std::count(starts.begin(), starts.end(), "BIG 4"), 0);
    }
    Copy(copies[3]);
    ASSERT_TRUE(p.WaitForRows(4));
    EXPECT_EQ(lineStarts().back(), "after") << "the log goes on once there is room";
    const auto texts = p.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1].substr(0, 5), L"BIG 4");
    EXPECT_EQ(texts[3], L"after");
    EXPECT_EQ(p.Close(), 0u);
  }
  const auto stored = app::DecodeFiles(Stored(L"Files"));
  EXPECT_TRUE(stored == copies) << "every entry stored at close; " << stored.size()
                                << " stored: " << testing::PrintToString(stored).substr(0, 300);
}

TEST_F(Journey, ButtonsAndDoubleClickActOnTheList) {
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  for (const wchar_t* c : {L"first", L"second \u0416", L"third"}) Copy(c);
  ASSERT_TRUE(p.WaitForRows(3));

  p.SelectRow(1);
  p.Click(kPutBack);
  EXPECT_EQ(testsupport::ClipboardText(), L"second \u0416");
  EXPECT_EQ(::GetClipboardOwner(), p.hwnd()) << "put there by the window, not by nobody";
  EXPECT_EQ(::SendMessageW(p.Control(kPutBack), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(LogLinesWith(" was put to clipboard at "), 1);
  p.DoubleClickRow(0);
  Copy(L"first");  // removed, so recorded again, at the end
  ASSERT_TRUE(p.WaitForRows(3));
  EXPECT_EQ(p.Texts(), (std::vector<std::wstring>{L"second \u0416", L"third", L"first"}));

  p.Click(kClear);
  EXPECT_TRUE(p.Rows().empty());
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_EQ(LogLinesWith("Clipboard was clear at "), 1);
  EXPECT_EQ(p.Close(), 0u);
  Pellucidor again(folder_.path());
  ASSERT_TRUE(again.Start());
  EXPECT_TRUE(again.Rows().empty());
}

// A top-level window whose title holds text (in lower case), as Notepad's holds the name of its file.
struct TitleSearch {
  const wchar_t* text;
  HWND found;
};
BOOL CALLBACK MatchTitle(HWND h, LPARAM l) {
  auto* s = reinterpret_cast<TitleSearch*>(l);
  wchar_t title[256] = {};
  ::GetWindowTextW(h, title, 256);
  if (!std::wcsstr(_wcslwr(title), s->text)) return TRUE;
  s->found = h;
  return FALSE;
}
HWND WindowTitled(const wchar_t* text) {
  TitleSearch s{text, nullptr};
  ::EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

TEST_F(Journey, ViewSaveLogOpensTheLogInTheSystemsNotepadNotOneBesideTheProgram) {
  ASSERT_TRUE(testsupport::PlantSelf(folder_.path()));
  ASSERT_TRUE(testsupport::WriteBytes(folder_.File(L"backups.log"), "logged\r\n"));
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  p.Click(kViewLog);
  EXPECT_EQ(::SendMessageW(p.Control(kViewLog), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  const std::wstring mark = testsupport::PlantedMark(folder_.path());
  const auto plantedRan = [&] { return ::GetFileAttributesW(mark.c_str()) != INVALID_FILE_ATTRIBUTES; };
  HWND notepad = nullptr;
  ASSERT_TRUE(testsupport::PumpUntil(
      [&] { return (notepad = WindowTitled(L"backups.log")) != nullptr || plantedRan(); }, 30000));
  EXPECT_FALSE(plantedRan()) << "the notepad.exe beside the program ran";
  ASSERT_NE(notepad, nullptr);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(notepad, &pid);
  win::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
  wchar_t image[MAX_PATH] = {};
  DWORD n = MAX_PATH;
  ::QueryFullProcessImageNameW(process.get(), 0, image, &n);
  ::TerminateProcess(process.get(), 0);
  EXPECT_EQ(_wcsicmp(image, win::SystemProgramPath(L"notepad.exe").c_str()), 0) << image;
}

// The keys act on the selected row as a double-click and the first button do, and on nothing when
// no row is selected. Pressed for real: the list must have the keyboard, and Ctrl must be held.
TEST_F(Journey, KeysActOnTheSelectedRow) {
  if (!e2e::HasRealInput()) GTEST_SKIP() << "no xdotool under Wine";
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  const std::vector<std::wstring> copies = {L"one", L"two", L"three", L"four"};
  for (const auto& c : copies) Copy(c);
  ASSERT_TRUE(p.WaitForRows(4));
  const struct {
    std::vector<Pellucidor::ClickAndKeys> steps;
    std::vector<std::wstring> rows;
    std::wstring clipboard;
    size_t putLines;
  } cases[] = {
      {{{1, "Return"}}, copies, L"two", 1},
      {{{2, "ctrl+c"}}, copies, L"three", 2},
      // With no row selected the keys do nothing; the click and key after them show they were taken.
      {{{-1, "Delete Return ctrl+c"}, {0, "Delete"}}, {L"two", L"three", L"four"}, L"three", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps.back().keys);
    p.Press(c.steps);
    const bool done = testsupport::PumpUntil(
        [&] {
          return p.Texts() == c.rows && testsupport::ClipboardText() == c.clipboard &&
                 testsupport::LogLines(folder_.File(L"backups.log")).size() == copies.size() + c.putLines;
        },
        15000);
    EXPECT_TRUE(done) << testing::PrintToString(p.Texts())
                      << testing::PrintToString(testsupport::ClipboardText());
    EXPECT_EQ(LogLinesWith(" was put to clipboard at "), static_cast<int>(c.putLines));
  }
}

// The tray icon's menu, opened with the right button whether the window is hidden or shown: its
// first item shows the window, its last ends the program as closing the window does.
TEST_F(Journey, TheTrayMenuShowsTheWindowAndExits) {
  if (!e2e::HasRealInput()) GTEST_SKIP() << "no xdotool under Wine";
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  Copy(L"kept");
  ASSERT_TRUE(p.WaitForRows(1));
  ASSERT_TRUE(p.MinimiseToTray());
  // Keys that reach the menu before it has the keyboard (a busy machine) are lost: the menu is
  // opened and the keys pressed again until the item has acted, a few times at most.
  const auto choose = [&](const char* keys, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 4 && !done(); ++attempt) {
      HWND menu = e2e::FindProcessWindow(p.pid(), L"#32768");
      if (!menu || !::IsWindowVisible(menu)) menu = p.OpenTrayMenu();
      if (menu) p.Press(menu, keys);
      if (testsupport::PumpUntil(done, 10000)) return true;
    }
    return done();
  };
  EXPECT_TRUE(choose("Down Return", [&] { return ::IsWindowVisible(p.hwnd()) != FALSE; }));
  EXPECT_TRUE(choose("Up Return", [&] { return !p.Running(); }));
  EXPECT_EQ(p.Close(), 0u);
  EXPECT_EQ(Stored(L"Files"), L"kept;");
}

TEST_F(Journey, ASecondStartShowsTheRunningCopyAndEnds) {
  Pellucidor first(folder_.path());
  ASSERT_TRUE(first.Start());
  wchar_t name[32] = {};
  ::GetWindowTextW(first.List(), name, 32);
  EXPECT_STREQ(name, L"Saved Clipboard Entries") << "the list's name, for screen readers";
  ASSERT_TRUE(first.MinimiseToTray());

  Pellucidor second(folder_.path());
  EXPECT_FALSE(second.Start()) << "the second copy opens no window of its own";
  EXPECT_TRUE(testsupport::PumpUntil([&] { return ::IsWindowVisible(first.hwnd()) != FALSE; }));
  EXPECT_TRUE(first.Running());
}

TEST_F(Journey, CopiesOnTheLinuxDesktopAreRecordedToo) {
  if (::GetFileAttributesW(L"Z:\\usr\\bin\\xclip") == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "not under Wine";
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  // Wine starts Linux programs too, with no handle to wait on. xclip stays behind to serve the
  // selection: its output must go elsewhere, or it would hold the test's output open.
  ASSERT_TRUE(testsupport::StartProcess(
      L"Z:\\bin\\sh -c \"printf 'from X11' | /usr/bin/xclip -selection clipboard >/dev/null 2>&1\""));
  ASSERT_TRUE(p.WaitForRows(1));
  Copy(L"end");
  ASSERT_TRUE(p.WaitForText(L"end"));
  EXPECT_EQ(p.Texts(), (std::vector<std::wstring>{L"from X11", L"end"}));
  EXPECT_EQ(LogLinesWith("from X11 was added to clipboard entries at "), 1);
}

}  // namespace
