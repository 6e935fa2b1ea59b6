// The history's persistence: the list stored whole in the settings store ("Files"), and the journal
// of every change made since, folded back into the stored list once it has outgrown it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "history/journal.h"
#include "history/row_store.h"

namespace history {

class HistoryStore {
 public:
  // journalPath empty: the per-user data folder.
  explicit HistoryStore(std::wstring journalPath = {});
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // The stored list and the changes journaled since, appended to rows.
  void Load(RowStore& rows);
  // One change of the list, journaled at once. True when the list should now be stored whole:
  // the caller starts the fold once the change at hand is done and its text let go.
  bool Record(JournalOp op, size_t position, std::wstring_view text);
  // Stores the list whole on a thread of its own while changes go on; done is called on that
  // thread when it has finished, and FinishFold then on the caller's.
  void StartFold(const RowStore& rows, std::function<void()> done);
  void FinishFold(const RowStore& rows);
  // Stores the list whole now, and the journal starts afresh on it.
  bool Store(const RowStore& rows);

 private:
  bool FoldDue() const { return journal_.Size() > foldAt_; }
  // Waits for a fold under way; true when its journal took the old one's place.
  bool JoinFold();

  Journal journal_;
  uint64_t foldAt_ = 0;  // journal bytes past which the list is stored whole again
  std::thread fold_;
  bool foldStored_ = false;  // written by the fold's thread, read once it is joined
  uint64_t foldBytes_ = 0;   // the size of the list being stored
};

}  // namespace history
