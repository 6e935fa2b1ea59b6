// Small Win32 helpers.
#include <gtest/gtest.h>

#include <windows.h>

#include "win/module.h"
#include "win/system_program.h"

namespace {

TEST(Platform, ProgramFolderHasNoTrailingBackslash) {
  const std::wstring folder = win::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), L'\\');
  EXPECT_EQ(win::ExecutablePath().rfind(folder + L"\\", 0), 0u);
}

TEST(Platform, SystemProgramsAreLookedForInTheSystemFolderThenTheWindowsFolderOnly) {
  wchar_t system[MAX_PATH] = {}, windows[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const struct {
    const wchar_t* name;
    std::wstring path;
  } cases[] = {
      {L"notepad.exe", std::wstring(system) + L"\\notepad.exe"},
      {L"win.ini", std::wstring(windows) + L"\\win.ini"},  // in the Windows folder only
      {L"tests_win.exe", L""},                             // beside this program, not a system one
      {L"", L""},                                          // a folder is no program
  };
  for (const auto& c : cases) EXPECT_EQ(win::SystemProgramPath(c.name), c.path) << c.name;
}

}  // namespace
