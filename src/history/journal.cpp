#include "history/journal.h"

#include <shlobj.h>

#include <algorithm>

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

// The whole file; empty when there is none; nothing when it is there but could not be read to its
// end, which must never be taken for a shorter journal.
std::optional<std::string> ReadWhole(const std::wstring& path) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!f) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::string();
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(f.get(), &size) || static_cast<uint64_t>(size.QuadPart) >= SIZE_MAX / 2)
    return std::nullopt;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    DWORD n = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1u << 30));
    if (!::ReadFile(f.get(), bytes.data() + got, chunk, &n, nullptr)) return std::nullopt;
    if (n == 0) break;
    got += n;
  }
  if (got != bytes.size()) return std::nullopt;
  return bytes;
}

void Apply(const std::vector<JournalEntry>& entries, RowStore& rows) {
  for (const JournalEntry& e : entries) {
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
}

win::UniqueFile OpenForWriting(const std::wstring& path, DWORD disposition) {
  // Shared for deleting: the fold's journal is renamed into place while it is open.
  return win::UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Written from where the text lies: a huge text is not copied into a record first.
bool WriteRecord(HANDLE file, std::string_view before, JournalOp op, uint32_t position,
                 std::wstring_view text, uint64_t& size) {
  win::WholeAppend record(file);
  const std::string head = JournalRecordHead(op, position, text);
  (void)record.Write(before);
  (void)record.Write(head);
  (void)record.Write(JournalRecordBody(text));
  (void)record.Write(JournalRecordTail(head, text));
  if (!record.Commit()) return false;
  size += record.Written();
  return true;
}

}  // namespace

Journal::Journal(std::wstring path) : path_(path.empty() ? DefaultPath() : std::move(path)) {}

Journal::Resumed Journal::Resume(RowStore& rows, uint64_t base, bool* legacy) {
  std::optional<std::string> bytes = ReadWhole(path_);
  if (!bytes) return Resumed::kUnreadable;
  ParsedJournal j = ParseJournal(*bytes);
  bool fromNext = false;
  if (!j.valid || j.base != base) {
    // A fold that stored the list whole but ended before its journal took the old one's place.
    bytes = ReadWhole(NextPath());
    if (!bytes) return Resumed::kUnreadable;
    j = ParseJournal(*bytes);
    if (!j.valid || j.base != base) {
      (void)::DeleteFileW(NextPath().c_str());  // for no list there is: never replayed
      return Resumed::kNone;
    }
    fromNext = true;
  }
  Apply(j.entries, rows);
  if (legacy) *legacy = !j.checked;
  if (!fromNext) {
    (void)::DeleteFileW(NextPath().c_str());  // a fold's journal for another list: never replayed
    (void)OpenForAppend(main_, path_, j.wholeBytes, bytes->size());
  } else if (OpenForAppend(main_, NextPath(), j.wholeBytes, bytes->size())) {
    renamePending_ = true;
    TryRename();
  }
  return Resumed::kApplied;
}

bool Journal::OpenForAppend(File& file, const std::wstring& path, uint64_t wholeBytes, uint64_t readBytes) {
  file = File{};
  win::UniqueFile f = OpenForWriting(path, OPEN_EXISTING);
  LARGE_INTEGER size{};
  // A torn last record is cut off before anything follows it, but only where it ends the file as
  // it was read: anything else there is not ours to cut.
  if (!f || !::GetFileSizeEx(f.get(), &size) || static_cast<uint64_t>(size.QuadPart) != readBytes)
    return false;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(wholeBytes);
  if (wholeBytes != readBytes && !::SetFileInformationByHandle(f.get(), FileEndOfFileInfo, &end, sizeof(end)))
    return false;
  file.handle = std::move(f);
  file.size = wholeBytes;
  return true;
}

bool Journal::Create(File& file, const std::wstring& path, uint64_t base) {
  file = File{};
  file.handle = OpenForWriting(path, CREATE_ALWAYS);
  if (!file.handle) return false;
  const std::string header = JournalHeader(base);
  if (win::AppendWhole(file.handle.get(), header)) {
    file.size = header.size();
    return true;
  }
  file.unwritten = header;  // a full disk: it goes first once there is room
  return false;
}

bool Journal::Restart(uint64_t base) {
  AbandonFold();
  main_ = File{};
  if (path_.empty()) return false;
  // The stored list holds every change journaled so far: what was journaled, or waits, is for the
  // old list. Where another program holds the journal, the new one starts under the fold's name.
  renamePending_ = false;
  if (!Create(main_, path_, base) && !main_.handle) {
    (void)Create(main_, NextPath(), base);
    renamePending_ = static_cast<bool>(main_.handle);
  }
  return main_.handle && main_.unwritten.empty();
}

void Journal::Write(File& file, JournalOp op, uint32_t position, std::wstring_view text) {
  if (!file.handle) return;
  // A change that a full disk refuses waits, and goes out before the next one: a journal that
  // skipped one would replay the later changes on the wrong list.
  if (WriteRecord(file.handle.get(), file.unwritten, op, position, text, file.size)) {
    file.unwritten.clear();
  } else {
    file.unwritten += JournalRecord(op, position, text);
  }
}

void Journal::Append(JournalOp op, uint32_t position, std::wstring_view text) {
  TryRename();
  Write(main_, op, position, text);  // no journal to keep: the list is still stored whole at close
  // The journal that takes over once the list being stored is in place gets every change too.
  Write(next_, op, position, text);
}

bool Journal::BeginFold(uint64_t base) {
  AbandonFold();
  // A full disk, or a fold's journal still waiting for its place: no room for a second one.
  if (path_.empty() || !main_.handle || !main_.unwritten.empty() || renamePending_) return false;
  if (Create(next_, NextPath(), base)) return true;
  AbandonFold();
  return false;
}

void Journal::FinishFold() {
  if (!next_.handle) return;
  // On disk before it takes the old one's place, even through a power cut.
  (void)::FlushFileBuffers(next_.handle.get());
  main_ = std::move(next_);
  next_ = File{};
  renamePending_ = true;
  TryRename();
}

void Journal::AbandonFold() {
  if (renamePending_) return;  // the fold's journal is the one that applies now
  next_ = File{};
  (void)::DeleteFileW(NextPath().c_str());
}

void Journal::TryRename() {
  if (renamePending_ && ::MoveFileExW(NextPath().c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING))
    renamePending_ = false;
}

bool Journal::Continue() {
  const std::optional<std::string> bytes = ReadWhole(path_);
  if (!bytes) return false;
  const ParsedJournal j = ParseJournal(*bytes);
  if (j.valid && j.checked) return OpenForAppend(main_, path_, j.wholeBytes, bytes->size());
  if (!bytes->empty()) return false;  // not ours to overwrite
  return Create(main_, path_, 0);
}

std::optional<std::vector<std::wstring>> Journal::Added() const {
  const std::optional<std::string> bytes = ReadWhole(path_);
  if (!bytes) return std::nullopt;
  std::vector<std::wstring> added;
  for (JournalEntry& e : ParseJournal(*bytes).entries)
    if (e.op == JournalOp::Add) added.push_back(std::move(e.text));
  return added;
}

void Journal::Delete() {
  main_ = File{};
  (void)::DeleteFileW(path_.c_str());
}

}  // namespace history
