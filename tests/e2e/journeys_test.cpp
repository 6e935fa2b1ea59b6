// User journeys with the real executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "history/files_codec.h"
#include "history/journal.h"
#include "history/journal_codec.h"
#include "history/settings.h"
#include "pellucidor_driver.h"
#include "win/system_program.h"

namespace {

using e2e::Pellucidor;
using Rows = std::vector<std::wstring>;

constexpr int kPutBack = 105, kClear = 106, kViewLog = 103;  // the window's buttons

class Journey : public testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER,
                     app::SettingsKeyPath(app::kSettingsApp, app::kSettingsSection).c_str());
    ::DeleteFileW(app::Journal().path().c_str());
  }
  static std::wstring Stored() {
    return app::GetSetting(app::kSettingsApp, app::kSettingsSection, L"Files", L"");
  }
  static void Copy(std::wstring_view text) { ASSERT_TRUE(testsupport::Copy({testsupport::Text(text)})); }
  int LogLinesWith(const std::string& phrase) const {
    const auto lines = testsupport::LogLines(folder_.File(L"backups.log"));
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string& l) { return l.find(phrase) != l.npos; }));
  }
  testsupport::TempFolder folder_;
};

// Bursts of copies, every other one marked private: what holds on any machine (make bench shows
// how many are recorded) is each plain copy at most once, in order, the last one recorded, and
// nothing private in the list, the log, the journal or the stored list.
TEST_F(Journey, FastCopiesAreRecordedInOrderOnceAndPrivateOnesNever) {
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  unsigned first = 1;
  for (const unsigned spacing : {10u, 1u, 0u}) {
    const unsigned count = spacing ? 401 : 4001;  // with no pause, thousands of announcements pile up
    ASSERT_TRUE(testsupport::RunBurst({count, spacing, first, true}));
    first += count;
    ASSERT_TRUE(p.WaitForText(L"burst " + std::to_wstring(first - 1), 60000)) << spacing;
  }
  const Rows texts = p.Texts();
  std::vector<unsigned long> numbers;
  for (const std::wstring& t : texts)
    numbers.push_back(t.rfind(L"burst ", 0) ? 0 : std::wcstoul(&t[6], nullptr, 10));
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()) &&
              std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end() && numbers.front() > 0)
      << testing::PrintToString(texts);
  EXPECT_EQ(LogLinesWith("secret"), 0);
  const std::string journal = testsupport::ReadBytes(app::Journal().path());
  EXPECT_EQ(journal.find(testsupport::Bytes(L"secret")), std::string::npos);
  EXPECT_EQ(p.Close(), 0u);
  EXPECT_EQ(Stored().find(L"secret"), std::wstring::npos);
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
  for (int round = 0; round <= kills; ++round) {
    SCOPED_TRACE(round);
    Pellucidor p(folder_.path());
    ASSERT_TRUE(p.Start());
    std::multiset<std::string> listed;
    for (const std::wstring& t : p.Texts()) listed.insert(testsupport::Utf8(t));
    std::vector<std::string> notOnce;
    for (const std::string& line : testsupport::LogLines(folder_.File(L"backups.log"))) {
      const size_t at = line.find(added);
      if (at != line.npos && listed.count(line.substr(0, at)) != 1) notOnce.push_back(line.substr(0, at));
    }
    EXPECT_TRUE(notOnce.empty()) << notOnce.size() << " logged but not listed once, first "
                                 << notOnce.front();
    if (round == kills) break;
    // Killed once a random number of this burst's copies is listed, or when the burst is over.
    const size_t killAt = listed.size() + std::uniform_int_distribution<size_t>(1, 60)(gen);
    std::atomic<bool> copied{false};
    std::thread copier([&] { copied = testsupport::RunBurst({300, 2, 300u * round + 1}) || true; });
    (void)testsupport::PumpUntil([&] { return p.Count() >= killAt || copied; }, 120000);
    p.Kill();
    copier.join();
    if (round == 1) {
      const std::string torn = app::JournalRecord(app::JournalOp::Add, 1, L"torn").substr(0, 9);
      ASSERT_TRUE(testsupport::WriteBytes(app::Journal().path(),
                                          testsupport::ReadBytes(app::Journal().path()) + torn));
    }
  }
}

