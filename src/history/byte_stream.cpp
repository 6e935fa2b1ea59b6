#include "history/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace history {
namespace {

constexpr size_t kBuffer = size_t{1} << 16;

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

bool ByteReader::Fill() {
  buffer_.erase(0, at_);
  at_ = 0;
  const size_t have = buffer_.size();
  const uint64_t from = offset_ + have;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kBuffer, size_ - from));
  if (want == 0) return true;
  buffer_.resize(have + want);
  size_t got = 0;
  if (!in_.ReadAt(from, buffer_.data() + have, want, got) || got == 0) {
    buffer_.resize(have);
    failed_ = true;
    return false;
  }
  buffer_.resize(have + got);
  return true;
}

bool ByteReader::Read(void* into, size_t n) {
  if (failed_ || n > Left()) return false;
  auto* out = static_cast<char*>(into);
  while (n > 0) {
    if (at_ == buffer_.size()) {
      // A large piece goes straight where it belongs.
      if (n >= kBuffer) {
        size_t got = 0;
        if (!in_.ReadAt(offset_, out, n, got) || got == 0) return !(failed_ = true);
        out += got;
        n -= got;
        offset_ += got;
        continue;
      }
      if (!Fill()) return false;
    }
    const size_t take = std::min(n, buffer_.size() - at_);
    std::memcpy(out, buffer_.data() + at_, take);
    out += take;
    n -= take;
    at_ += take;
    offset_ += take;
  }
  return true;
}

bool ByteReader::Skim(size_t n, uint32_t& crc) {
  if (failed_ || n > Left()) return false;
  while (n > 0) {
    if (at_ == buffer_.size() && !Fill()) return false;
    const size_t take = std::min(n, buffer_.size() - at_);
    crc = Crc32(std::string_view(buffer_.data() + at_, take), crc);
    n -= take;
    at_ += take;
    offset_ += take;
  }
  return true;
}

bool ByteWriter::Write(std::string_view bytes) {
  if (failed_) return false;
  crc = Crc32(bytes, crc);
  if (buffer_.size() + bytes.size() > kBuffer && !Finish()) return false;
  if (bytes.size() >= kBuffer) {
    failed_ = !out_.WriteAt(offset_, bytes.data(), bytes.size());
    offset_ += bytes.size();
    return !failed_;
  }
  buffer_.append(bytes);
  return true;
}

bool ByteWriter::Finish() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    failed_ = !out_.WriteAt(offset_, buffer_.data(), buffer_.size());
    offset_ += buffer_.size();
    buffer_.clear();
  }
  return !failed_;
}

}  // namespace history
