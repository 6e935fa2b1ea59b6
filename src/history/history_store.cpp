#include "history/history_store.h"

#include <windows.h>

#include <algorithm>
#include <random>
#include <vector>

#include "history/files_codec.h"
#include "win/report.h"

namespace history {
namespace {

// An identity that no other stored list has: drawn afresh for every store.
uint64_t NewListId() {
  static std::random_device device;
  static uint64_t counter = 0;
  LARGE_INTEGER now{};
  (void)::QueryPerformanceCounter(&now);
  uint64_t z = (static_cast<uint64_t>(device()) << 32 ^ device()) + static_cast<uint64_t>(now.QuadPart) +
               (++counter << 48);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Journals name the list they apply to by its identity; a list stored before lists had one, by
// a hash of it.
uint64_t IdentityOf(std::wstring_view files) {
  return StoredListId(files).value_or(HashStoredList(files));
}

bool StoreFiles(const Settings& settings, const std::wstring& files) {
  if (!settings.Save(L"Files", files)) return false;
  // On disk before the journal for it takes the old one's place, even through a power cut.
  settings.Flush();
  return true;
}

}  // namespace

HistoryStore::HistoryStore(Settings settings, std::wstring journalPath, uint64_t foldAfterBytes)
    : settings_(std::move(settings)),
      journal_(std::move(journalPath)),
      side_(journal_.path().empty() ? std::wstring() : journal_.path() + L".side"),
      foldAfter_(foldAfterBytes) {}

HistoryStore::~HistoryStore() {
  FinishFold();
}

uint64_t HistoryStore::Threshold(uint64_t listBytes) const {
  return foldAfter_ ? foldAfter_ : CompactionThreshold(listBytes);
}

void HistoryStore::KeepToItself() {
  partial_ = true;
  if (!side_.Continue())
    win::ReportCaught(L"no journal of its own for a run that could not read its history");
}

void HistoryStore::Load(RowStore& rows) noexcept {
  try {
    SettingRead files = settings_.Read(L"Files");
    if (files.state == SettingRead::kUnreadable) return KeepToItself();
    if (!files.value.empty()) {
      rows.Reserve(rows.Count() +
                   static_cast<size_t>(std::count(files.value.begin(), files.value.end(), L';')));
      ForEachStoredEntry(files.value, [&rows](std::wstring_view entry) { rows.Add(entry); });
    }
    // Changes made after the list was last stored whole, by a run that did not get to close.
    const uint64_t identity = IdentityOf(files.value);
    foldAt_ = Threshold(files.value.size() * sizeof(wchar_t));
    files.value = {};
    bool legacy = false, storeNow = false;
    switch (journal_.Resume(rows, identity, &legacy)) {
      case Journal::Resumed::kUnreadable:
        return KeepToItself();
      case Journal::Resumed::kNone:
        (void)journal_.Restart(identity);
        break;
      case Journal::Resumed::kApplied:
        // What was replayed must not rest on a journal that cannot go on, or on one of the old kind.
        storeNow = legacy || !journal_.IsOpen();
        break;
    }
    // What a run that could not read its history added meanwhile. (What it removed comes back.)
    const std::optional<std::vector<std::wstring>> added = side_.Added();
    const bool fromSide = added && !added->empty();
    if (fromSide) {
      for (const std::wstring& text : *added)
        if (!rows.Contains(text)) rows.Add(text);
    }
    if (!(storeNow || fromSide)) return;
    if (!Store(rows)) return KeepToItself();
    if (fromSide) side_.Delete();
  } catch (...) {
    win::ReportCaught(L"reading the history");  // what was read is kept; nothing is overwritten
    KeepToItself();
  }
}

bool HistoryStore::Record(JournalOp op, size_t position, std::wstring_view text) {
  if (partial_) {
    side_.Append(op, static_cast<uint32_t>(position), text);
    return false;
  }
  // Asked by the change after the one that made the journal outgrow the list: by then the
  // clipboard's own copy of a huge text is gone, and storing the list does not hold it three times.
  const bool due = FoldDue();
  journal_.Append(op, static_cast<uint32_t>(position), text);
  return due && !fold_.joinable();
}

void HistoryStore::StartFold(RowStore& rows, std::function<void()> done) {
  if (partial_ || !FoldDue() || fold_.joinable()) return;
  const uint64_t id = NewListId();
  if (!journal_.BeginFold(id)) {
    foldAt_ = journal_.Size() * 2;  // trying again at every change would cost the list each time
    return;
  }
  try {
    std::vector<std::wstring_view> texts = rows.Pin();
    pinned_ = &rows;
    foldStored_ = false;
    fold_ = std::thread([this, texts = std::move(texts), id, done = std::move(done)] {
      try {
        const std::wstring files = EncodeFiles(texts, id);
        foldBytes_ = files.size() * sizeof(wchar_t);
        foldStored_ = StoreFiles(settings_, files);
      } catch (...) {
        win::ReportCaught(L"storing the list whole");
      }
      done();
    });
  } catch (const std::exception&) {
    // No memory or no thread for it: the change is journaled already; the list is stored at close.
    if (pinned_) pinned_->Unpin();
    pinned_ = nullptr;
    journal_.AbandonFold();
    foldAt_ = journal_.Size() * 2;
  }
}

void HistoryStore::FinishFold() {
  if (!fold_.joinable()) return;
  fold_.join();
  if (pinned_) pinned_->Unpin();
  pinned_ = nullptr;
  if (foldStored_) {
    journal_.FinishFold();
    foldAt_ = Threshold(foldBytes_);
  } else {
    journal_.AbandonFold();  // the stored list is still the old one, and so is its journal
    foldAt_ = journal_.Size() * 2;
  }
}

bool HistoryStore::Store(RowStore& rows) {
  if (partial_) return false;  // what could not be read is never overwritten
  FinishFold();
  const uint64_t id = NewListId();
  std::wstring files = EncodeFiles(rows.Pin(), id);
  rows.Unpin();
  if (!StoreFiles(settings_, files)) return false;
  // Only now, with the list on disk: a kill or a power cut before this line finds the old journal
  // for the old list, and loses nothing.
  (void)journal_.Restart(id);
  foldAt_ = Threshold(files.size() * sizeof(wchar_t));
  return true;
}

}  // namespace history