// The buttons, a double-click and the keys act on the selected row, the keys on nothing when no row
// is selected. Given for real: the list must have the keyboard, and Ctrl must be held.
TEST_F(Journey, ButtonsClicksAndKeysActOnTheSelectedRow) {
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  const Rows copies = {L"one", L"two \u0416", L"three", L"four"};
  for (size_t i = 0; i < copies.size(); ++i) {
    Copy(copies[i]);
    ASSERT_TRUE(p.WaitForRows(i + 1));
  }
  const struct {
    int row;
    const char* input;
    Rows rows;
    std::wstring clipboard;
    int putLines;
  } cases[] = {
      {1, "click 1", copies, L"two \u0416", 1},  // then the put-back button
      {2, "click 1 key Return", copies, L"three", 2},
      {3, "click 1 key ctrl+c", copies, L"four", 3},
      {-1, "click 1 key Delete Return ctrl+c", copies, L"four", 3},
      {0, "click 1 key Delete", {copies.begin() + 1, copies.end()}, L"four", 3},
      {0, "double-click", {L"three", L"four"}, L"four", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    p.Input(c.row, c.input);
    if (c.row == 1) {
      ASSERT_TRUE(testsupport::PumpUntil([&] { return p.Selected() == 1; }));
      p.Click(kPutBack);
      EXPECT_EQ(::GetClipboardOwner(), p.hwnd()) << "put there by the window, not by nobody";
    }
    EXPECT_TRUE(testsupport::PumpUntil(
        [&] {
          return p.Texts() == c.rows && testsupport::ClipboardText() == c.clipboard &&
                 LogLinesWith(" was put to clipboard at ") == c.putLines;
        },
        15000))
        << testing::PrintToString(p.Texts()) << testing::PrintToString(testsupport::ClipboardText());
  }
  Copy(L"one");  // removed, so recorded again, at the end
  ASSERT_TRUE(p.WaitForRows(3));
  p.Click(kClear);
  EXPECT_EQ(p.Count(), 0u);
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_EQ(LogLinesWith("Clipboard was clear at "), 1);
  EXPECT_EQ(p.Close(), 0u);
  Pellucidor again(folder_.path());
  ASSERT_TRUE(again.Start());
  EXPECT_EQ(again.Count(), 0u);
}

// Notepad's window holds the name of its file in its title.
BOOL CALLBACK MatchTitle(HWND h, LPARAM l) {
  wchar_t title[256] = {};
  ::GetWindowTextW(h, title, 256);
  if (!std::wcsstr(_wcslwr(title), L"backups.log")) return TRUE;
  *reinterpret_cast<HWND*>(l) = h;
  return FALSE;
}

TEST_F(Journey, ViewSaveLogOpensTheLogInTheSystemsNotepadNotOneBesideTheProgram) {
  ASSERT_TRUE(testsupport::PlantSelf(folder_.path()));
  ASSERT_TRUE(testsupport::WriteBytes(folder_.File(L"backups.log"), "logged\r\n"));
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  p.Click(kViewLog);
  const std::wstring mark = testsupport::PlantedMark(folder_.path());
  const auto plantedRan = [&] { return ::GetFileAttributesW(mark.c_str()) != INVALID_FILE_ATTRIBUTES; };
  HWND notepad = nullptr;
  ASSERT_TRUE(testsupport::PumpUntil(
      [&] { return ::EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&notepad)), notepad || plantedRan(); },
      30000));
  EXPECT_FALSE(plantedRan()) << "the notepad.exe beside the program ran";
  ASSERT_NE(notepad, nullptr);
  DWORD pid = 0, n = MAX_PATH;
  ::GetWindowThreadProcessId(notepad, &pid);
  win::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
  wchar_t image[MAX_PATH] = {};
  ::QueryFullProcessImageNameW(process.get(), 0, image, &n);
  ::TerminateProcess(process.get(), 0);
  EXPECT_EQ(_wcsicmp(image, win::SystemProgramPath(L"notepad.exe").c_str()), 0) << image;
}

// The tray icon's menu: its first item shows the window, its last ends the program as closing does.
TEST_F(Journey, TheTrayMenuShowsTheWindowAndExits) {
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
      if (menu) p.Input(0, std::string("key ") + keys, menu);
      if (testsupport::PumpUntil(done)) return true;
    }
    return done();
  };
  EXPECT_TRUE(choose("Down Return", [&] { return ::IsWindowVisible(p.hwnd()) != FALSE; }));
  EXPECT_TRUE(choose("Up Return", [&] { return !p.Running(); }));
  EXPECT_EQ(p.Close(), 0u);
  EXPECT_EQ(Stored(), L"kept;");
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
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  // xclip stays behind to serve the selection: its output must go elsewhere, or it would hold the
  // test's output open.
  ASSERT_TRUE(testsupport::StartProcess(
      L"Z:\\bin\\sh -c \"printf 'from X11' | /usr/bin/xclip -selection clipboard >/dev/null 2>&1\""));
  ASSERT_TRUE(p.WaitForRows(1));
  Copy(L"end");
  ASSERT_TRUE(p.WaitForText(L"end"));
  EXPECT_EQ(p.Texts(), (Rows{L"from X11", L"end"}));
  EXPECT_EQ(LogLinesWith("from X11 was added to clipboard entries at "), 1);
}

}  // namespace
