#include "history/text_search.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "history/case_fold.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define PELLUCIDOR_SSE2 1
// The 32-bit build targets processors before SSE2 too: only these functions use it, when present.
#define SSE2_CODE __attribute__((target("sse2")))
#endif

namespace history {
namespace {

// A row costs about as much as reading this many characters, however short it is.
constexpr size_t kRowCost = 16;

constexpr bool IsHigh(char32_t u) {
  return u >= 0xD800 && u < 0xDC00;
}
constexpr bool IsLow(char32_t u) {
  return u >= 0xDC00 && u < 0xE000;
}
constexpr size_t Units(char32_t c) {
  return c > 0xFFFF ? 2 : 1;
}
constexpr uint16_t FirstUnit(char32_t c) {
  return static_cast<uint16_t>(c > 0xFFFF ? 0xD800 + ((c - 0x10000) >> 10) : c);
}
constexpr uint16_t LowUnit(char32_t c) {
  return static_cast<uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
}

// The code point at text[i], a surrogate pair read as one; i moves past it.
inline char32_t Next(const wchar_t* text, size_t n, size_t& i) {
  const char32_t c = static_cast<uint16_t>(text[i++]);
  if (!IsHigh(c) || i == n || !IsLow(static_cast<uint16_t>(text[i]))) return c;
  return 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[i++]) - 0xDC00);
}

std::u32string Fold(std::wstring_view text) {
  std::u32string folded;
  char32_t fold[3];
  for (size_t i = 0; i < text.size();) folded.append(fold, FoldCase(Next(text.data(), text.size(), i), fold));
  return folded;
}

struct Folding {
  char32_t from;
  char32_t to[3];
  size_t size;
};

// f(c, size) for every code point c whose fold is rest's first size code points: rest's first one
// itself (what a fold gives folds to itself), and those of foldings that fit.
template <class F>
void ForEachStartOf(std::u32string_view rest, const std::vector<Folding>& foldings, F&& f) {
  f(rest[0], size_t{1});
  for (const Folding& g : foldings) {
    if (g.size <= rest.size() && std::equal(g.to, g.to + g.size, rest.begin())) f(g.from, g.size);
  }
}

#ifdef PELLUCIDOR_SSE2

bool HasSse2() {
#ifdef __SSE2__
  return true;
#else
  static const bool has = __builtin_cpu_supports("sse2");
  return has;
#endif
}

// Two bits for each of the 8 starts from at whose first and second units may be a match's.
template <int W>
SSE2_CODE inline unsigned Candidates(const wchar_t* at, size_t secondAt, const __m128i* first,
                                     const __m128i* second) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + secondAt));
  __m128i ea = _mm_cmpeq_epi16(a, first[0]), eb = _mm_cmpeq_epi16(b, second[0]);
  for (int k = 1; k < W; ++k) {
    ea = _mm_or_si128(ea, _mm_cmpeq_epi16(a, first[k]));
    eb = _mm_or_si128(eb, _mm_cmpeq_epi16(b, second[k]));
  }
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(ea, eb)));
}

// starts: at least 8, each with secondAt + 8 units of text from it. Only the units of text are read:
// the last 8 starts are looked at once more rather than read past its end.
template <int W, class Verify>
SSE2_CODE bool ScanWide(const wchar_t* text, size_t starts, size_t secondAt, const uint16_t (*firstUnits)[8],
                        const uint16_t (*secondUnits)[8], const Verify& verify) {
  // Unaligned: a 32-bit program's new aligns the finder only to 8 bytes.
  __m128i first[W], second[W];
  for (int k = 0; k < W; ++k) {
    first[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstUnits[k]));
    second[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(secondUnits[k]));
  }
  const auto check = [&](size_t i, unsigned mask) {
    for (; mask; mask &= mask - 1, mask &= mask - 1) {
      if (verify(i + static_cast<size_t>(__builtin_ctz(mask)) / 2)) return true;
    }
    return false;
  };
  size_t i = 0;
  for (; i + 8 <= starts; i += 8) {
    const unsigned mask = Candidates<W>(text + i, secondAt, first, second);
    if (mask && check(i, mask)) return true;
  }
  if (i == starts) return false;
  const size_t j = starts - 8;
  const unsigned mask = Candidates<W>(text + j, secondAt, first, second) & (~0u << ((i - j) * 2));
  return mask && check(j, mask);
}

#endif

template <class Verify>
bool Scan(const wchar_t* text, size_t starts, int width, size_t secondAt, const uint16_t (*first)[8],
          const uint16_t (*second)[8], const Verify& verify) {
#ifdef PELLUCIDOR_SSE2
  if (starts >= 8 && width > 0 && HasSse2()) {
    switch (width) {
      case 1:
        return ScanWide<1>(text, starts, secondAt, first, second, verify);
      case 2:
        return ScanWide<2>(text, starts, secondAt, first, second, verify);
      case 4:
        return ScanWide<4>(text, starts, secondAt, first, second, verify);
      default:
        return ScanWide<8>(text, starts, secondAt, first, second, verify);
    }
  }
#endif
  for (size_t i = 0; i < starts; ++i) {
    if (verify(i)) return true;
  }
  return false;
}

}  // namespace

