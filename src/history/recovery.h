// What a start does with what it finds on disk, decided in one place and without any I/O: from a
// summary of every file of the history's folder and of the stored list's value, a plan: the state
// to start from, the journals to replay on it in order, the journals whose entries are only added,
// the run's own journal, and the files that are done with. The start carries the plan out in an
// order such that a kill between any two of its steps leaves files from which this function plans
// the same rows again.
//
// The files, each named by a generation that no file has had before (one more than the highest
// seen anywhere, never the clock):
//   history.<G>.journal   the changes of one run, or of the part of a run after a fold
//   history.<G>.snap      the whole list as it stood when journal G began, written by a fold
//   history.<G>.snap.tmp  a snapshot being written; never read
// and the stored list, "Files", stored when the window closes, which ends with the generation and
// the journal position it stands at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/files_codec.h"
#include "history/journal_codec.h"
#include "history/storage_io.h"

namespace history {

enum class FileKind { kNone, kJournal, kSnapshot, kTemporary, kLegacy };
// The kind of a name in the folder, and its generation.
FileKind KindOf(const std::wstring& name, uint64_t* generation);
std::wstring JournalName(uint64_t generation);
std::wstring SnapshotName(uint64_t generation);

struct SeenJournal {
  std::wstring name;
  uint64_t generation = 0;              // from the name
  Io read = Io::kOk;                    // not kOk: it could not be read (its header is not known)
  std::optional<JournalHeader> header;  // nothing: no header of ours
  bool blank = false;                   // no header, and nothing but zeros (or nothing) in it
  uint64_t records = 0;                 // whole records
  uint64_t bytes = 0;                   // of the whole records
  bool endsStored = false;              // its last whole record is a Stored mark
  std::optional<StoredMark> lastStored;
  std::vector<uint64_t> merged;  // journals its Merged records name
};

struct SeenSnapshot {
  std::wstring name;
  uint64_t generation = 0;
  Io read = Io::kOk;
  bool valid = false;    // its header is ours
  bool damaged = false;  // read whole at a start, it did not hold
  uint64_t origin = 0, imported = 0;
  std::vector<uint64_t> merged;
};

struct SeenList {
  ListValueInfo info;
  bool read = false;  // the value itself was read (only when the plan asks for it)
  Io readWhy = Io::kOk;
  std::optional<ListIdentity> ours;  // it ends with our identity, and its hash holds
  uint64_t hash = 0;                 // of the whole value
};

struct Seen {
  bool listed = true;  // the folder could be listed
  std::vector<SeenJournal> journals;
  std::vector<SeenSnapshot> snapshots;
  std::vector<uint64_t> temporary;   // snapshots begun, never finished
  std::vector<std::wstring> legacy;  // an older version's journals
  bool legacyUnread = false;         // one of them could not be read
  SeenList list;
};

struct Plan {
  enum class Base { kEmpty, kSnapshot, kList, kLegacy } base = Base::kEmpty;
  uint64_t snapshot = 0;  // for kSnapshot: its generation
  struct Replay {
    size_t journal;  // in Seen::journals
    uint64_t from;   // the records before it are in the base already
  };
  std::vector<Replay> replay;
  std::vector<size_t> addsOnly;  // in Seen::journals, oldest first: their entries are added if not listed
  std::vector<uint64_t> merged;  // journals added to the list before: never added again
  uint64_t imported = 0;         // the list not ours the history began from, as its snapshots keep it
  bool readList = false;         // plan again once the stored list's value is read
  bool partial = false;          // part of the history could not be read: this run changes nothing
  bool keepListAside = false;    // the stored list is not text: kept under a name of its own first
  bool storeAtClose = true;      // false: the stored list could not be read, so it is not replaced
  bool foldNow = false;          // the base is no snapshot of ours
  JournalHeader journal;         // the run's own
  // Done with once the run's journal is on the disk (full runs only).
  std::vector<std::wstring> remove;
  std::vector<std::wstring> removeOnceMerged;  // once the Merged records are on the disk too
};

Plan MakePlan(const Seen& seen);

}  // namespace history
