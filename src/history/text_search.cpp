#include "history/text_search.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

// The units between the first and the last, which the caller has matched already.
inline bool MiddleMatches(const wchar_t* at, const std::wstring& needle, const CaseFold* fold) {
  const size_t m = needle.size();
  if (m <= 2) return true;
  if (!fold) return std::memcmp(at + 1, needle.data() + 1, (m - 2) * sizeof(wchar_t)) == 0;
  for (size_t j = 1; j + 1 < m; ++j) {
    if ((*fold)(at[j]) != needle[j]) return false;
  }
  return true;
}

bool ScanOneByOne(const wchar_t* text, size_t starts, const std::wstring& needle, const CaseFold* fold) {
  const size_t m = needle.size();
  const wchar_t first = needle.front(), last = needle.back();
  for (size_t i = 0; i < starts; ++i) {
    const bool ends = fold ? (*fold)(text[i]) == first && (*fold)(text[i + m - 1]) == last
                           : text[i] == first && text[i + m - 1] == last;
    if (ends && MiddleMatches(text + i, needle, fold)) return true;
  }
  return false;
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

// Two bits for each of the 8 starts from at whose first and last units may begin and end the needle.
template <int W>
SSE2_CODE inline unsigned Candidates(const wchar_t* at, size_t m, const __m128i* first, const __m128i* last) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + m - 1));
  __m128i ea = _mm_cmpeq_epi16(a, first[0]), eb = _mm_cmpeq_epi16(b, last[0]);
  for (int k = 1; k < W; ++k) {
    ea = _mm_or_si128(ea, _mm_cmpeq_epi16(a, first[k]));
    eb = _mm_or_si128(eb, _mm_cmpeq_epi16(b, last[k]));
  }
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(ea, eb)));
}

// starts: at least 8. Only the units of text are read: the last 8 starts are looked at once more
// rather than read past its end.
template <int W>
SSE2_CODE bool ScanWide(const wchar_t* text, size_t starts, const std::wstring& needle, const CaseFold* fold,
                        const uint16_t (*firstUnits)[8], const uint16_t (*lastUnits)[8]) {
  __m128i first[W], last[W];
  for (int k = 0; k < W; ++k) {
    first[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(firstUnits[k]));
    last[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(lastUnits[k]));
  }
  const size_t m = needle.size();
  const auto verify = [&](size_t i, unsigned mask) {
    for (; mask; mask &= mask - 1, mask &= mask - 1) {
      if (MiddleMatches(text + i + static_cast<size_t>(__builtin_ctz(mask)) / 2, needle, fold)) return true;
    }
    return false;
  };
  size_t i = 0;
  for (; i + 8 <= starts; i += 8) {
    const unsigned mask = Candidates<W>(text + i, m, first, last);
    if (mask && verify(i, mask)) return true;
  }
  if (i == starts) return false;
  const size_t j = starts - 8;
  const unsigned mask = Candidates<W>(text + j, m, first, last) & (~0u << ((i - j) * 2));
  return mask && verify(j, mask);
}

#endif

}  // namespace

CaseFold::CaseFold(std::vector<wchar_t> table) : table_(std::move(table)) {
  const size_t given = std::min(table_.size(), kUnits);
  table_.resize(kUnits);
  for (size_t u = given; u < kUnits; ++u) table_[u] = static_cast<wchar_t>(u);
  byFold_.resize(kUnits);
  for (size_t u = 0; u < kUnits; ++u)
    byFold_[u] = static_cast<uint32_t>(static_cast<uint16_t>(table_[u])) << 16 | static_cast<uint32_t>(u);
  std::sort(byFold_.begin(), byFold_.end());
}

std::vector<wchar_t> CaseFold::Alike(wchar_t unit) const {
  const uint32_t key = static_cast<uint32_t>(static_cast<uint16_t>((*this)(unit))) << 16;
  std::vector<wchar_t> alike;
  for (auto it = std::lower_bound(byFold_.begin(), byFold_.end(), key);
       it != byFold_.end() && (*it >> 16) == key >> 16; ++it)
    alike.push_back(static_cast<wchar_t>(*it & 0xFFFF));
  return alike;
}

TextFinder::TextFinder(std::wstring_view needle, const CaseFold* fold) : needle_(needle), fold_(fold) {
  if (needle_.empty()) return;
  std::vector<wchar_t> first{needle_.front()}, last{needle_.back()};
  if (fold_) {
    first = fold_->Alike(needle_.front());
    last = fold_->Alike(needle_.back());
    for (wchar_t& c : needle_) c = (*fold_)(c);
  }
  if (first.size() > kWidth || last.size() > kWidth) return;
  width_ = static_cast<int>(std::max(first.size(), last.size()));
  for (int k = 0; k < kWidth; ++k) {
    for (int lane = 0; lane < 8; ++lane) {
      first_[k][lane] = static_cast<uint16_t>(first[std::min<size_t>(k, first.size() - 1)]);
      last_[k][lane] = static_cast<uint16_t>(last[std::min<size_t>(k, last.size() - 1)]);
    }
  }
}

bool TextFinder::In(std::wstring_view text) const {
  const size_t m = needle_.size(), n = text.size();
  if (m == 0 || n < m) return false;
  const size_t starts = n - m + 1;
#ifdef PELLUCIDOR_SSE2
  if (starts >= 8 && width_ > 0 && HasSse2()) {
    switch (width_) {
      case 1:
        return ScanWide<1>(text.data(), starts, needle_, fold_, first_, last_);
      case 2:
        return ScanWide<2>(text.data(), starts, needle_, fold_, first_, last_);
      case 3:
        return ScanWide<3>(text.data(), starts, needle_, fold_, first_, last_);
      default:
        return ScanWide<4>(text.data(), starts, needle_, fold_, first_, last_);
    }
  }
#endif
  return ScanOneByOne(text.data(), starts, needle_, fold_);
}

RowSearch::RowSearch(const RowStore& rows, TextFinder finder, size_t first, bool down)
    : rows_(rows),
      finder_(std::move(finder)),
      changes_(rows.Changes()),
      count_(rows.Count()),
      at_(count_ ? std::min(first, count_ - 1) : 0),
      left_(count_),
      down_(down) {}

RowSearch::State RowSearch::Step(size_t budget) {
  if (state_ != State::Running) return state_;
  if (rows_.Changes() != changes_) return state_ = State::Cancelled;
  if (finder_.size() == 0) return state_ = State::NotFound;
  const size_t overlap = finder_.size() - 1;  // a match may begin in one part and end in the next
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
