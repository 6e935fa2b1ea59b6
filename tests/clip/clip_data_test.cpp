// Readers of raw clipboard blocks (whatever a block claims, nothing past its end is read) and the save
// log (exact bytes, encodings old and new, the fallback folder).

#include "clip/clip_data.h"
#include "clip/save_log.h"
#include "support/test_support.h"

namespace {

using namespace testsupport;

// A file list's header (offset of the names, and whether they are wide) and the names' bytes.
std::string DropBlock(char offset, bool wide, std::wstring_view names) {
  return std::string(1, offset) + std::string(15, '\0') + (wide ? '\1' : '\0') + std::string(3, '\0') +
         (wide ? Bytes(names) : std::string(names.begin(), names.end()));
}

TEST(ClipData, TextStopsAtNulOrAtTheEndOfTheBlock) {
  const wchar_t text[] = L"xyz\0def";
  EXPECT_EQ(clip::TextFromBlock(text, sizeof(text)).view(), L"xyz");
  EXPECT_EQ(clip::TextFromBlock(text, 6).view(), L"xyz");
  EXPECT_EQ(clip::TextFromBlock(text, 5).view(), L"xy") << "an odd byte at the end is not half a character";
  EXPECT_EQ(clip::TextFromBlock(text, 0).view(), L"");
  EXPECT_EQ(clip::TextFromBlock(nullptr, 100).view(), L"");
}

TEST(ClipData, FileListsAreReadWithinTheirBlock) {
  const struct {
    std::string block;
    std::optional<Texts> names;
  } cases[] = {
      {DropBlock(20, true, std::wstring(L"C:\\a.txt\0D:\\\u00E9\u65E5.doc\0\0", 20)),
       Texts{L"C:\\a.txt", L"D:\\\u00E9\u65E5.doc"}},
      {DropBlock(20, false, std::wstring(L"C:\\x\0C:\\y\0\0", 11)),
       Texts{L"C:\\x", L"C:\\y"}},  // 8-bit names
      {DropBlock(20, true, std::wstring(2, L'\0')), Texts{}},
      {DropBlock(20, true, std::wstring(L"C:\\ok\0C:\\cut", 12)), Texts{L"C:\\ok"}},  // runs into the end
      {DropBlock(120, true, L"C:\\a"), std::nullopt},                                 // offset past the end
      {DropBlock(8, true, L"C:\\a"), std::nullopt},  // offset inside the header
      {std::string(12, '\0'), std::nullopt},         // header cut short
      {DropBlock(20, true, L""), Texts{}}};
  for (const auto& c : cases) {
    // A copy of exactly the block's size, so that a read past it is a read past the allocation.
    const std::vector<char> exact(c.block.begin(), c.block.end());
    EXPECT_EQ(clip::FileNamesFromDropBlock(exact.data(), exact.size(), 1252), c.names) << &c - cases;
  }
}

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
  ASSERT_TRUE(WriteBytes(log, "old line\r\ncut sh"));  // as a crash leaves it
  ASSERT_TRUE(clip::WriteLogLine(L"caf\u00E9", where));
  EXPECT_EQ(ReadBytes(log), "old line\r\ncut sh\r\ncaf\xE9\r\n");
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
