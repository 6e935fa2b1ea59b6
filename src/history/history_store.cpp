#include "history/history_store.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <random>
#include <system_error>

#include "history/files_codec.h"
#include "history/legacy.h"
#include "history/snapshot_codec.h"
#include "win/report.h"

namespace history {
namespace {

constexpr int kMostPlans = 64;  // each plan after the first knows one more thing that failed
constexpr size_t kBlankCheck = size_t{1} << 20;

// Different for every journal: records of one never read as records of another.
uint32_t NewSeed() {
  static std::random_device device;
  const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return device() ^ static_cast<uint32_t>(now) ^ static_cast<uint32_t>(now >> 32);
}

// Nothing, zeros, or the start of a header a kill cut short: a journal with nothing in it.
bool Blank(InFile& f) {
  if (f.Size() > kBlankCheck) return false;
  std::string bytes(static_cast<size_t>(f.Size()), '\0');
  ByteReader r(f);
  if (!r.Read(bytes.data(), bytes.size())) return false;
  const std::string header = EncodeJournalHeader({});
  return bytes.find_first_not_of('\0') == std::string::npos ||
         (bytes.size() < kJournalHeaderBytes && header.compare(0, std::min<size_t>(bytes.size(), 4), bytes, 0,
                                                               std::min<size_t>(bytes.size(), 4)) == 0);
}

SeenJournal SeeJournal(Folder& folder, const std::wstring& name, uint64_t generation) {
  SeenJournal j;
  j.name = name;
  j.generation = generation;
  const std::unique_ptr<InFile> f = folder.Open(name, j.read);
  if (!f) return j;
  JournalReader r(*f);
  j.header = r.Header();
  if (j.header && j.header->generation != generation) j.header.reset();  // renamed by something else
  if (!j.header) {
    j.read = r.Failed() ? Io::kFailed : Io::kOk;
    j.blank = j.read == Io::kOk && Blank(*f);
    return j;
  }
  JournalRecord record;
  while (r.Next(record, false)) {
    ++j.records;
    j.endsStored = record.op == JournalOp::Stored;
    if (record.op == JournalOp::Stored) j.lastStored = record.stored;
    if (record.op == JournalOp::Merged) j.merged.push_back(record.merged);
  }
  if (r.Failed()) j.read = Io::kFailed;
  j.bytes = r.WholeBytes();
  return j;
}

SeenSnapshot SeeSnapshot(Folder& folder, const std::wstring& name, uint64_t generation) {
  SeenSnapshot s;
  s.name = name;
  s.generation = generation;
  const std::unique_ptr<InFile> f = folder.Open(name, s.read);
  if (!f) return s;
  SnapshotReader r(*f);
  const std::optional<SnapshotHeader> h = r.Header();
  if (r.Failed()) s.read = Io::kFailed;  // may pass: read again next time, never taken for damage
  s.valid = h && h->generation == generation;
  if (s.valid) s.merged = h->merged, s.origin = h->origin, s.imported = h->imported;
  return s;
}

enum class Written { kNot, kWritten, kOnDisk };

// Whole under its name, or not there: written under another, flushed, then renamed. kOnDisk: the
// rename too is on the disk (the system flushed the folder), so nothing older is needed.
Written WriteSnapshotFile(Folder& folder, const SnapshotHeader& header,
                          const std::vector<std::wstring_view>& texts) {
  const std::wstring name = SnapshotName(header.generation), temporary = name + L".tmp";
  Io why = Io::kOk;
  std::unique_ptr<OutFile> out = folder.Create(temporary, why);
  if (!out) return Written::kNot;
  const bool written = WriteSnapshot(*out, header, texts) && out->Flush();
  out.reset();
  if (!written || !folder.Rename(temporary, name)) {
    (void)folder.Delete(temporary);  // the next start deletes it otherwise
    return Written::kNot;
  }
  return folder.Flush() ? Written::kOnDisk : Written::kWritten;
}

uint64_t TextBytes(const RowStore& rows) {
  uint64_t bytes = 0;
  for (size_t i = 0; i < rows.Count(); ++i) bytes += rows.Text(i).size() * sizeof(wchar_t);
  return bytes;
}

void Apply(JournalRecord& r, RowStore& rows) {
  switch (r.op) {
    case JournalOp::Add:
      rows.Add(std::move(r.text));
      break;
    case JournalOp::Remove:
      if (r.position >= 1 && r.position <= rows.Count()) rows.Remove(r.position - 1);
      break;
    case JournalOp::Clear:
      rows.Clear();
      break;
    case JournalOp::Stored:
    case JournalOp::Merged:
      break;
  }
}

}  // namespace

HistoryStore::HistoryStore(Folder& folder, ListValue& list, Options options)
    : folder_(folder), list_(list), options_(std::move(options)) {}

HistoryStore::~HistoryStore() {
  if (fold_.joinable()) fold_.join();
}

void HistoryStore::Wake() {
  if (!workAsked_.exchange(true) && !(options_.wake && options_.wake())) workAsked_ = false;
}

void HistoryStore::Observe(Seen& seen) {
  seenHighest_ = 0;
  const std::optional<std::vector<std::wstring>> names = folder_.List();
  seen.listed = names.has_value();
  for (const std::wstring& name : names.value_or(std::vector<std::wstring>())) {
    uint64_t generation = 0;
    const FileKind kind = KindOf(name, &generation);
    seenHighest_ = std::max(seenHighest_, generation);
    switch (kind) {
      case FileKind::kJournal:
        seen.journals.push_back(SeeJournal(folder_, name, generation));
        if (seen.journals.back().read == Io::kAbsent) seen.journals.pop_back();  // gone meanwhile
        break;
      case FileKind::kSnapshot:
        seen.snapshots.push_back(SeeSnapshot(folder_, name, generation));
        if (seen.snapshots.back().read == Io::kAbsent) seen.snapshots.pop_back();
        break;
      case FileKind::kTemporary:
        seen.temporary.push_back(generation);
        break;
      case FileKind::kLegacy:
        seen.legacy.push_back(name);
        break;
      case FileKind::kNone:
        break;
    }
  }
  seen.list.info = list_.Query();
}

bool HistoryStore::LoadBase(Seen& seen, const Plan& plan, RowStore& rows) {
  switch (plan.base) {
    case Plan::Base::kEmpty:
      return true;
    case Plan::Base::kList:
      rows.Reserve(static_cast<size_t>(std::count(listValue_.begin(), listValue_.end(), L';')));
      ForEachStoredEntry(listValue_, [&rows](std::wstring_view entry) { rows.Add(entry); });
      return true;
    case Plan::Base::kLegacy:
      // A partial run shows what it could read of them.
      if (RecoverLegacy(folder_, seen.legacy, listValue_, rows) || plan.partial) return true;
      seen.legacyUnread = true;
      return false;
    case Plan::Base::kSnapshot:
      break;
  }
  for (SeenSnapshot& s : seen.snapshots) {
    if (s.generation != plan.snapshot) continue;
    const std::unique_ptr<InFile> f = folder_.Open(s.name, s.read);
    if (!f) return false;
    SnapshotReader r(*f);
    const std::optional<SnapshotHeader> h = r.Header();
    if (h) rows.Reserve(static_cast<size_t>(std::min<uint64_t>(h->rows, f->Size() / sizeof(uint32_t))));
    win::TextBlock text;
    while (h && r.Next(text)) rows.Add(std::move(text));
    if (h && r.Whole()) return true;
    if (r.Failed())
      s.read = Io::kFailed;
    else
      s.damaged = true;
    return false;
  }
  return false;
}

bool HistoryStore::Replay(Seen& seen, const Plan& plan, RowStore& rows, size_t& merged) {
  const auto read = [&](SeenJournal& j, const std::function<void(uint64_t, JournalRecord&)>& each) {
    const std::unique_ptr<InFile> f = folder_.Open(j.name, j.read);
    if (!f) return false;
    JournalReader r(*f);
    JournalRecord record;
    uint64_t index = 0;
    if (r.Header())
      while (index < j.records && r.Next(record, true)) each(index++, record);
    if (index == j.records) return true;
    j.read = Io::kFailed;
    return false;
  };
  for (const Plan::Replay& step : plan.replay) {
    const auto apply = [&](uint64_t index, JournalRecord& r) {
      if (index >= step.from) Apply(r, rows);
    };
    if (!read(seen.journals[step.journal], apply)) return false;
  }
  merged = rows.Count();
  for (size_t i : plan.addsOnly) {
    const auto add = [&rows](uint64_t, JournalRecord& r) {
      if (r.op == JournalOp::Add && !rows.Contains(r.text.view())) rows.Add(std::move(r.text));
    };
    if (!read(seen.journals[i], add)) return false;
  }
  return true;
}

void HistoryStore::Load(RowStore& rows) noexcept {
  Plan plan;
  size_t merged = 0;
  try {
    Seen seen;
    Observe(seen);
    for (int round = 0;; ++round) {
      plan = MakePlan(seen);
      if (plan.readList) {
        std::optional<std::wstring> value = list_.Read(seen.list.readWhy);
        seen.list.read = true;
        if (value) {
          listValue_ = std::move(*value);
          seen.list.hash = HashStoredList(listValue_);
          seen.list.ours = TrailingIdentity(listValue_);
        } else if (seen.list.readWhy == Io::kOk) {
          seen.list.readWhy = Io::kFailed;
        }
        continue;
      }
      rows.Clear();
      if (LoadBase(seen, plan, rows) && Replay(seen, plan, rows, merged)) break;
      if (round == kMostPlans) {
        plan.partial = true;  // nothing this start reads holds still: it shows what it has
        break;
      }
    }
    std::wstring().swap(listValue_);  // its memory too
    Begin(seen, plan, rows, merged);
  } catch (...) {
    win::ReportCaught(L"reading the history");  // what was read is shown; nothing is changed
    std::wstring().swap(listValue_);
    partial_ = true;
    storeAtClose_ = false;
    if (journal_) return;
    JournalHeader h;
    h.flags = JournalHeader::kAddsOnly;
    h.generation = std::max(plan.journal.generation, seenHighest_ + 1);
    h.seed = NewSeed();
    try {
      journal_ = std::make_unique<JournalWriter>(folder_, h);
      (void)journal_->Open();
    } catch (...) {
      win::ReportCaught(L"a journal for a run that could not read its history");
    }
  }
}

void HistoryStore::Begin(const Seen& seen, const Plan& plan, RowStore& rows, size_t merged) {
  partial_ = plan.partial;
  fromList_ = plan.base == Plan::Base::kList;
  bool legacyOnDisk = false;
  storeAtClose_ = plan.storeAtClose && !partial_;
  highest_ = plan.journal.generation - 1;
  JournalHeader header = plan.journal;
  header.seed = NewSeed();
  if (!header.origin) header.origin = static_cast<uint64_t>(NewSeed()) << 32 | NewSeed();  // a first start
  origin_ = header.origin;
  imported_ = plan.imported;
  if (!partial_) {
    // What this run builds on reaches the disk before anything follows it (a kill leaves it in
    // the system's cache, which a power cut would lose).
    for (const Plan::Replay& r : plan.replay) (void)folder_.FlushFile(seen.journals[r.journal].name);
  }
  if (partial_)
    header = JournalHeader{JournalHeader::kAddsOnly, header.generation, 0, 0, 0, header.seed, origin_};
  journal_ = std::make_unique<JournalWriter>(folder_, header);
  const bool made = journal_->Open();
  if (!partial_ && plan.base == Plan::Base::kLegacy) {
    // The older version's files stay, and are read again next time, until the snapshot its journal
    // begins at holds them; without it, the journal's entries are added as a partial run's are.
    const SnapshotHeader snapshot{journal_->header().generation, rows.Count(), origin_, imported_, {}};
    const Written written = WriteSnapshotFile(folder_, snapshot, rows.Pin());
    rows.Unpin();
    partial_ = written == Written::kNot;
    legacyOnDisk = written == Written::kOnDisk;
    if (!partial_) snapshots_.push_back(snapshot.generation);
  }
  if (partial_) storeAtClose_ = false;
  (void)folder_.Flush();
  highest_ = journal_->header().generation;
  if (partial_) return;
  // Entries added from other journals are journaled like any change (but where the snapshot just
  // written holds them), and those journals named as done with: no later start adds them again,
  // whether or not their files could go.
  for (size_t i = merged; i < rows.Count() && plan.base != Plan::Base::kLegacy; ++i) {
    try {
      journal_->Append(JournalOp::Add, static_cast<uint32_t>(i + 1), rows.Text(i));
    } catch (...) {
      while (rows.Count() > i) rows.Remove(rows.Count() - 1);  // added again next time
      throw;
    }
  }
  for (size_t i : plan.addsOnly) {
    journal_->Append(JournalOp::Merged, 0, MergedText(seen.journals[i].generation));
    merged_.insert(seen.journals[i].generation);
  }
  const bool mergedOnDisk = plan.addsOnly.empty() || journal_->Flush();
  if (plan.keepListAside && !list_.KeepAside()) storeAtClose_ = false;
  // Only once the run's journal is on the disk: its generation is the highest, never given again.
  if (made) {
    for (const std::wstring& name : plan.remove) (void)folder_.Delete(name);
    if (mergedOnDisk)
      for (const std::wstring& name : plan.removeOnceMerged) (void)folder_.Delete(name);
  }
  for (uint64_t g : plan.merged)
    for (const SeenJournal& j : seen.journals)
      if (j.generation == g) merged_.insert(g);  // still there: named in the next snapshot too
  for (const SeenSnapshot& s : seen.snapshots)
    if (s.read == Io::kOk && s.valid && !s.damaged) snapshots_.push_back(s.generation);
  std::sort(snapshots_.begin(), snapshots_.end());
  for (const SeenJournal& j : seen.journals)
    if (j.read == Io::kOk && j.header && !j.header->AddsOnly()) journals_.push_back(j.generation);
  // Read once into a snapshot of ours: they go once it is on the disk, now or at the next fold.
  if (plan.base == Plan::Base::kLegacy) legacy_ = seen.legacy;
  if (made && legacyOnDisk)
    std::erase_if(legacy_, [this](const std::wstring& name) { return folder_.Delete(name); });
  for (const Plan::Replay& r : plan.replay) chainBytes_ += seen.journals[r.journal].bytes;
  foldAt_ = options_.foldAfterBytes ? options_.foldAfterBytes : CompactionThreshold(TextBytes(rows));
  foldNow_ = plan.foldNow;
  if (foldNow_ || FoldDue()) Wake();
}

bool HistoryStore::FoldDue() const {
  return !partial_ && journal_ && chainBytes_ + journal_->Bytes() > foldAt_;
}

void HistoryStore::Record(JournalOp op, uint32_t position, std::wstring_view text) {
  if (!journal_) throw std::bad_alloc();  // the start found no memory even for a journal
  journal_->Append(op, position, text);
  if (folding_ ? foldDone_.load() : FoldDue()) Wake();
}

void HistoryStore::Work(RowStore& rows) {
  workAsked_ = false;
  if (folding_) {
    if (foldDone_) FinishFold(rows);
    return;
  }
  if (foldNow_ || FoldDue()) StartFold(rows);
}

void HistoryStore::Postpone() {
  // Tried again once the journal has grown by a good part of what it may.
  foldNow_ = false;
  const uint64_t journaled = chainBytes_ + (journal_ ? journal_->Bytes() : 0);
  foldAt_ = std::max(foldAt_, journaled + std::max<uint64_t>(foldAt_ / 4, uint64_t{1} << 20));
}

void HistoryStore::StartFold(RowStore& rows) {
  // The journal it follows must be whole on the disk, or the new one would follow a shorter one.
  if (partial_ || !journal_->Flush()) return Postpone();
  JournalHeader header;
  header.generation = highest_ + 1;
  header.follows = journal_->header().generation;
  header.followsRecords = journal_->Records();
  header.seed = NewSeed();
  header.origin = origin_;
  auto next = std::make_unique<JournalWriter>(folder_, header);
  if (!next->Open()) {
    (void)folder_.Delete(JournalName(next->header().generation));
    return Postpone();
  }
  (void)folder_.Flush();
  foldNow_ = false;
  highest_ = next->header().generation;
  journals_.push_back(journal_->header().generation);
  journal_ = std::move(next);
  chainBytes_ = 0;
  // Written as it stood when the new journal began, while the list goes on changing.
  foldHeader_ = {highest_, rows.Count(), origin_, imported_,
                 std::vector<uint64_t>(merged_.begin(), merged_.end())};
  foldTexts_ = rows.Pin();
  foldBytes_ = 0;
  for (std::wstring_view t : foldTexts_) foldBytes_ += t.size() * sizeof(wchar_t);
  folding_ = true;
  foldDone_ = foldWritten_ = foldOnDisk_ = false;
  if (options_.foldOnThread) {
    try {
      fold_ = std::thread([this] {
        WriteFold();
        Wake();
      });
      return;
    } catch (const std::exception&) {
      win::ReportCaught(L"starting to write the list whole");  // no thread: written here
    }
  }
  WriteFold();
  FinishFold(rows);
}

void HistoryStore::WriteFold() noexcept {
  try {
    const Written written = WriteSnapshotFile(folder_, foldHeader_, foldTexts_);
    foldWritten_ = written != Written::kNot;
    foldOnDisk_ = written == Written::kOnDisk;
  } catch (...) {
    win::ReportCaught(L"writing the list whole");
    foldWritten_ = foldOnDisk_ = false;
  }
  foldDone_ = true;
}

void HistoryStore::FinishFold(RowStore& rows) {
  if (!folding_) return;
  if (fold_.joinable()) fold_.join();
  rows.Unpin();
  std::vector<std::wstring_view>().swap(foldTexts_);
  folding_ = false;
  if (!foldWritten_) return Postpone();
  fromList_ = false;
  snapshots_.push_back(foldHeader_.generation);
  foldAt_ = options_.foldAfterBytes ? options_.foldAfterBytes : CompactionThreshold(foldBytes_);
  // Unless the folder is on the disk, the snapshot before stays too, with every journal from it
  // on: a power cut may yet undo the newer one's rename.
  const uint64_t keepFrom = foldOnDisk_              ? foldHeader_.generation
                            : snapshots_.size() >= 2 ? snapshots_[snapshots_.size() - 2]
                                                     : 0;
  if (keepFrom == 0) return;
  const auto remove = [this, keepFrom](std::vector<uint64_t>& generations, std::wstring (*name)(uint64_t)) {
    std::erase_if(generations, [&](uint64_t g) { return g < keepFrom && folder_.Delete(name(g)); });
  };
  remove(snapshots_, SnapshotName);
  remove(journals_, JournalName);
  std::erase_if(legacy_, [this](const std::wstring& name) { return folder_.Delete(name); });
  std::erase_if(merged_, [this](uint64_t g) { return folder_.Delete(JournalName(g)); });
}

bool HistoryStore::Store(RowStore& rows) {
  FinishFold(rows);
  if (!journal_) return false;
  if (partial_ || !storeAtClose_) {
    (void)journal_->Flush();
    return false;
  }
  (void)journal_->Open();  // its generation is settled before the list names it
  std::wstring files = EncodeFiles(rows.Pin());
  rows.Unpin();
  const ListIdentity id =
      AppendIdentity(files, {journal_->header().generation, journal_->Records(), origin_});
  if (!list_.Store(files)) {
    (void)journal_->Flush();
    return false;
  }
  // Found at the journal's end with the same size and stamp, the stored list is known without
  // reading it (a hundred megabytes take most of a second to read from the settings store).
  const StoredMark mark{id.hash, (files.size() + 1) * sizeof(wchar_t), list_.Query().stamp};
  journal_->Append(JournalOp::Stored, 0, StoredMarkText(mark));
  (void)journal_->Flush();
  return true;
}

}  // namespace history
