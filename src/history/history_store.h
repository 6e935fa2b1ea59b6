// The history's persistence: the list stored whole in the settings store ("Files"), and the journal
// of every change made since, folded back into the stored list once it has outgrown it. What it
// cannot read it never overwrites.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "history/journal.h"
#include "history/row_store.h"
#include "history/settings.h"

namespace history {

class HistoryStore {
 public:
  // journalPath empty: the per-user data folder. foldAfterBytes: the journal's size past which the
  // list is stored whole again; 0: once the journal has outgrown the list (and 8 MB).
  explicit HistoryStore(Settings settings, std::wstring journalPath = {}, uint64_t foldAfterBytes = 0);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // The stored list and the changes journaled since, appended to rows. When any of it cannot be
  // read (or held), rows keep what could be, and this run changes neither the stored list nor
  // the journal: its changes go to a journal of their own, which the next start adds.
  void Load(RowStore& rows) noexcept;
  bool Complete() const { return !partial_; }
  // One change of the list, journaled at once. True when the list should now be stored whole:
  // the caller starts the fold once the change at hand is done and its text let go.
  bool Record(JournalOp op, size_t position, std::wstring_view text);
  // Stores the list whole on a thread of its own while changes go on: the rows' texts are read
  // there as they are now, and encoded there. done is called on that thread when it has
  // finished, and FinishFold then on the caller's.
  void StartFold(RowStore& rows, std::function<void()> done);
  void FinishFold();
  // Stores the list whole now, and the journal starts afresh on it.
  bool Store(RowStore& rows);

 private:
  bool FoldDue() const { return journal_.Size() > foldAt_; }
  uint64_t Threshold(uint64_t listBytes) const;
  void KeepToItself() noexcept;

  Settings settings_;
  Journal journal_;
  Journal side_;  // a run's own journal, while partial_
  bool partial_ = false;
  bool loaded_ = false;  // Load read the history: nothing is stored before
  uint64_t foldAfter_;
  uint64_t foldAt_ = 0;
  std::thread fold_;
  RowStore* pinned_ = nullptr;  // whose texts the fold reads
  // Written by the fold's thread, read once it is joined.
  uint64_t foldId_ = 0;
  bool foldStored_ = false;
  uint64_t foldBytes_ = 0;
};

}  // namespace history
