#include "history/history_store.h"

#include <algorithm>
#include <vector>

#include "history/files_codec.h"
#include "history/settings.h"
#include "win/report.h"

namespace history {
namespace {

std::wstring EncodeRows(const RowStore& rows) {
  std::vector<std::wstring_view> entries;
  entries.reserve(rows.Count());
  for (size_t i = 0; i < rows.Count(); ++i) entries.push_back(rows.Text(i));
  return EncodeFiles(entries);
}

bool StoreFiles(const std::wstring& files) {
  if (!SaveSetting(kSettingsApp, kSettingsSection, L"Files", files)) return false;
  // On disk before the journal for it takes the old one's place, even through a power cut.
  FlushSettings(kSettingsApp, kSettingsSection);
  return true;
}

}  // namespace

HistoryStore::HistoryStore(std::wstring journalPath) : journal_(std::move(journalPath)) {}

HistoryStore::~HistoryStore() {
  (void)JoinFold();
}

void HistoryStore::Load(RowStore& rows) {
  const std::wstring files = GetSetting(kSettingsApp, kSettingsSection, L"Files", L"");
  if (!files.empty()) {
    rows.Reserve(rows.Count() + static_cast<size_t>(std::count(files.begin(), files.end(), L';')));
    ForEachStoredEntry(files, [&rows](std::wstring_view entry) { rows.Add(entry); });
  }
  // Changes made after the list was last stored whole, by a run that did not get to close.
  const uint64_t hash = HashStoredList(files);
  foldAt_ = CompactionThreshold(files.size() * sizeof(wchar_t));
  if (!journal_.Resume(rows, hash)) {
    (void)journal_.Restart(hash);
  } else if (!journal_.IsOpen()) {
    (void)Store(rows);  // what was replayed must not rest on a journal that cannot go on
  }
}

bool HistoryStore::Record(JournalOp op, size_t position, std::wstring_view text) {
  // Asked by the change after the one that made the journal outgrow the list: by then the
  // clipboard's own copy of a huge text is gone, and storing the list does not hold it three times.
  const bool due = FoldDue();
  journal_.Append(op, static_cast<uint32_t>(position), text);
  return due && !fold_.joinable();
}

void HistoryStore::StartFold(const RowStore& rows, std::function<void()> done) {
  if (!FoldDue() || fold_.joinable()) return;
  try {
    std::wstring files = EncodeRows(rows);
    if (!journal_.BeginFold(HashStoredList(files))) {
      foldAt_ = journal_.Size() * 2;  // trying again at every change would cost the list each time
      return;
    }
    foldBytes_ = files.size() * sizeof(wchar_t);
    foldStored_ = false;
    fold_ = std::thread([this, files = std::move(files), done = std::move(done)] {
      try {
        foldStored_ = StoreFiles(files);
      } catch (...) {
        win::ReportCaught(L"storing the list whole");
        foldStored_ = false;
      }
      done();
    });
  } catch (const std::exception&) {
    // No memory or no thread for it: the change is journaled already; the list is stored at close.
    journal_.AbandonFold();
    foldAt_ = journal_.Size() * 2;
  }
}

bool HistoryStore::JoinFold() {
  if (!fold_.joinable()) return false;
  fold_.join();
  if (foldStored_ && journal_.FinishFold()) {
    foldAt_ = CompactionThreshold(foldBytes_);
    return true;
  }
  journal_.AbandonFold();
  if (!foldStored_) foldAt_ = journal_.Size() * 2;
  return false;
}

void HistoryStore::FinishFold(const RowStore& rows) {
  if (!fold_.joinable()) return;
  // The new stored list is in place without its journal: it is stored again now.
  if (!JoinFold() && foldStored_) (void)Store(rows);
}

bool HistoryStore::Store(const RowStore& rows) {
  (void)JoinFold();
  const std::wstring files = EncodeRows(rows);
  if (!StoreFiles(files)) return false;
  // Only now, with the list on disk: a kill or a power cut before this line finds the old journal
  // for the old list, and loses nothing.
  (void)journal_.Restart(HashStoredList(files));  // a journal left over is for the old list
  foldAt_ = CompactionThreshold(files.size() * sizeof(wchar_t));
  return true;
}

}  // namespace history