TextFinder::TextFinder(std::wstring_view needle, bool ignoreCase) {
  if (needle.empty()) return;
  std::vector<uint16_t> first, second;
  if (!ignoreCase) {
    needle_ = needle;
    shortest_ = longest_ = secondAt_ = needle.size();
    --secondAt_;
    first = {static_cast<uint16_t>(needle.front())};
    second = {static_cast<uint16_t>(needle.back())};
  } else {
    folded_ = Fold(needle);
    const std::u32string_view folded = folded_;
    const size_t m = folded.size();
    std::u32string present = folded_;
    std::sort(present.begin(), present.end());
    std::vector<Folding> foldings;  // those that can begin at one of the needle's code points
    ForEachFolding([&](char32_t c, const char32_t* fold, int size) {
      if (std::binary_search(present.begin(), present.end(), fold[0]))
        foldings.push_back({c, {fold[0], fold[1], fold[2]}, static_cast<size_t>(size)});
    });
    // The fewest units that fold to each tail of the needle. The most: no code point is longer in
    // UTF-16 than its fold.
    std::vector<size_t> fewest(m + 1, 0);
    for (size_t j = m; j-- > 0;) {
      fewest[j] = SIZE_MAX;
      ForEachStartOf(folded.substr(j), foldings, [&](char32_t c, size_t size) {
        fewest[j] = std::min(fewest[j], Units(c) + fewest[j + size]);
      });
      longest_ += Units(folded[j]);
    }
    shortest_ = fewest[0];
    // A match's first unit, and the unit after it when every match has one.
    bool secondFree = false;
    ForEachStartOf(folded, foldings, [&](char32_t c, size_t size) {
      first.push_back(FirstUnit(c));
      if (c > 0xFFFF) {
        second.push_back(LowUnit(c));
      } else if (size == m) {
        secondFree = true;
      } else {
        ForEachStartOf(folded.substr(size), foldings,
                       [&](char32_t d, size_t) { second.push_back(FirstUnit(d)); });
      }
    });
    for (auto* units : {&first, &second}) {
      std::sort(units->begin(), units->end());
      units->erase(std::unique(units->begin(), units->end()), units->end());
    }
    secondAt_ = 1;
    if (secondFree || second.size() > kWidth) {
      second = first;
      secondAt_ = 0;
    }
  }
  if (first.size() > kWidth) return;
  for (width_ = 1; static_cast<size_t>(width_) < std::max(first.size(), second.size());) width_ *= 2;
  for (int k = 0; k < kWidth; ++k) {
    for (int lane = 0; lane < 8; ++lane) {
      first_[k][lane] = first[std::min<size_t>(k, first.size() - 1)];
      second_[k][lane] = second[std::min<size_t>(k, second.size() - 1)];
    }
  }
}

bool TextFinder::FoldedAt(const wchar_t* text, size_t n, size_t i) const {
  const size_t m = folded_.size();
  char32_t fold[3];
  for (size_t j = 0; j < m;) {
    if (i == n) return false;
    const size_t size = static_cast<size_t>(FoldCase(Next(text, n, i), fold));
    if (size > m - j || !std::equal(fold, fold + size, folded_.data() + j)) return false;
    j += size;
  }
  return true;
}

bool TextFinder::In(std::wstring_view text) const {
  const size_t n = text.size();
  if (longest_ == 0 || n < shortest_) return false;
  const wchar_t* t = text.data();
  const size_t starts = n - shortest_ + 1;
  if (folded_.empty()) {
    return Scan(t, starts, width_, secondAt_, first_, second_, [&](size_t i) {
      return std::memcmp(t + i, needle_.data(), needle_.size() * sizeof(wchar_t)) == 0;
    });
  }
  return Scan(t, starts, width_, secondAt_, first_, second_, [&](size_t i) { return FoldedAt(t, n, i); });
}

RowSearch::RowSearch(const RowStore& rows, TextFinder finder, size_t first, bool down)
    : rows_(rows),
      finder_(std::move(finder)),
      changes_(rows.Changes()),
      rowsNow_(rows.Count()),
      count_(rows.Count()),
      at_(count_ ? std::min(first, count_ - 1) : 0),
      left_(count_),
      down_(down) {}

RowSearch::State RowSearch::Step(size_t budget) {
  if (state_ != State::Running) return state_;
  if (rows_.Changes() != changes_) {
    // As many rows more as changes: only rows added, at the end.
    const size_t now = rows_.Count();
    if (now < rowsNow_ || now - rowsNow_ != rows_.Changes() - changes_) return state_ = State::Cancelled;
    changes_ = rows_.Changes();
    rowsNow_ = now;
  }
  if (finder_.Longest() == 0) return state_ = State::NotFound;
  const size_t overlap = finder_.Longest() - 1;  // a match may begin in one part and end in the next
  budget = std::max<size_t>(budget, 1);
  for (size_t read = 0; left_ > 0;) {
    const std::wstring_view rest = rows_.Text(at_).substr(offset_);
    const size_t room = budget - read;
    if (rest.size() > overlap && rest.size() - overlap > room) {
      if (finder_.In(rest.substr(0, room + overlap))) return state_ = State::Found;
      offset_ += room;
      return state_;
    }
    if (finder_.In(rest)) return state_ = State::Found;
    offset_ = 0;
    if (--left_ == 0) break;
    at_ = down_ ? (at_ + 1 == count_ ? 0 : at_ + 1) : (at_ == 0 ? count_ - 1 : at_ - 1);
    read += rest.size() + kRowCost;
    if (read >= budget) return state_;
  }
  return state_ = State::NotFound;
}

}  // namespace history
