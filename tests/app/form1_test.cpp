// The main window in-process: start-up from stored settings, the start-up box, the list, session end.
#include <gtest/gtest.h>

#include "form1_fixture.h"
#include "startup/run_value.h"
#include "win/module.h"

namespace {

using testsupport::Form1Test;

TEST_F(Form1Test, SwitchesAreReadWithoutSideEffects) {
  Store(L"Windows Startup", L"On");
  Store(L"Minimized", L"on");  // not exactly "On": off
  app::Form1& f = Open();
  EXPECT_EQ(app::Form1::Value(f.Check4), 1);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_TRUE(::IsWindowVisible(f.hwnd()));
  // Loading neither wrote the start-up entry nor changed the stored switches.
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, testsupport::kScratchRun, L"tests_app.exe", RRF_RT_ANY, nullptr,
                           nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Stored(L"Minimized"), L"on");
}

TEST_F(Form1Test, StartEmptiesTheClipboardWithoutRecordingIt) {
  ASSERT_TRUE(testsupport::Copy({testsupport::Text(L"left over")}));
  app::Form1& f = Open();
  EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));
  ASSERT_TRUE(testsupport::Copy({testsupport::Text(L"marker")}));
  ASSERT_TRUE(testsupport::PumpUntil([&] { return f.ListView1.Contains(L"marker"); }));
  EXPECT_EQ(Rows(), std::vector<std::wstring>{L"marker"});
  EXPECT_EQ(testsupport::LogLines(folder_.File(L"backups.log")).size(), 1u);
}

TEST_F(Form1Test, SessionEndStoresTheRows) {
  app::Form1& f = Open();
  f.ListView1.AddItem(L"unsaved");
  EXPECT_TRUE(::SendMessageW(f.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
  ::SendMessageW(f.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(Stored(L"Files"), L"unsaved;");
  EXPECT_FALSE(f.cSysTray1->IsAdded());
}

TEST_F(Form1Test, StartupBoxStoresItsSettingAndTheEntry) {
  app::Form1& f = Open();
  const auto runValue = [] {
    wchar_t data[512] = {};
    DWORD size = sizeof(data);
    const std::wstring name = startup::FileNameOf(win::ExecutablePath());
    return ::RegGetValueW(HKEY_CURRENT_USER, testsupport::kScratchRun, name.c_str(), RRF_RT_REG_SZ, nullptr,
                          data, &size) == ERROR_SUCCESS
               ? std::wstring(data)
               : L"<absent>";
  };
  ::SendMessageW(f.Check8, BM_CLICK, 0, 0);
  EXPECT_EQ(Stored(L"Minimized"), L"On");
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);
  EXPECT_TRUE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(app::Form1::Value(f.Check8), 1) << "its value is left as it was";
  EXPECT_EQ(Stored(L"Windows Startup"), L"On");
  EXPECT_EQ(runValue(),
            startup::RunValueData(win::ProgramFolder(), startup::FileNameOf(win::ExecutablePath())));
  ::SendMessageW(f.Check4, BM_CLICK, 0, 0);
  EXPECT_EQ(app::Form1::Value(f.Check8), 0);
  EXPECT_FALSE(::IsWindowVisible(f.Check8));
  EXPECT_EQ(Stored(L"Minimized"), L"Off");
  EXPECT_EQ(Stored(L"Windows Startup"), L"Off");
  EXPECT_EQ(runValue(), L"<absent>");
}

TEST_F(Form1Test, ListIgnoresPositionsOutsideItsRows) {
  app::Form1& f = Open();
  EXPECT_FALSE(f.ListView1.SelectedItem().has_value());
  for (const wchar_t* t : {L"zero", L"one", L"two", L"three"}) f.ListView1.AddItem(t);
  f.ListView1.Select(3);
  f.ListView1.Remove(1);
  EXPECT_EQ(f.ListView1.SelectedItem(), 2u) << "the selection moves up with its row";
  f.ListView1.SetSubItem(2, app::RowType::Text);
  for (const size_t outside : {size_t{0}, size_t{4}, size_t{5}, SIZE_MAX}) {
    f.ListView1.Select(outside);
    f.ListView1.SetSubItem(outside, app::RowType::RichText);
    f.ListView1.Remove(outside);
    f.ListView1.RemoveDeferred(outside);
    EXPECT_EQ(f.ListView1.ItemText(outside), L"") << outside;
    EXPECT_EQ(f.ListView1.ItemType(outside), app::RowType::None) << outside;
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"one", L"two", L"three"})) << outside;
    EXPECT_EQ(ListView_GetSelectedCount(f.ListView1.hwnd()), 1u) << outside;
    EXPECT_EQ(f.ListView1.SelectedItem(), 2u) << outside;
    EXPECT_EQ(f.ListView1.ItemType(2), app::RowType::Text) << outside;
  }
}

TEST_F(Form1Test, TypingFindsTheNextEntryThatStartsWithTheLetters) {
  app::Form1& f = Open();
  for (const wchar_t* t : {L"alpha", L"beta", L"gamma", L"Bravo"}) f.ListView1.AddItem(t);
  const struct {
    const wchar_t* letters;
    int start;
    LRESULT found;
  } cases[] = {{L"b", 0, 1}, {L"b", 2, 3}, {L"al", 2, 0}, {L"zz", 0, -1}};  // any case; wraps round
  for (const auto& c : cases) {
    NMLVFINDITEMW n{};
    n.hdr.hwndFrom = f.ListView1.hwnd();
    n.hdr.code = LVN_ODFINDITEMW;
    n.iStart = c.start;
    n.lvfi.flags = LVFI_STRING | LVFI_PARTIAL;
    n.lvfi.psz = c.letters;
    LRESULT result = -2;
    EXPECT_TRUE(f.ListView1.OnNotify(n.hdr, result));
    EXPECT_EQ(result, c.found) << c.letters << " from " << c.start;
  }
}

TEST_F(Form1Test, DamagedSettingsAreReadAsFarAsTheyGoAndStoredWellAtClose) {
  const struct {
    const char* what;
    DWORD type;
    std::wstring data;
    std::vector<std::wstring> rows;
  } cases[] = {
      {"binary", REG_BINARY, L"a;b;", {}},
      {"a number", REG_DWORD, std::wstring(2, L'\x0101'), {}},
      {"an inner NUL", REG_SZ, std::wstring(L"a;b\0c;d;\0", 9), {L"a", std::wstring(L"b\0c", 3), L"d"}},
      {"no terminating NUL", REG_SZ, L"x;y", {L"x", L"y"}},
      {"a lone surrogate", REG_SZ, L"\xD800;ok;", {L"\xD800", L"ok"}},
  };
  const auto storeRaw = [](const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, testsupport::kSettingsPath.c_str(), name, type, data,
                      static_cast<DWORD>(bytes));
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, testsupport::kSettingsPath.c_str());
    storeRaw(L"Files", c.type, c.data.data(), c.data.size() * sizeof(wchar_t));
    storeRaw(L"Minimized", REG_DWORD, "\1\0\0\0", 4);
    app::Form1& f = Open();
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(app::Form1::Value(f.Check8), 0);
    Close();
    DWORD type = 0;
    ::RegGetValueW(HKEY_CURRENT_USER, testsupport::kSettingsPath.c_str(), L"Files", RRF_RT_ANY, &type,
                   nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(app::DecodeFiles(Stored(L"Files")), c.rows);
  }
}

}  // namespace
