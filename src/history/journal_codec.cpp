#include "history/journal_codec.h"

#include <cstring>

namespace history {
namespace {

constexpr char kMagic[4] = {'P', 'J', '1', '\0'};

template <typename T>
void Put(std::string& out, T v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof(v));
}

template <typename T>
bool Take(std::string_view bytes, size_t& at, T& v) {
  if (bytes.size() - at < sizeof(T)) return false;
  std::memcpy(&v, bytes.data() + at, sizeof(T));
  at += sizeof(T);
  return true;
}

// Guards against a record whose bytes were only partly written.
uint32_t Check(uint16_t op, uint32_t position, uint32_t length) {
  return 0x9E3779B9u ^ (static_cast<uint32_t>(op) * 31u) ^ (position * 131u) ^ (length * 257u);
}

}  // namespace

// Eight bytes a step: the stored list can be a hundred megabytes, hashed at every start and close.
uint64_t HashStoredList(std::wstring_view stored) {
  const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
  const size_t n = stored.size() * sizeof(wchar_t);
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    h = (h ^ v) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, p + i, n - i);
  h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

std::string JournalHeader(uint64_t baseHash) {
  std::string out(kMagic, sizeof(kMagic));
  Put(out, baseHash);
  return out;
}

std::string JournalRecordHead(JournalOp op, uint32_t position, std::wstring_view text) {
  std::string out;
  Put(out, static_cast<uint16_t>(op));
  Put(out, position);
  Put(out, static_cast<uint32_t>(text.size()));
  return out;
}

std::string_view JournalRecordBody(std::wstring_view text) {
  return {reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)};
}

std::string JournalRecordTail(JournalOp op, uint32_t position, std::wstring_view text) {
  std::string out;
  Put(out, Check(static_cast<uint16_t>(op), position, static_cast<uint32_t>(text.size())));
  return out;
}

std::string JournalRecord(JournalOp op, uint32_t position, std::wstring_view text) {
  std::string out = JournalRecordHead(op, position, text);
  out += JournalRecordBody(text);
  out += JournalRecordTail(op, position, text);
  return out;
}

uint64_t CompactionThreshold(uint64_t storedListBytes) {
  constexpr uint64_t kLeast = 8u << 20;
  return storedListBytes > kLeast ? storedListBytes : kLeast;
}

ParsedJournal ParseJournal(std::string_view bytes) {
  ParsedJournal j;
  size_t at = 0;
  if (bytes.size() < sizeof(kMagic) || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) return j;
  at = sizeof(kMagic);
  if (!Take(bytes, at, j.baseHash)) return j;
  j.valid = true;
  j.wholeBytes = at;
  for (;;) {
    uint16_t op = 0;
    uint32_t position = 0, length = 0, check = 0;
    if (!Take(bytes, at, op) || !Take(bytes, at, position) || !Take(bytes, at, length)) break;
    if (op != 'A' && op != 'R' && op != 'C') break;
    if ((bytes.size() - at) / sizeof(wchar_t) < length) break;
    std::wstring text(length, L'\0');
    if (length) std::memcpy(text.data(), bytes.data() + at, length * sizeof(wchar_t));
    at += length * sizeof(wchar_t);
    if (!Take(bytes, at, check) || check != Check(op, position, length)) break;
    j.entries.push_back({static_cast<JournalOp>(op), position, std::move(text)});
    j.wholeBytes = at;
  }
  return j;
}

}  // namespace history
