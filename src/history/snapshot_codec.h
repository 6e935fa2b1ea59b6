// A snapshot: the whole history list as it stood when a generation began, in a file of our own,
// so that when it is on the disk is ours to know (a value in the settings store may reach the
// disk half a minute after the call that stored it). Written under a temporary name and renamed
// once whole: a snapshot is complete or absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "history/byte_stream.h"
#include "win/text_block.h"

namespace history {

struct SnapshotHeader {
  uint64_t generation = 0;
  uint64_t rows = 0;
  uint64_t origin = 0;    // as the journals'
  uint64_t imported = 0;  // the hash of a list not ours this history began from: never taken again
  // Journals of runs that could not read the history, added to the list already, whose files may
  // still be there: never added again.
  std::vector<uint64_t> merged;
};

bool WriteSnapshot(OutFile& out, const SnapshotHeader& header, const std::vector<std::wstring_view>& texts);

class SnapshotReader {
 public:
  explicit SnapshotReader(InFile& in) : bytes_(in) {}
  std::optional<SnapshotHeader> Header();
  // The next row's text; false after the last (or on a read that failed, or a damaged file).
  bool Next(win::TextBlock& text);
  // After the last row: true when the file is whole, its CRC right and nothing follows.
  bool Whole();
  bool Failed() const { return bytes_.Failed(); }

 private:
  ByteReader bytes_;
  uint32_t crc_ = 0;
  uint64_t left_ = 0;
};

}  // namespace history
