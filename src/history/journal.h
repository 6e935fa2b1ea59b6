// Keeps every change of the history list on disk as it happens, so that a process that is killed
// or crashes loses nothing; the list stored whole at close makes the journal start afresh.
#pragma once

#include <string>
#include <string_view>

#include "history/journal_codec.h"
#include "history/row_store.h"
#include "win/unique.h"

namespace history {

class Journal {
 public:
  // path empty: history.journal in %LOCALAPPDATA%\Kestrelay\Pellucidor.
  explicit Journal(std::wstring path = {});
  const std::wstring& path() const { return path_; }

  // Applies the changes recorded since the stored list with this hash was written and goes on
  // appending to the journal, after its last whole record: a record torn by a crash is cut off
  // first, or every change appended after it would be unreachable. False when there is none for
  // that stored list (it was written whole after the journal began, or nothing was journaled):
  // then nothing is applied. Changes applied from a journal that cannot be continued leave it
  // closed (IsOpen false): the list must then be stored whole. The caller shows the rows afterwards.
  bool Resume(RowStore& rows, uint64_t storedHash);
  // Starts an empty journal on top of the stored list with this hash.
  bool Restart(uint64_t storedHash);
  // Appends one change; the bytes reach the file system before the call returns, or, when the
  // disk is full, with the first later change that finds room.
  void Append(JournalOp op, uint32_t position, std::wstring_view text);
  bool IsOpen() const { return static_cast<bool>(file_); }

  // Storing the list whole while changes go on: from BeginFold, with the hash of the list being
  // stored, every change also goes to a second journal for that list. Once the list is stored,
  // FinishFold puts that journal in this one's place; AbandonFold drops it when storing failed.
  // A start finds whichever of the two belongs to the stored list.
  bool BeginFold(uint64_t storedHash);
  bool FinishFold();
  void AbandonFold();
  // Bytes in the journal file, as far as this process wrote or found them.
  uint64_t Size() const { return size_; }

 private:
  bool OpenForAppend(uint64_t wholeBytes);
  std::wstring NextPath() const;
  std::wstring path_;
  uint64_t size_ = 0;
  win::UniqueFile next_;
  uint64_t nextSize_ = 0;
  win::UniqueFile file_;
  std::string unwritten_;  // whole records, in order, that the disk had no room for yet
};

}  // namespace history
