#include "history/journal_codec.h"

#include <cstring>

namespace history {
namespace {

constexpr char kMagic[4] = {'P', 'J', '3', '\0'};
constexpr size_t kHeadBytes = 10;

template <typename T>
T Take(const char*& p) {
  T v;
  std::memcpy(&v, p, sizeof(v));
  p += sizeof(v);
  return v;
}

template <typename T>
std::wstring TextOf(const T& value) {
  std::wstring text(sizeof(value) / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), &value, sizeof(value));
  return text;
}

bool IsOp(uint16_t op) {
  return op == 'A' || op == 'R' || op == 'C' || op == 'S' || op == 'M';
}

}  // namespace

std::string EncodeJournalHeader(const JournalHeader& h) {
  std::string out(kMagic, sizeof(kMagic));
  PutValue(out, h.flags);
  PutValue(out, h.generation);
  PutValue(out, h.follows);
  PutValue(out, h.followsRecords);
  PutValue(out, h.baseFiles);
  PutValue(out, h.seed);
  PutValue(out, h.origin);
  PutValue(out, Crc32(out));
  return out;
}

std::optional<JournalHeader> DecodeJournalHeader(std::string_view bytes) {
  if (bytes.size() < kJournalHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0)
    return std::nullopt;
  const char* p = bytes.data() + sizeof(kMagic);
  JournalHeader h;
  h.flags = Take<uint32_t>(p);
  h.generation = Take<uint64_t>(p);
  h.follows = Take<uint64_t>(p);
  h.followsRecords = Take<uint64_t>(p);
  h.baseFiles = Take<uint64_t>(p);
  h.seed = Take<uint32_t>(p);
  h.origin = Take<uint64_t>(p);
  if (Take<uint32_t>(p) != Crc32(bytes.substr(0, kJournalHeaderBytes - 4))) return std::nullopt;
  return h;
}

std::wstring StoredMarkText(const StoredMark& mark) {
  return TextOf(mark);
}

std::wstring MergedText(uint64_t generation) {
  return TextOf(generation);
}

std::string JournalRecordHead(JournalOp op, uint32_t position, std::wstring_view text) {
  std::string out;
  PutValue(out, static_cast<uint16_t>(op));
  PutValue(out, position);
  PutValue(out, static_cast<uint32_t>(text.size()));
  return out;
}

std::string JournalRecordTail(uint32_t seed, std::string_view head, std::wstring_view text) {
  std::string out;
  PutValue(out, Crc32(JournalRecordBody(text), Crc32(head, seed)));
  return out;
}

std::string JournalRecordBytes(uint32_t seed, JournalOp op, uint32_t position, std::wstring_view text) {
  const std::string head = JournalRecordHead(op, position, text);
  std::string out = head;
  out += JournalRecordBody(text);
  out += JournalRecordTail(seed, head, text);
  return out;
}

std::optional<JournalHeader> JournalReader::Header() {
  std::string bytes(kJournalHeaderBytes, '\0');
  if (!bytes_.Read(bytes.data(), bytes.size())) return std::nullopt;
  std::optional<JournalHeader> h = DecodeJournalHeader(bytes);
  if (!h) return std::nullopt;
  seed_ = h->seed;
  whole_ = kJournalHeaderBytes;
  return h;
}

bool JournalReader::Next(JournalRecord& r, bool withText) {
  if (ended_ || whole_ == 0) return false;
  ended_ = true;  // until a whole record is read
  char head[kHeadBytes];
  if (!bytes_.Read(head, sizeof(head))) return false;
  const char* p = head;
  const auto op = Take<uint16_t>(p);
  const auto position = Take<uint32_t>(p);
  const auto length = Take<uint32_t>(p);
  // Never more than the file holds: a damaged length asks for nothing.
  if (!IsOp(op) || bytes_.Left() < sizeof(uint32_t) ||
      (bytes_.Left() - sizeof(uint32_t)) / sizeof(wchar_t) < length)
    return false;
  uint32_t crc = Crc32(std::string_view(head, sizeof(head)), seed_);
  const size_t body = size_t{length} * sizeof(wchar_t);
  win::TextBlock text;
  std::wstring small;
  if (op == 'A' && withText) {
    text = win::TextBlock::WithLength(length);
    if (!bytes_.Read(text.data(), body)) return false;
    crc = Crc32(std::string_view(reinterpret_cast<const char*>(text.data()), body), crc);
  } else if (op == 'S' || op == 'M') {
    small.resize(length);
    if (!bytes_.Read(small.data(), body)) return false;
    crc = Crc32(JournalRecordBody(small), crc);
  } else if (!bytes_.Skim(body, crc)) {
    return false;
  }
  uint32_t check = 0;
  if (!bytes_.Read(&check, sizeof(check)) || check != crc) return false;
  r.op = static_cast<JournalOp>(op);
  r.position = position;
  r.text = std::move(text);
  if (op == 'S' && small.size() * sizeof(wchar_t) == sizeof(StoredMark))
    std::memcpy(static_cast<void*>(&r.stored), small.data(), sizeof(StoredMark));
  if (op == 'M' && small.size() * sizeof(wchar_t) == sizeof(uint64_t))
    std::memcpy(&r.merged, small.data(), sizeof(uint64_t));
  whole_ = bytes_.Offset();
  ended_ = false;
  return true;
}

uint64_t CompactionThreshold(uint64_t storedListBytes) {
  constexpr uint64_t kLeast = 8u << 20;
  return storedListBytes > kLeast ? storedListBytes : kLeast;
}

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

}  // namespace history
