// A journal: the changes one run (or one part of a run, between two folds) made to the history
// list. Its header tells the generation it belongs to and the state it starts from; then one
// record per change, each with a CRC-32 seeded by the header's own seed, so that bytes left over
// from another file never read as a record. A record cut short or damaged ends the journal; every
// whole record before it counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "history/byte_stream.h"
#include "win/text_block.h"

namespace history {

enum class JournalOp : uint16_t {
  Add = 'A',
  Remove = 'R',
  Clear = 'C',
  Stored = 'S',  // the list was stored in the settings store here: see StoredMark
  Merged = 'M',  // the entries of another journal were added here: that journal is done with
};

struct JournalHeader {
  enum Flags : uint32_t {
    kAddsOnly = 1,      // a run that could not read the history
    kFromSnapshot = 2,  // begins at its own generation's snapshot, written before it
  };
  uint32_t flags = 0;
  uint64_t generation = 0;
  // The state it starts from: the end of generation follows (its first followsRecords records),
  // the stored list whose hash is baseFiles, its own snapshot (kFromSnapshot), or an empty list.
  uint64_t follows = 0;
  uint64_t followsRecords = 0;
  uint64_t baseFiles = 0;
  uint32_t seed = 0;
  // The history's own: drawn at its first start and kept by every file of it since, so that a
  // list another machine stored (the settings store may roam, this folder does not) is told apart.
  uint64_t origin = 0;
  bool AddsOnly() const { return (flags & kAddsOnly) != 0; }
};
inline constexpr size_t kJournalHeaderBytes = 56;

std::string EncodeJournalHeader(const JournalHeader& h);
std::optional<JournalHeader> DecodeJournalHeader(std::string_view bytes);

// What a Stored record holds: the hash of the list's entries as stored, the value's size, and the
// settings store's stamp once it was stored.
struct StoredMark {
  uint64_t hash = 0;
  uint64_t bytes = 0;
  uint64_t stamp = 0;
};
std::wstring StoredMarkText(const StoredMark& mark);
std::wstring MergedText(uint64_t generation);

// A record in three pieces, so that a long text is written from where it lies.
std::string JournalRecordHead(JournalOp op, uint32_t position, std::wstring_view text);
inline std::string_view JournalRecordBody(std::wstring_view text) {
  return {reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)};
}
std::string JournalRecordTail(uint32_t seed, std::string_view head, std::wstring_view text);
std::string JournalRecordBytes(uint32_t seed, JournalOp op, uint32_t position, std::wstring_view text);

struct JournalRecord {
  JournalOp op = JournalOp::Add;
  uint32_t position = 0;
  win::TextBlock text;  // an Add's, when asked for
  StoredMark stored;    // a Stored record's
  uint64_t merged = 0;  // a Merged record's
};

// Reads a journal front to back.
class JournalReader {
 public:
  explicit JournalReader(InFile& in) : bytes_(in) {}
  std::optional<JournalHeader> Header();
  // The next whole record, with an Add's text when withText; false at the end of the whole
  // records (Torn() then tells whether bytes follow them, Failed() whether a read failed).
  bool Next(JournalRecord& r, bool withText);
  uint64_t WholeBytes() const { return whole_; }
  bool Torn() const { return !Failed() && bytes_.Offset() + bytes_.Left() > whole_; }
  bool Failed() const { return bytes_.Failed(); }

 private:
  ByteReader bytes_;
  uint32_t seed_ = 0;
  uint64_t whole_ = 0;
  bool ended_ = false;
};

// The journal's size past which the list is stored whole again: the larger of 8 MB and the list,
// so that storing it costs O(1) per journaled byte.
uint64_t CompactionThreshold(uint64_t storedListBytes);

// A hash of a stored list's text, eight bytes a step: a stored list can be a hundred megabytes.
uint64_t HashStoredList(std::wstring_view stored);

}  // namespace history
