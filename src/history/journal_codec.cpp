#include "history/journal_codec.h"

#include <cstring>

namespace history {
namespace {

constexpr char kMagic[4] = {'P', 'J', '2', '\0'};
constexpr char kUncheckedMagic[4] = {'P', 'J', '1', '\0'};  // records checked by their head alone

// Eight table lookups per eight bytes: a record can hold a text of tens of megabytes.
struct CrcTables {
  uint32_t t[8][256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};

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

// The older journals' check, of the head alone.
uint32_t HeadCheck(uint16_t op, uint32_t position, uint32_t length) {
  return 0x9E3779B9u ^ (static_cast<uint32_t>(op) * 31u) ^ (position * 131u) ^ (length * 257u);
}

}  // namespace

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
  static const CrcTables tables;
  const auto& t = tables.t;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  crc = ~crc;
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t a = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
    crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; n > 0; --n, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// Eight bytes a step: a stored list can be a hundred megabytes.
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

std::string JournalHeader(uint64_t base) {
  std::string out(kMagic, sizeof(kMagic));
  Put(out, base);
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

std::string JournalRecordTail(std::string_view head, std::wstring_view text) {
  std::string out;
  Put(out, Crc32(JournalRecordBody(text), Crc32(head)));
  return out;
}

std::string JournalRecord(JournalOp op, uint32_t position, std::wstring_view text) {
  std::string out = JournalRecordHead(op, position, text);
  out += JournalRecordBody(text);
  out += JournalRecordTail(out.substr(0, out.size() - text.size() * sizeof(wchar_t)), text);
  return out;
}

std::wstring StoredMarkText(uint64_t id) {
  std::wstring text(sizeof(id) / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), &id, sizeof(id));
  return text;
}

uint64_t StoredMarkId(const JournalEntry& mark) {
  uint64_t id = 0;
  if (mark.text.size() * sizeof(wchar_t) == sizeof(id)) std::memcpy(&id, mark.text.data(), sizeof(id));
  return id;
}

uint64_t CompactionThreshold(uint64_t storedListBytes) {
  constexpr uint64_t kLeast = 8u << 20;
  return storedListBytes > kLeast ? storedListBytes : kLeast;
}

ParsedJournal ParseJournal(std::string_view bytes) {
  ParsedJournal j;
  if (bytes.size() < sizeof(kMagic)) return j;
  j.checked = std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) == 0;
  if (!j.checked && std::memcmp(bytes.data(), kUncheckedMagic, sizeof(kMagic)) != 0) return j;
  size_t at = sizeof(kMagic);
  if (!Take(bytes, at, j.base)) return j;
  j.valid = true;
  j.wholeBytes = j.markedBytes = at;
  for (;;) {
    const size_t start = at;
    uint16_t op = 0;
    uint32_t position = 0, length = 0, check = 0;
    if (!Take(bytes, at, op) || !Take(bytes, at, position) || !Take(bytes, at, length)) break;
    if (op != 'A' && op != 'R' && op != 'C' && (op != 'S' || !j.checked)) break;
    if ((bytes.size() - at) / sizeof(wchar_t) < length) break;
    const size_t body = at;
    at += length * sizeof(wchar_t);
    if (!Take(bytes, at, check)) break;
    const uint32_t expected = j.checked ? Crc32(bytes.substr(start, body - start + length * sizeof(wchar_t)))
                                        : HeadCheck(op, position, length);
    if (check != expected) break;
    std::wstring text(length, L'\0');
    if (length) std::memcpy(text.data(), bytes.data() + body, length * sizeof(wchar_t));
    j.entries.push_back({static_cast<JournalOp>(op), position, std::move(text)});
    j.wholeBytes = at;
    if (op == 'S') j.markedBytes = at;
  }
  return j;
}

}  // namespace history
