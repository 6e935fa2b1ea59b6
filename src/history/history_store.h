// The history's persistence: at start, what the folder and the stored list hold, read back as the
// recovery plan says (recovery.h); while the program runs, every change journaled before it is
// made, and the list written whole to a snapshot of its own (a fold) once the journal has outgrown
// it; at close, the list stored in the settings store. What it could not read it never overwrites.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "history/journal_writer.h"
#include "history/recovery.h"
#include "history/snapshot_codec.h"
#include "history/row_store.h"
#include "history/storage_io.h"

namespace history {

class HistoryStore {
 public:
  struct Options {
    uint64_t foldAfterBytes = 0;  // 0: once the journal has outgrown the list (and 8 MB)
    bool foldOnThread = true;     // false: a fold is done whole inside Work
    // Called from any thread when there is work: Work is to be called soon on the caller's thread.
    // False when that could not be asked for: asked again at the next change.
    std::function<bool()> wake;
  };
  HistoryStore(Folder& folder, ListValue& list, Options options);
  ~HistoryStore();  // waits for a fold; writes nothing
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // Fills rows. Never throws: what could not be read makes the run partial.
  void Load(RowStore& rows) noexcept;
  // Part of the history could not be read: this run adds its changes to a journal of its own, and
  // the next start that reads everything adds its entries.
  bool Partial() const { return partial_; }
  // Every change so far is in the journal's file (none waits for room).
  bool Journaled() const { return journal_ && !journal_->Waiting(); }
  // The journals start from a snapshot of ours, or from nothing: not from the stored list, whose
  // value the settings store may lose for a while after it was stored (until a fold is done).
  bool OnOwnFiles() const { return !fromList_; }
  // Journals one change before it is made. Throws only when it cannot even be kept waiting.
  void Record(JournalOp op, uint32_t position, std::wstring_view text);
  // Starts a fold that is due, or finishes one that is done.
  void Work(RowStore& rows);
  // Stores the list in the settings store, after a Stored mark, and flushes the journal. False
  // when nothing was stored.
  bool Store(RowStore& rows);

 private:
  void Wake();
  void Observe(Seen& seen);
  bool LoadBase(Seen& seen, const Plan& plan, RowStore& rows);
  // The journals the plan replays, then those whose entries it adds, from the row merged on.
  bool Replay(Seen& seen, const Plan& plan, RowStore& rows, size_t& merged);
  void Begin(const Seen& seen, const Plan& plan, RowStore& rows, size_t merged);
  bool FoldDue() const;
  void Postpone();
  void StartFold(RowStore& rows);
  void FinishFold(RowStore& rows);
  void WriteFold() noexcept;

  Folder& folder_;
  ListValue& list_;
  Options options_;
  std::wstring listValue_;  // read at start, when the plan needed it; let go once loaded
  std::unique_ptr<JournalWriter> journal_;
  bool partial_ = false;
  bool fromList_ = false;
  bool storeAtClose_ = false;
  uint64_t highest_ = 0;      // the highest generation ever named
  uint64_t seenHighest_ = 0;  // in the folder at start
  uint64_t origin_ = 0;       // the history's own, as its files have it
  uint64_t imported_ = 0;     // the list not ours it began from
  uint64_t chainBytes_ = 0;  // journaled since the base, before the run's own journal
  uint64_t foldAt_ = 0;
  bool foldNow_ = false;
  std::atomic<bool> workAsked_{false};
  std::vector<uint64_t> snapshots_;  // on the disk, oldest first
  std::vector<uint64_t> journals_;   // of the chain, on the disk
  std::set<uint64_t> merged_;        // journals added to the list whose files may still be there
  std::vector<std::wstring> legacy_;
  // The fold under way: written by its thread, read once it is joined.
  std::thread fold_;
  bool folding_ = false;
  std::atomic<bool> foldDone_{false};
  std::atomic<bool> foldWritten_{false}, foldOnDisk_{false};
  SnapshotHeader foldHeader_;
  std::vector<std::wstring_view> foldTexts_;  // the rows' texts, pinned while it writes them
  uint64_t foldBytes_ = 0;
};

}  // namespace history
