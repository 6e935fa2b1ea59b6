// Readers of raw clipboard blocks: whatever a block claims, nothing past its end is read.
#include <gtest/gtest.h>

#include "clip/clip_data.h"

namespace {

using Names = std::vector<std::wstring>;

// A file list's header (offset of the names, and whether they are wide) and the names' bytes.
std::string DropBlock(char offset, bool wide, std::wstring_view names) {
  std::string block =
      std::string(1, offset) + std::string(15, '\0') + (wide ? '\1' : '\0') + std::string(3, '\0');
  return block + (wide ? std::string(reinterpret_cast<const char*>(names.data()), names.size() * 2)
                       : std::string(names.begin(), names.end()));
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
    std::optional<Names> names;
  } cases[] = {
      {DropBlock(20, true, std::wstring(L"C:\\a.txt\0D:\\\u00E9\u65E5.doc\0\0", 24)),
       Names{L"C:\\a.txt", L"D:\\\u00E9\u65E5.doc"}},
      {DropBlock(20, false, std::wstring(L"C:\\x\0C:\\y\0\0", 11)),
       Names{L"C:\\x", L"C:\\y"}},  // 8-bit names
      {DropBlock(20, true, std::wstring(2, L'\0')), Names{}},
      {DropBlock(20, true, std::wstring(L"C:\\ok\0C:\\cut", 12)), Names{L"C:\\ok"}},  // runs into the end
      {DropBlock(120, true, L"C:\\a"), std::nullopt},                                 // offset past the end
      {DropBlock(8, true, L"C:\\a"), std::nullopt},  // offset inside the header
      {std::string(12, '\0'), std::nullopt},         // header cut short
      {DropBlock(20, true, L""), Names{}}};
  for (const auto& c : cases) {
    // A copy of exactly the block's size, so that a read past it is a read past the allocation.
    const std::vector<char> exact(c.block.begin(), c.block.end());
    EXPECT_EQ(clip::FileNamesFromDropBlock(exact.data(), exact.size(), 1252), c.names) << &c - cases;
  }
}

}  // namespace
