// The run's own journal, appended to as the list changes. A record reaches the file system before
// Append returns; one that the disk refuses (full, or the file not yet made) waits, in order, and
// goes out with the first later change that finds room. Each record is written at the end the
// journal knows, so that what a refused write left behind is written over.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "history/journal_codec.h"
#include "history/storage_io.h"

namespace history {

class JournalWriter {
 public:
  JournalWriter(Folder& folder, JournalHeader header);
  const JournalHeader& header() const { return header_; }
  // Made on the disk with its header, flushed; false while it could not be (tried again at each
  // Append).
  bool Open();
  bool IsOpen() const { return file_ != nullptr; }
  // Throws only when there is no memory to keep the record waiting: the change must not be made.
  void Append(JournalOp op, uint32_t position, std::wstring_view text);
  // Everything written and on the disk.
  bool Flush();
  uint64_t Records() const { return records_; }  // written or waiting
  uint64_t Bytes() const { return end_ + waiting_.size(); }
  bool Waiting() const { return !waiting_.empty() || !file_; }

 private:
  bool WriteWaiting();
  Folder& folder_;
  JournalHeader header_;
  std::unique_ptr<OutFile> file_;
  uint64_t end_ = 0;     // of what is on the file whole
  std::string waiting_;  // whole records (the header first, until it is written)
  uint64_t records_ = 0;
};

}  // namespace history
