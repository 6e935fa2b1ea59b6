// Keeps every change of the history list on disk as it happens, so that a process that is killed
// or crashes loses nothing; the list stored whole makes the journal start afresh.
#pragma once

#include <cstdint>
#include <string>
#include <optional>
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
    kNone,        // no journal applies to the stored list: nothing was applied
    kApplied,     // its changes were applied, and the journal goes on (unless IsOpen is false)
    kUnreadable,  // a journal could not be read: nothing was applied, nothing was changed on disk
  };
  // Applies the changes recorded since the stored list with this identity was written and goes
  // on appending after the last whole record: a record torn by a crash is cut off first, where it
  // ends the file, or every change appended after it would be unreachable. legacy: the journal
  // applied was written before records carried a CRC (the list should be stored anew).
  Resumed Resume(RowStore& rows, uint64_t base, bool* legacy = nullptr);
  // Starts an empty journal on top of the stored list with this identity.
  bool Restart(uint64_t base);
  // Appends one change; the bytes reach the file system before the call returns, or, when the
  // disk is full, with the first later change that finds room.
  void Append(JournalOp op, uint32_t position, std::wstring_view text);
  bool IsOpen() const { return static_cast<bool>(main_.handle); }

  // Storing the list whole while changes go on: from BeginFold, with the identity of the list
  // being stored, every change also goes to a second journal for that list. Once the list is
  // stored, FinishFold puts that journal in this one's place (if another program holds this one,
  // it goes on under its own name and takes the place later); AbandonFold drops it when storing
  // failed. A start finds whichever of the two belongs to the stored list.
  bool BeginFold(uint64_t base);
  void FinishFold();
  void AbandonFold();
  bool Folding() const { return static_cast<bool>(next_.handle); }
  // Bytes in the journal, as far as this process wrote or found them.
  uint64_t Size() const { return main_.size; }

  // A journal of its own for a run that could not read the history, which leaves the two above
  // as they are: Continue opens it (where an earlier such run left one, after its last whole
  // record), and a start that can read everything adds the texts it added (Added), stores the list
  // whole and deletes it.
  bool Continue();
  std::optional<std::vector<std::wstring>> Added() const;
  void Delete();

 private:
  struct File {
    win::UniqueFile handle;
    uint64_t size = 0;
    std::string unwritten;  // whole records, in order, that the disk had no room for yet
  };
  bool OpenForAppend(File& file, const std::wstring& path, uint64_t wholeBytes, uint64_t readBytes);
  bool Create(File& file, const std::wstring& path, uint64_t base);
  static void Write(File& file, JournalOp op, uint32_t position, std::wstring_view text);
  void TryRename();
  std::wstring NextPath() const { return path_ + L".next"; }

  std::wstring path_;
  File main_, next_;
  bool renamePending_ = false;  // main_ is still the fold's journal under its own name
};

}  // namespace history
