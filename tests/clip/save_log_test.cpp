// The save log: exact bytes, encodings old and new, the fallback folder.
#include <gtest/gtest.h>

#include "clip/save_log.h"
#include "support/test_support.h"

namespace {

using namespace testsupport;

TEST(SaveLog, ANewLogIsUtf8WithItsMarkAndAnOldOneIsContinuedInAnsi) {
  const TempFolder folder;
  const clip::LogLocations where{folder.path(), folder.File(L"fallback")};
  const std::wstring log = folder.File(L"backups.log");
  EXPECT_EQ(clip::LogPathInUse(where), log);
  EXPECT_EQ(::GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES) << "found without being created";
  ASSERT_TRUE(clip::WriteLogLine(L"hello was added to clipboard entries at 12/6/2026 3:21:07 AM", where));
  ASSERT_TRUE(clip::WriteLogLine(L"two\r\nlines \u65E5", where));
  EXPECT_EQ(ReadBytes(log),
            "\xEF\xBB\xBFhello was added to clipboard entries at 12/6/2026 3:21:07 AM\r\ntwo\r\nlines "
            "\xE6\x97\xA5\r\n");
  ASSERT_TRUE(WriteBytes(log, "old line\r\n"));
  ASSERT_TRUE(clip::WriteLogLine(L"caf\u00E9", where));
  EXPECT_EQ(ReadBytes(log), "old line\r\ncaf\xE9\r\n");
}

TEST(SaveLog, AnUnwritableFolderSendsTheLogToTheFallback) {
  // A program folder that cannot hold files: its path runs through a file.
  const TempFolder folder;
  ASSERT_TRUE(WriteBytes(folder.File(L"not-a-folder"), "x"));
  const clip::LogLocations where{folder.File(L"not-a-folder"), folder.File(L"fallback\\deeper")};
  EXPECT_EQ(clip::LogPathInUse(where), folder.File(L"fallback\\deeper\\backups.log"));
  ASSERT_TRUE(clip::WriteLogLine(L"kept", where));
  EXPECT_EQ(ReadBytes(folder.File(L"fallback\\deeper\\backups.log")), "\xEF\xBB\xBFkept\r\n");
}

}  // namespace
