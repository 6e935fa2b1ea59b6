// Keeps every change of the history list on disk as it happens, so that a process that is killed
// or crashes loses nothing; the list stored whole at close makes the journal start afresh.
#pragma once

#include <string>
#include <string_view>

#include "app/journal_codec.h"
#include "win/unique.h"

namespace app {

class HistoryListView;

class Journal {
 public:
  // path empty: history.journal in %LOCALAPPDATA%\Kestrelay\Pellucidor.
  explicit Journal(std::wstring path = {});
  const std::wstring& path() const { return path_; }

  // Applies the changes recorded since the stored list with this hash was written and goes on
  // appending to the journal. False when there is none for that stored list (it was written
  // whole after the journal began, or nothing was journaled): then nothing is applied.
  bool Resume(HistoryListView& list, uint64_t storedHash);
  // Starts an empty journal on top of the stored list with this hash.
  bool Restart(uint64_t storedHash);
  // Appends one change; the bytes reach the file system before the call returns, or, when the
  // disk is full, with the first later change that finds room.
  void Append(JournalOp op, uint32_t position, std::wstring_view text);

 private:
  bool OpenForAppend();
  std::wstring path_;
  win::UniqueFile file_;
  std::string unwritten_;  // whole records, in order, that the disk had no room for yet
};

}  // namespace app
