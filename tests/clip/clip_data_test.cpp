// Readers of raw clipboard blocks: whatever a block claims, nothing past its end is read.
#include <gtest/gtest.h>

#include <cstring>

#include "clip/clip_data.h"

namespace {

using clip::FileNamesFromDropBlock;
using clip::TextFromBlock;
using Names = std::vector<std::wstring>;

std::string DropBlock(uint32_t offset, bool wide, std::string names) {
  std::string block(20, '\0');
  std::memcpy(block.data(), &offset, 4);
  const uint32_t w = wide ? 1 : 0;
  std::memcpy(block.data() + 16, &w, 4);
  return block + names;
}

std::string Wide(std::wstring_view s) {
  return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2);
}

TEST(ClipData, TextStopsAtNulOrAtTheEndOfTheBlock) {
  const wchar_t withNul[] = L"abc\0def";
  EXPECT_EQ(TextFromBlock(withNul, sizeof(withNul)).view(), L"abc");
  const wchar_t noNul[] = {L'x', L'y', L'z'};
  EXPECT_EQ(TextFromBlock(noNul, sizeof(noNul)).view(), L"xyz");
  EXPECT_EQ(TextFromBlock(noNul, 5).view(), L"xy") << "an odd byte at the end is not half a character";
  EXPECT_EQ(TextFromBlock(noNul, 0).view(), L"");
  EXPECT_EQ(TextFromBlock(nullptr, 100).view(), L"");
}

TEST(ClipData, FileListsAreReadWithinTheirBlock) {
  const struct {
    const char* what;
    std::string block;
    std::optional<Names> names;
  } cases[] = {
      {"two wide names", DropBlock(20, true, Wide(std::wstring(L"C:\\a.txt\0D:\\\u00E9\u65E5.doc\0\0", 24))),
       Names{L"C:\\a.txt", L"D:\\\u00E9\u65E5.doc"}},
      {"8-bit names", DropBlock(20, false, std::string("C:\\x\0C:\\y\0\0", 11)), Names{L"C:\\x", L"C:\\y"}},
      {"empty list", DropBlock(20, true, std::string(4, '\0')), Names{}},
      {"last name runs into the end", DropBlock(20, true, Wide(std::wstring(L"C:\\ok\0C:\\cut", 12))),
       Names{L"C:\\ok"}},
      {"offset past the end", DropBlock(4000, true, Wide(L"C:\\a")), std::nullopt},
      {"offset inside the header", DropBlock(8, true, Wide(L"C:\\a")), std::nullopt},
      {"header cut short", std::string(12, '\0'), std::nullopt},
      {"offset exactly at the end", DropBlock(20, true, ""), Names{}}};
  for (const auto& c : cases) {
    // A copy of exactly the block's size, so that a read past it is a read past the allocation.
    std::vector<char> exact(c.block.begin(), c.block.end());
    EXPECT_EQ(FileNamesFromDropBlock(exact.data(), exact.size(), 1252), c.names) << c.what;
  }
}

}  // namespace
