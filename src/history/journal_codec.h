// The journal of list changes: a header naming the stored list it starts from, then one record per
// change, each with a CRC-32 of all its bytes, and a mark wherever the list was stored whole, with
// the identity it was stored under. A record cut short or damaged (a crash, a power cut) ends the
// journal; every whole record before it counts. Journals written before records carried a CRC are
// still read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace history {

enum class JournalOp : uint16_t { Add = 'A', Remove = 'R', Clear = 'C', Stored = 'S' };

struct JournalEntry {
  JournalOp op;
  uint32_t position;  // 1-based, for Remove
  std::wstring text;  // for Add
  bool operator==(const JournalEntry&) const = default;
};

struct ParsedJournal {
  bool valid = false;    // a header was found
  bool checked = false;  // its records carry a CRC (the format written now)
  uint64_t base = 0;     // the stored list it applies to
  std::vector<JournalEntry> entries;
  size_t wholeBytes = 0;   // the header and the whole records
  size_t markedBytes = 0;  // up to the last mark, or the header
};

// A mark's text, and the identity it holds.
std::wstring StoredMarkText(uint64_t id);
uint64_t StoredMarkId(const JournalEntry& mark);

// The journal's size past which the list is stored whole again and the journal restarted: the
// larger of 8 MB and the stored list, so that storing it costs O(1) per journaled byte.
uint64_t CompactionThreshold(uint64_t storedListBytes);

// The identity of a stored list that has none of its own (stored before lists carried one).
uint64_t HashStoredList(std::wstring_view stored);
uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);

std::string JournalHeader(uint64_t base);
std::string JournalRecord(JournalOp op, uint32_t position, std::wstring_view text);
// A record in three pieces, so that a long text can be written from where it lies: the head, the
// text's bytes, the tail.
std::string JournalRecordHead(JournalOp op, uint32_t position, std::wstring_view text);
std::string_view JournalRecordBody(std::wstring_view text);
std::string JournalRecordTail(std::string_view head, std::wstring_view text);
ParsedJournal ParseJournal(std::string_view bytes);

}  // namespace history
