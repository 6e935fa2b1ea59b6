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

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// True while a file was written less than a minute ago. The settings store may hold a value that
// long before it is on the disk (Wine writes its registry out every half minute): the file kept for
// the store before it is kept as long.
bool RecentlyWritten(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](FILETIME t) {
    return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
  };
  const uint64_t written = ticks(data.ftLastWriteTime);
  return ticks(now) < written || ticks(now) - written < 60ull * 10000000ull;  // a clock set back: recent
}

// What is not ours to drop is kept, under a name of its own: a journal that cannot be read as one,
// or whatever follows a journal's last whole record.
bool KeepAside(const std::wstring& path, std::string_view bytes) {
  const std::wstring aside = path + L".kept." + std::to_wstring(::GetTickCount64());
  win::UniqueFile f(
      ::CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return f && win::AppendWhole(f.get(), bytes) && ::FlushFileBuffers(f.get());
}

// Bytes from..to of a file (to 0: its end); empty when there is none; nothing when it is there but
// could not be read to its end, which must never be taken for a shorter journal.
std::optional<std::string> ReadBytes(const std::wstring& path, uint64_t from = 0, uint64_t to = 0) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!f) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::string();
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(f.get(), &size)) return std::nullopt;
  if (to == 0) to = static_cast<uint64_t>(size.QuadPart);
  if (from > to || to > static_cast<uint64_t>(size.QuadPart) || to - from >= SIZE_MAX / 2)
    return std::nullopt;
  std::string bytes(static_cast<size_t>(to - from), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from + got);
    at.OffsetHigh = static_cast<DWORD>((from + got) >> 32);
    DWORD n = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1u << 30));
    if (!::ReadFile(f.get(), bytes.data() + got, chunk, &n, &at) || n == 0) return std::nullopt;
    got += n;
  }
  return bytes;
}

// The changes of entries first..last, marks passed over.
void Apply(const std::vector<JournalEntry>& entries, size_t first, size_t last, RowStore& rows) {
  for (size_t i = first; i < last; ++i) {
    const JournalEntry& e = entries[i];
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
      case JournalOp::Stored:
        break;
    }
  }
}

// Where the changes made after the list stored under id begin: after its mark, or at the start
// of a journal that starts from it.
std::optional<size_t> After(const ParsedJournal& j, uint64_t id) {
  if (!j.valid) return std::nullopt;
  for (size_t i = j.entries.size(); i-- > 0;)
    if (j.entries[i].op == JournalOp::Stored && StoredMarkId(j.entries[i]) == id) return i + 1;
  if (j.base == id) return 0;
  return std::nullopt;
}

