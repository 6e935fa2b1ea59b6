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
#include "pellucidor_driver.h"
#include "win/system_program.h"

namespace {

using namespace testsupport;

using e2e::Pellucidor;

class Journey : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    ::DeleteFileW(app::Journal().path().c_str());  // the program's own
  }
};

// Killed at random moments while copies come (and once with its journal's last record torn, as a
// crash in the middle of writing it leaves it), the program comes back every time with every entry
// its log says it added, each once.
TEST_F(Journey, KilledAnywhereItKeepsEveryEntryItLogged) {
  const char* stress = std::getenv("PELLUCIDOR_KILLS");
  const int kills = stress ? std::atoi(stress) : 3;
  const unsigned seed = ::GetTickCount();
  std::printf("kill moments from seed %u\n", seed);
  std::mt19937 gen(seed);
  for (int round = 0; round < kills; ++round) {
    Pellucidor p(folder_.path());
    ASSERT_TRUE(p.Start());
    // Killed once a random number of this burst's copies is listed, or when the burst is over.
    const size_t killAt = p.Count() + std::uniform_int_distribution<size_t>(1, 60)(gen);
    std::atomic<bool> copied{false};
    std::thread copier([&] { copied = RunBurst({300, 2, 300u * round + 1}) || true; });
    (void)PumpUntil([&] { return p.Count() >= killAt || copied; }, 120000);
    p.Kill();
    copier.join();
    if (round == 0) {
      const std::string torn = app::JournalRecord(app::JournalOp::Add, 1, L"torn").substr(0, 9);
      ASSERT_TRUE(WriteBytes(app::Journal().path(), ReadBytes(app::Journal().path()) + torn));
    }
  }
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  EXPECT_EQ(p.Close(), 0u);  // stores the list as it was brought back
  std::multiset<std::wstring> listed;
  for (const std::wstring& t : app::DecodeFiles(Stored(L"Files"))) listed.insert(t);
  const std::wstring added = L" was added to clipboard entries at ";
  size_t logged = 0;
  for (const std::string& line : testsupport::LogLines(folder_.File(L"backups.log"))) {
    const std::wstring text = win::BytesToWide(line, CP_UTF8);
    const size_t at = text.find(added);
    if (at == text.npos) continue;
    ++logged;
    EXPECT_EQ(listed.count(text.substr(0, at)), 1u) << text.substr(0, at) << " logged, not listed once";
  }
  std::printf("%zu entries logged through %d kills, %zu listed\n", logged, kills, listed.size());
}

// A notepad.exe beside the program is never started (this one is Pellucidor itself, which would
// open no log): the system's Notepad opens the log.
TEST_F(Journey, ViewSaveLogOpensTheLogInTheSystemsNotepadNotOneBesideTheProgram) {
  ASSERT_TRUE(::CopyFileW(PellucidorExe().c_str(), folder_.File(L"notepad.exe").c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(folder_.File(L"backups.log"), "logged\r\n"));
  Pellucidor p(folder_.path());
  ASSERT_TRUE(p.Start());
  ::SendMessageW(::GetDlgItem(p.hwnd(), 103), BM_CLICK, 0, 0);  // View Save Log
  HWND notepad = nullptr;
  const auto notepadTitle = [&] {
    wchar_t title[256] = {};
    ::GetWindowTextW(notepad = ::FindWindowW(L"Notepad", nullptr), title, 256);
    return std::wstring(_wcslwr(title));
  };
  ASSERT_TRUE(PumpUntil([&] { return notepadTitle().find(L"backups.log") != std::wstring::npos; }, 30000));
  DWORD pid = 0, n = MAX_PATH;
  ::GetWindowThreadProcessId(notepad, &pid);
  win::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
  wchar_t image[MAX_PATH] = {};
  ::QueryFullProcessImageNameW(process.get(), 0, image, &n);
  ::TerminateProcess(process.get(), 0);
  EXPECT_EQ(_wcsicmp(image, win::SystemProgramPath(L"notepad.exe").c_str()), 0) << image;
}

// The tray icon's menu: its first item shows the window, its last ends the program as closing does.
// Hidden in the tray, the window comes back when the program is started again (the second copy ends
// at once) and from the tray icon's menu, whose last item ends the program as closing does.
TEST_F(Journey, TheTrayMenuAndASecondStartShowTheWindow) {
  Pellucidor p(folder_.path()), second(folder_.path());
  ASSERT_TRUE(p.Start());
  ASSERT_TRUE(testsupport::Copy({Text(L"kept")}));
  ASSERT_TRUE(PumpUntil([&] { return p.Count() == 1; }));
  const auto hidden = [&] { return !::IsWindowVisible(p.hwnd()); };
  ::ShowWindow(p.hwnd(), SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil(hidden));
  EXPECT_FALSE(second.Start()) << "the second copy opens no window of its own";
  EXPECT_TRUE(PumpUntil([&] { return !hidden(); }));
  ::ShowWindow(p.hwnd(), SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil(hidden));
  // Keys that reach the menu before it has the keyboard (a busy machine) are lost: the menu is
  // opened and the keys pressed again until the item has acted, a few times at most.
  const auto choose = [&](const char* keys, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 4 && !done(); ++attempt) {
      HWND menu = e2e::FindProcessWindow(p.pid(), L"#32768");
      if (!menu || !::IsWindowVisible(menu)) menu = p.OpenTrayMenu();
      if (menu) Xdotool(menu, std::string("key ") + keys);
      if (PumpUntil(done)) return true;
    }
    return done();
  };
  EXPECT_TRUE(choose("Down Return", [&] { return !hidden(); }));
  EXPECT_TRUE(choose("Up Return", [&] { return !p.Running(); }));
  EXPECT_EQ(p.Close(), 0u);
  EXPECT_EQ(Stored(L"Files"), L"kept;");
}

}  // namespace
