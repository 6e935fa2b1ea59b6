#include "history/snapshot_codec.h"

#include <cstring>
#include <string>

namespace history {
namespace {

constexpr char kMagic[4] = {'P', 'S', '1', '\0'};
constexpr uint32_t kMostMerged = 1u << 16;

}  // namespace

bool WriteSnapshot(OutFile& out, const SnapshotHeader& header, const std::vector<std::wstring_view>& texts) {
  ByteWriter w(out);
  std::string head(kMagic, sizeof(kMagic));
  PutValue(head, header.generation);
  PutValue(head, static_cast<uint64_t>(texts.size()));
  PutValue(head, header.origin);
  PutValue(head, header.imported);
  PutValue(head, static_cast<uint32_t>(header.merged.size()));
  for (uint64_t g : header.merged) PutValue(head, g);
  bool ok = w.Write(head);
  for (std::wstring_view t : texts) {
    std::string length;
    PutValue(length, static_cast<uint32_t>(t.size()));
    ok = ok && w.Write(length) &&
         w.Write({reinterpret_cast<const char*>(t.data()), t.size() * sizeof(wchar_t)});
  }
  std::string tail;
  PutValue(tail, w.crc);
  return ok && w.Write(tail) && w.Finish();
}

std::optional<SnapshotHeader> SnapshotReader::Header() {
  char magic[4];
  SnapshotHeader h;
  uint32_t merged = 0;
  if (!bytes_.Read(magic, sizeof(magic)) || std::memcmp(magic, kMagic, sizeof(magic)) != 0 ||
      !bytes_.Read(&h.generation, sizeof(h.generation)) || !bytes_.Read(&h.rows, sizeof(h.rows)) ||
      !bytes_.Read(&h.origin, sizeof(h.origin)) || !bytes_.Read(&h.imported, sizeof(h.imported)) ||
      !bytes_.Read(&merged, sizeof(merged)) || merged > kMostMerged)
    return std::nullopt;
  h.merged.resize(merged);
  if (merged && !bytes_.Read(h.merged.data(), merged * sizeof(uint64_t))) return std::nullopt;
  std::string head(kMagic, sizeof(kMagic));
  PutValue(head, h.generation);
  PutValue(head, h.rows);
  PutValue(head, h.origin);
  PutValue(head, h.imported);
  PutValue(head, merged);
  for (uint64_t g : h.merged) PutValue(head, g);
  crc_ = Crc32(head);
  left_ = h.rows;
  return h;
}

bool SnapshotReader::Next(win::TextBlock& text) {
  uint32_t length = 0;
  if (left_ == 0 || !bytes_.Read(&length, sizeof(length))) return false;
  // Never more than the file holds.
  if (bytes_.Left() / sizeof(wchar_t) < length) return false;
  text = win::TextBlock::WithLength(length);
  const size_t body = size_t{length} * sizeof(wchar_t);
  if (!bytes_.Read(text.data(), body)) return false;
  crc_ = Crc32(std::string_view(reinterpret_cast<const char*>(&length), sizeof(length)), crc_);
  crc_ = Crc32(std::string_view(reinterpret_cast<const char*>(text.data()), body), crc_);
  --left_;
  return true;
}

bool SnapshotReader::Whole() {
  uint32_t check = 0;
  return left_ == 0 && bytes_.Read(&check, sizeof(check)) && check == crc_ && bytes_.Left() == 0;
}

}  // namespace history
