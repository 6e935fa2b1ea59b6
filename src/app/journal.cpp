#include "app/journal.h"

#include <shlobj.h>

#include "app/history_list_view.h"
#include "win/append.h"

namespace app {
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

bool Journal::Resume(HistoryListView& list, uint64_t storedHash) {
  const ParsedJournal j = ParseJournal(ReadAll(path_));
  if (!j.valid || j.baseHash != storedHash) return false;
  for (const JournalEntry& e : j.entries) {
    switch (e.op) {
      case JournalOp::Add:
        list.AddItemDeferred(e.text);
        break;
      case JournalOp::Remove:
        if (e.position >= 1 && e.position <= list.Count()) list.RemoveDeferred(e.position);
        break;
      case JournalOp::Clear:
        list.ClearDeferred();
        break;
    }
  }
  list.Refresh();
  // Go on appending to it: it still applies to the same stored list.
  (void)OpenForAppend(j.wholeBytes);  // when it cannot, IsOpen tells the caller
  return true;
}

bool Journal::Restart(uint64_t storedHash) {
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

void Journal::Append(JournalOp op, uint32_t position, std::wstring_view text) {
  if (!file_) return;  // no journal to keep: the list is still stored whole at close
  // A change that a full disk refuses waits, and goes out before the next one: a journal that
  // skipped one would replay the later changes on the wrong list.
  // Written from where the text lies: a huge text is not copied into a record first.
  win::WholeAppend record(file_.get());
  (void)record.Write(unwritten_);
  (void)record.Write(JournalRecordHead(op, position, text));
  (void)record.Write(JournalRecordBody(text));
  (void)record.Write(JournalRecordTail(op, position, text));
  if (record.Commit()) {
    size_ += record.Written();
    unwritten_.clear();
  } else {
    unwritten_ += JournalRecord(op, position, text);
  }
}

}  // namespace app
