// The stored list: the old plain format still reads as it always did, and every list comes back whole.
#include <gtest/gtest.h>

#include <random>

#include "history/files_codec.h"

namespace {

using app::DecodeFiles;
using app::EncodeFiles;
using Rows = std::vector<std::wstring>;

std::wstring Encode(const Rows& rows) {
  std::vector<std::wstring_view> views(rows.begin(), rows.end());
  return EncodeFiles(views);
}

TEST(FilesCodec, PlainValuesReadAsBefore) {
  const struct {
    std::wstring stored;
    Rows rows;
  } cases[] = {
      {L"", {}},
      {L"abc;d e;", {L"abc", L"d e"}},
      {L"abc;;  ;d;e;", {L"abc", L"d", L"e"}},  // empty and all-space pieces are skipped
      {L" x ;", {L" x "}},                      // spaces around text are kept
      {L"\r\n;\t;", {L"\r\n", L"\t"}},          // line breaks and tabs are not blank
      {L"a;b", {L"a", L"b"}},                   // a last piece without its ";"
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeFiles(c.stored), c.rows) << "stored: " << testing::PrintToString(c.stored);
}

TEST(FilesCodec, RandomListsComeBackIdentical) {
  // Characters chosen to hit every escape and every blank rule.
  const wchar_t alphabet[] = {L'a',  L' ',  L';',      L'\x1F',   L'.', L'\r',
                              L'\n', L'\t', L'\u00E9', L'\u65E5', L'\0'};
  std::mt19937 gen(20261206);
  std::uniform_int_distribution<int> rowCount(0, 12), length(0, 8), pick(0, std::size(alphabet) - 1);
  for (int round = 0; round < 20000; ++round) {
    Rows rows(static_cast<size_t>(rowCount(gen)));
    for (auto& r : rows) {
      const int n = length(gen);
      for (int i = 0; i < n; ++i) r += alphabet[pick(gen)];
    }
    ASSERT_EQ(DecodeFiles(Encode(rows)), rows) << "round " << round;
  }
}

}  // namespace