win::UniqueFile OpenForWriting(const std::wstring& path, DWORD disposition) {
  // Shared for deleting: a new file is renamed into place while it is open.
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

Journal::Resumed Journal::Resume(RowStore& rows, uint64_t stored) {
  unmatched_.clear();
  std::optional<std::string> bytes = ReadBytes(path_);
  if (!bytes) return Resumed::kUnreadable;
  std::wstring at = path_;
  ParsedJournal j = ParseJournal(*bytes);
  if (!j.valid) {
    // Not a journal this program can read (or none at all): kept as it is, never replaced.
    if (!bytes->empty() && !(KeepAside(path_, *bytes) && ::DeleteFileW(path_.c_str())))
      return Resumed::kUnreadable;
    // A new file that had not yet taken the old one's place.
    std::optional<std::string> next = ReadBytes(NextPath());
    if (!next) return Resumed::kUnreadable;
    ParsedJournal n = ParseJournal(*next);
    if (n.valid) {
      j = std::move(n);
      bytes = std::move(next);
      at = NextPath();
    }
  }
  std::optional<size_t> first = After(j, stored);
  if (!first && j.valid) {
    // The newest store never reached the disk: the kept file leads from the list stored to this one.
    const std::optional<std::string> kept = ReadBytes(PrevPath());
    if (!kept) return Resumed::kUnreadable;
    const ParsedJournal p = ParseJournal(*kept);
    const std::optional<size_t> from = After(p, stored);
    std::optional<size_t> to;
    for (size_t i = from.value_or(p.entries.size()); i < p.entries.size() && !to; ++i)
      if (p.entries[i].op == JournalOp::Stored && StoredMarkId(p.entries[i]) == j.base) to = i;
    if (to) {
      Apply(p.entries, *from, *to, rows);
      keepPrev_ = true;
      first = 0;
    }
  }
  if (!first) {
    if (j.valid) unmatched_ = at;
    return Resumed::kNone;
  }
  Apply(j.entries, *first, j.entries.size(), rows);
  // A journal that cannot go on (another program holds it) is not replaced either: the caller
  // keeps to a journal of its own. One of the old kind is stored whole now and a new one begun.
  if (!j.checked) return Convert(j, *bytes) ? Resumed::kApplied : Resumed::kUnreadable;
  if (!OpenForAppend(at, j, *bytes)) return Resumed::kUnreadable;
  if (at == NextPath()) {
    onNext_ = true;
    TryRename();
  } else {
    (void)::DeleteFileW(NextPath().c_str());  // a new file that never got as far as its header
  }
  return Resumed::kApplied;
}

bool Journal::Convert(const ParsedJournal& older, std::string_view read) {
  // The same changes, on the same list, with a CRC each, in place of the old file (kept aside).
  File next;
  if (!Create(next, NextPath(), older.base)) return false;
  for (const JournalEntry& e : older.entries) Write(next, e.op, e.position, e.text);
  if (!next.unwritten.empty() || !::FlushFileBuffers(next.handle.get()) || !KeepAside(path_, read)) {
    next = File{};
    (void)::DeleteFileW(NextPath().c_str());
    return false;
  }
  main_ = std::move(next);
  markAt_ = 0;
  onNext_ = true;
  TryRename();
  return true;
}

bool Journal::SetAside() {
  if (unmatched_.empty()) return true;
  // Renamed, not copied: at no moment is it on the disk under neither name.
  const std::wstring side = path_ + L".side." + std::to_wstring(::GetTickCount64());
  if (!::MoveFileExW(unmatched_.c_str(), side.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
  unmatched_.clear();
  return true;
}

bool Journal::OpenForAppend(const std::wstring& path, const ParsedJournal& j, std::string_view read) {
  main_ = File{};
  win::UniqueFile f = OpenForWriting(path, OPEN_EXISTING);
  LARGE_INTEGER size{};
  // Only the end of the file as it was read is cut, and what is cut (a record that a crash cut
  // short, or the records after a damaged one) is kept aside first unless it is all zeros.
  if (!f || !::GetFileSizeEx(f.get(), &size) || static_cast<uint64_t>(size.QuadPart) != read.size())
    return false;
  if (j.wholeBytes != read.size()) {
    const std::string_view cut = read.substr(j.wholeBytes);
    if (cut.find_first_not_of('\0') != std::string_view::npos && !KeepAside(path, cut)) return false;
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(j.wholeBytes);
    if (!::SetFileInformationByHandle(f.get(), FileEndOfFileInfo, &end, sizeof(end))) return false;
  }
  main_.handle = std::move(f);
  main_.size = j.wholeBytes;
  markAt_ = j.markedBytes;
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
  main_ = File{};
  onNext_ = false;
  markId_ = base;
  markAt_ = 0;
  Rotate(base);
  return IsOpen();
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
}

bool Journal::MarkStored(uint64_t id) {
  Write(main_, JournalOp::Stored, 0, StoredMarkText(id));
  // On disk before the list stored under it, or the list would name a mark that no journal holds.
  const bool marked = main_.handle ? main_.unwritten.empty() && ::FlushFileBuffers(main_.handle.get())
                                   : !Exists(path_);  // no journal at all: only the stored list keeps it
  if (marked) {
    markAt_ = Logical();
    markId_ = id;
  }
  return marked;
}

void Journal::Rotate(uint64_t id) {
  // A later mark, the kept file still needed (or kept only a moment ago), or a new file still under
  // its own name: the journal goes on as it is, its mark telling where the stored list stands.
  if (markId_ != id || onNext_ || path_.empty()) return;
  if (!main_.handle) {
    // No journal goes on: a new one, where a file there before is kept aside (the list has its texts).
    if (Exists(path_)) KeepAsIs();
    if (!Exists(path_)) (void)Create(main_, path_, id);  // a header the disk refuses waits for room
    markAt_ = 0;
    return;
  }
  if (keepPrev_ || RecentlyWritten(PrevPath())) return;
  const std::optional<std::string> written =
      markAt_ < main_.size ? ReadBytes(path_, markAt_, main_.size) : std::string();
  if (!written) return;
  const std::string tail =
      *written + main_.unwritten.substr(static_cast<size_t>(std::max(markAt_, main_.size) - main_.size));
  File next;
  // On disk whole before the old file makes way for it, even through a power cut.
  if (!Create(next, NextPath(), id) || !win::AppendWhole(next.handle.get(), tail) ||
      !::FlushFileBuffers(next.handle.get()) ||
      !::MoveFileExW(path_.c_str(), PrevPath().c_str(), MOVEFILE_REPLACE_EXISTING)) {
    next = File{};
    (void)::DeleteFileW(NextPath().c_str());
    return;
  }
  next.size += tail.size();
  main_ = std::move(next);
  markAt_ = main_.size;
  onNext_ = true;
  TryRename();
}

void Journal::TryRename() {
  if (onNext_ && ::MoveFileExW(NextPath().c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) onNext_ = false;
}

bool Journal::Continue() {
  const std::optional<std::string> bytes = ReadBytes(path_);
  if (!bytes) return false;
  const ParsedJournal j = ParseJournal(*bytes);
  if (j.valid && j.checked) return OpenForAppend(path_, j, *bytes);
  if (!bytes->empty()) return false;  // not ours to overwrite
  return Create(main_, path_, 0);
}

std::optional<std::vector<std::wstring>> Journal::Added(bool* whole) const {
  const std::optional<std::string> bytes = ReadBytes(path_);
  if (!bytes) return std::nullopt;
  ParsedJournal j = ParseJournal(*bytes);
  if (whole) *whole = j.valid && j.wholeBytes == bytes->size();
  std::vector<std::wstring> added;
  for (JournalEntry& e : j.entries)
    if (e.op == JournalOp::Add) added.push_back(std::move(e.text));
  return added;
}

void Journal::KeepAsIs() {
  main_ = File{};
  const std::optional<std::string> bytes = ReadBytes(path_);
  if (bytes && KeepAside(path_, *bytes)) (void)::DeleteFileW(path_.c_str());
}

void Journal::Delete() {
  main_ = File{};
  (void)::DeleteFileW(path_.c_str());
}

}  // namespace history
