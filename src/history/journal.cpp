#include "history/journal.h"

#include <shlobj.h>

#include "win/append.h"

namespace history {
namespace {

std::wstring DefaultPath() {
  PWSTR local = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local))) folder = local;
  ::CoTaskMemFree(local);
  if (folder.empty()) return {};
  folder += L"\\Kestrelay\\Pellucidor";
  (void)::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // may exist already
  return folder + L"\\history.journal";
}

std::string ReadAll(const std::wstring& path) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  LARGE_INTEGER size{};
  if (!f || !::GetFileSizeEx(f.get(), &size) || size.QuadPart > 0x7FFFFFFF) return bytes;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!::ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
  bytes.resize(got);
  return bytes;
}

}  // namespace

Journal::Journal(std::wstring path) : path_(path.empty() ? DefaultPath() : std::move(path)) {}

bool Journal::Resume(RowStore& rows, uint64_t storedHash) {
  ParsedJournal j = ParseJournal(ReadAll(path_));
  bool moved = true;
  if (!j.valid || j.baseHash != storedHash) {
    // A fold that stored the list whole but ended before its journal took the old one's place.
    j = ParseJournal(ReadAll(NextPath()));
    if (!j.valid || j.baseHash != storedHash) {
      (void)::DeleteFileW(NextPath().c_str());  // for no list there is: never replayed
      return false;
    }
    moved = ::MoveFileExW(NextPath().c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  }
  for (const JournalEntry& e : j.entries) {
    switch (e.op) {
      case JournalOp::Add:
        rows.Add(e.text);
        break;
      case JournalOp::Remove:
        if (e.position >= 1 && e.position <= rows.Count()) rows.Remove(e.position - 1);
        break;
      case JournalOp::Clear:
        rows.Clear();
        break;
    }
  }
  // Go on appending to it: it still applies to the same stored list. When it cannot, IsOpen tells
  // the caller.
  if (moved) (void)OpenForAppend(j.wholeBytes);
  return true;
}

bool Journal::Restart(uint64_t storedHash) {
  AbandonFold();
  file_.reset();
  unwritten_.clear();  // the stored list holds those changes now
  if (path_.empty()) return false;
  file_.reset(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string header = JournalHeader(storedHash);
  size_ = header.size();
  return file_ && win::AppendWhole(file_.get(), header);
}

bool Journal::OpenForAppend(uint64_t wholeBytes) {
  file_.reset(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  // A torn last record is cut off before anything follows it.
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(wholeBytes);
  if (!::SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &end, sizeof(end))) {
    file_.reset();
    return false;
  }
  size_ = wholeBytes;
  return true;
}

namespace {

// Written from where the text lies: a huge text is not copied into a record first.
bool WriteRecord(HANDLE file, std::string_view before, JournalOp op, uint32_t position,
                 std::wstring_view text, uint64_t& size) {
  win::WholeAppend record(file);
  (void)record.Write(before);
  (void)record.Write(JournalRecordHead(op, position, text));
  (void)record.Write(JournalRecordBody(text));
  (void)record.Write(JournalRecordTail(op, position, text));
  if (!record.Commit()) return false;
  size += record.Written();
  return true;
}

}  // namespace

void Journal::Append(JournalOp op, uint32_t position, std::wstring_view text) {
  if (!file_) return;  // no journal to keep: the list is still stored whole at close
  // A change that a full disk refuses waits, and goes out before the next one: a journal that
  // skipped one would replay the later changes on the wrong list.
  if (WriteRecord(file_.get(), unwritten_, op, position, text, size_)) {
    unwritten_.clear();
  } else {
    unwritten_ += JournalRecord(op, position, text);
  }
  // The journal that takes over once the list being stored is in place gets every change too.
  if (next_ && !WriteRecord(next_.get(), {}, op, position, text, nextSize_)) AbandonFold();
}

std::wstring Journal::NextPath() const {
  return path_ + L".next";
}

bool Journal::BeginFold(uint64_t storedHash) {
  AbandonFold();
  if (path_.empty() || !unwritten_.empty()) return false;  // a full disk: no room for a second journal
  next_.reset(::CreateFileW(NextPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::string header = JournalHeader(storedHash);
  nextSize_ = header.size();
  if (next_ && win::AppendWhole(next_.get(), header)) return true;
  AbandonFold();
  return false;
}

bool Journal::FinishFold() {
  if (!next_) return false;
  next_.reset();
  file_.reset();
  if (!::MoveFileExW(NextPath().c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    // The stored list is the new one: only the journal written for it applies now.
    AbandonFold();
    return false;
  }
  unwritten_.clear();
  return OpenForAppend(nextSize_);
}

void Journal::AbandonFold() {
  if (!next_ && ::GetFileAttributesW(NextPath().c_str()) == INVALID_FILE_ATTRIBUTES) return;
  next_.reset();
  (void)::DeleteFileW(NextPath().c_str());
}

}  // namespace history
