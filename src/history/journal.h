// Keeps every change of the history list on disk as it happens, so that a process that is killed
// or crashes loses nothing. Where the list is stored whole, the journal gets a mark; it then starts
// a file of its own after the mark (at most once a minute), and keeps the one before it (".prev"):
// a store that never reached the disk (a power cut while the system still held it) finds its
// changes there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/journal_codec.h"
#include "history/row_store.h"
#include "win/unique.h"

namespace history {

class Journal {
 public:
  // path empty: history.journal in %LOCALAPPDATA%\Kestrelay\Pellucidor.
  explicit Journal(std::wstring path = {});
  const std::wstring& path() const { return path_; }

  enum class Resumed {
    kNone,        // no journal goes with the stored list: nothing was applied
    kApplied,     // the changes made after it were applied, and the journal goes on
    kUnreadable,  // a journal could not be read: nothing was applied, nothing was changed on disk
  };
  // Applies the changes recorded after the stored list with this identity, and goes on appending
  // after the last whole record (what follows it, a record torn by a crash or the records after a
  // damaged one, is cut off there, and kept aside first). kUnreadable too when the journal cannot
  // go on. A journal of the old kind goes on as one of the new kind.
  Resumed Resume(RowStore& rows, uint64_t stored);
  // After kNone: the journal read, which goes with no stored list, becomes one of the journals of
  // their own (see Continue), whose texts a start adds; false when it could not be renamed.
  bool SetAside();
  // Starts an empty journal on top of the stored list with this identity.
  bool Restart(uint64_t base);
  // Appends one change; the bytes reach the file system before the call returns, or, when the
  // disk is full, with the first later change that finds room.
  void Append(JournalOp op, uint32_t position, std::wstring_view text);
  bool IsOpen() const { return static_cast<bool>(main_.handle); }
  // Where the list stands as it is stored whole under this identity; true once the mark is on the
  // disk (only then may the list be stored under it).
  bool MarkStored(uint64_t id);
  // Once the list marked with id is stored: a file of its own begins with what followed the mark.
  void Rotate(uint64_t id);
  // Bytes journaled since the last mark (or the start).
  uint64_t Size() const { return Logical() - markAt_; }

  // A journal of its own for a run that could not read the history, which leaves the others as
  // they are: Continue opens it (after the last whole record of one an earlier such run left), and
  // a start that can read everything adds the texts it added (Added), stores the list whole and
  // deletes it.
  bool Continue();
  // whole: read to its end, with nothing damaged.
  std::optional<std::vector<std::wstring>> Added(bool* whole = nullptr) const;
  void Delete();
  // Kept under a name of its own, never read again: what is left of one that was not read whole.
  void KeepAsIs();

 private:
  struct File {
    win::UniqueFile handle;
    uint64_t size = 0;
    std::string unwritten;  // whole records, in order, that the disk had no room for yet
  };
  uint64_t Logical() const { return main_.size + main_.unwritten.size(); }
  bool OpenForAppend(const std::wstring& path, const ParsedJournal& j, std::string_view read);
  bool Convert(const ParsedJournal& older, std::string_view read);
  bool Create(File& file, const std::wstring& path, uint64_t base);
  static void Write(File& file, JournalOp op, uint32_t position, std::wstring_view text);
  void TryRename();
  std::wstring PrevPath() const { return path_ + L".prev"; }
  std::wstring NextPath() const { return path_ + L".next"; }

  std::wstring path_;
  File main_;
  bool onNext_ = false;  // main_ is the new file still under its own name
  uint64_t markAt_ = 0;  // the journal's logical size after its last mark
  uint64_t markId_ = 0;
  bool keepPrev_ = false;   // the kept file is what the stored list needs: not replaced this run
  std::wstring unmatched_;  // the file read by a Resume that found no journal for the stored list
};

}  // namespace history
