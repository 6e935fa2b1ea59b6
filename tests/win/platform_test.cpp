// Small Win32 helpers.
#include <gtest/gtest.h>

#include "win/module.h"

namespace {

TEST(Platform, ProgramFolderHasNoTrailingBackslash) {
  const std::wstring folder = win::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), L'\\');
  EXPECT_EQ(win::ExecutablePath().rfind(folder + L"\\", 0), 0u);
}

}  // namespace
