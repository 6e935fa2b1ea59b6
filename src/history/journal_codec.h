// The journal of list changes made since the list was last stored whole: a header naming the
// stored list it applies to (by a hash of it), then one record per change. A record cut short by
// a crash ends the journal; every whole record before it counts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace history {

enum class JournalOp : uint16_t { Add = 'A', Remove = 'R', Clear = 'C' };

struct JournalEntry {
  JournalOp op;
  uint32_t position;  // 1-based, for Remove
  std::wstring text;  // for Add
  bool operator==(const JournalEntry&) const = default;
};

struct ParsedJournal {
  bool valid = false;  // a header was found
  uint64_t baseHash = 0;
  std::vector<JournalEntry> entries;
  size_t wholeBytes = 0;  // the header and the whole records; anything after them is torn
};

// The journal's size past which the list is stored whole again and the journal restarted: the
// larger of 8 MB and the stored list, so that storing it costs O(1) per journaled byte.
uint64_t CompactionThreshold(uint64_t storedListBytes);

uint64_t HashStoredList(std::wstring_view stored);
std::string JournalHeader(uint64_t baseHash);
std::string JournalRecord(JournalOp op, uint32_t position, std::wstring_view text);
// A record in three pieces, so that a long text can be written from where it lies: the head, the
// text's bytes, the tail.
std::string JournalRecordHead(JournalOp op, uint32_t position, std::wstring_view text);
std::string_view JournalRecordBody(std::wstring_view text);
std::string JournalRecordTail(JournalOp op, uint32_t position, std::wstring_view text);
ParsedJournal ParseJournal(std::string_view bytes);

}  // namespace history
