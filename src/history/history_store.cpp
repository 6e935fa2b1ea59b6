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

// Every journal that a run which could not read its history kept: history.journal.side, and one
// under a name of its own where that one could not be used.
std::vector<std::wstring> SideJournals(const std::wstring& journal) {
  std::vector<std::wstring> paths;
  const std::wstring folder = journal.substr(0, journal.find_last_of(L'\\') + 1);
  WIN32_FIND_DATAW found{};
  const win::UniqueFind find(::FindFirstFileW((journal + L".side*").c_str(), &found));
  for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &found)) {
    const std::wstring name = found.cFileName;
    if (name.find(L".kept.") == std::wstring::npos) paths.push_back(folder + name);  // never read again
  }
  return paths;
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

void HistoryStore::KeepToItself() noexcept {
  partial_ = true;
  try {
    if (side_.Continue()) return;
    // One that an earlier such run left and that cannot be read now: a journal of its own beside it.
    side_ = Journal(journal_.path() + L".side." + std::to_wstring(::GetTickCount64()));
    if (side_.Continue()) return;
  } catch (...) {
    win::ReportCaught(L"a journal of its own for a run that could not read its history");
    return;
  }
  ::OutputDebugStringW(L"Pellucidor: no journal of its own for a run that could not read its history\n");
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
    switch (journal_.Resume(rows, identity)) {
      case Journal::Resumed::kUnreadable:
        return KeepToItself();
      case Journal::Resumed::kNone:
        // A journal that goes with no stored list is never dropped: it is read with the journals of
        // their own below, and goes only once the list is stored with what it added.
        if (!journal_.SetAside()) return KeepToItself();
        (void)journal_.Restart(identity);
        break;
      case Journal::Resumed::kApplied:
        break;
    }
    // What runs that could not read their history added meanwhile. (What they removed comes back.)
    std::vector<std::wstring> added;
    std::vector<std::pair<Journal, bool>> sides;
    for (const std::wstring& path : SideJournals(journal_.path())) {
      Journal side(path);
      bool whole = false;
      const std::optional<std::vector<std::wstring>> texts = side.Added(&whole);
      if (!texts) continue;  // kept for a start that can read it
      added.insert(added.end(), texts->begin(), texts->end());
      sides.emplace_back(std::move(side), whole);
    }
    // Journaled like any change, before the list is stored with them.
    for (const std::wstring& text : added) {
      if (rows.Contains(text)) continue;
      rows.Add(text);
      journal_.Append(JournalOp::Add, static_cast<uint32_t>(rows.Count()), text);
    }
    loaded_ = true;
    if (added.empty() && sides.empty()) return;
    if (!Store(rows)) return KeepToItself();
    for (auto& [side, whole] : sides) whole ? side.Delete() : side.KeepAsIs();
  } catch (...) {
    win::ReportCaught(L"reading the history");  // what was read is kept; nothing is overwritten
    loaded_ = false;
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
  if (partial_ || !loaded_ || !FoldDue() || fold_.joinable()) return;
  const uint64_t id = NewListId();
  if (!journal_.MarkStored(id)) return;  // the mark must be on the disk before a list names it
  try {
    std::vector<std::wstring_view> texts = rows.Pin();
    pinned_ = &rows;
    foldId_ = id;
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
    // No memory or no thread for it: the changes are journaled; the list is stored at close.
    win::ReportCaught(L"starting to store the list whole");
    if (pinned_) pinned_->Unpin();
    pinned_ = nullptr;
    foldAt_ = journal_.Size() * 2;
  }
}

void HistoryStore::FinishFold() {
  if (!fold_.joinable()) return;
  fold_.join();
  if (pinned_) pinned_->Unpin();
  pinned_ = nullptr;
  // Not stored: the stored list is still the one before the mark, and the journal leads on from it.
  if (foldStored_) journal_.Rotate(foldId_);
  if (foldStored_) foldAt_ = Threshold(foldBytes_);
}

bool HistoryStore::Store(RowStore& rows) {
  if (partial_ || !loaded_) return false;  // what could not be read is never overwritten
  FinishFold();
  const uint64_t id = NewListId();
  std::wstring files = EncodeFiles(rows.Pin(), id);
  rows.Unpin();
  if (!journal_.MarkStored(id) || !StoreFiles(settings_, files)) return false;
  journal_.Rotate(id);
  foldAt_ = Threshold(files.size() * sizeof(wchar_t));
  return true;
}

}  // namespace history
