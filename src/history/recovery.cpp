#include "history/recovery.h"

#include <algorithm>
#include <cwctype>
#include <set>
#include <tuple>

namespace history {
namespace {

constexpr wchar_t kPrefix[] = L"history.";
constexpr size_t kLongestChain = 4;  // journals after the base before a start folds

bool ParseNumber(std::wstring_view digits, uint64_t* value) {
  if (digits.empty() || digits.size() > 18) return false;
  uint64_t v = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + static_cast<uint64_t>(c - L'0');
  }
  *value = v;
  return v != 0;
}

bool IsLegacy(std::wstring_view name) {
  if (name == L"history.journal" || name == L"history.journal.prev" || name == L"history.journal.next" ||
      name == L"history.journal.side")
    return true;
  constexpr std::wstring_view side = L"history.journal.side.";
  uint64_t ignored = 0;
  return name.substr(0, side.size()) == side && ParseNumber(name.substr(side.size()), &ignored);
}

// Where a chain of journals gets to from a base: the journals replayed, and its end.
struct Walk {
  std::vector<Plan::Replay> steps;
  uint64_t generation = 0, records = 0;  // the end
  bool blocked = false;                  // a journal it needs could not be read
  std::optional<StoredMark> lastStored;
  bool endsStored = false;
  uint64_t bytes = 0;
  auto End() const { return std::tuple(generation, records); }
};

class Planner {
 public:
  explicit Planner(const Seen& seen) : seen_(seen) {
    for (const SeenJournal& j : seen.journals) {
      highest_ = std::max(highest_, j.generation);
      if (!j.header) continue;
      if (j.header->origin) origins_.insert(j.header->origin);
      Imported(j.generation, j.header->baseFiles);
    }
    for (const SeenSnapshot& s : seen.snapshots) {
      highest_ = std::max(highest_, s.generation);
      if (!s.valid) continue;
      if (s.origin) origins_.insert(s.origin);
      Imported(s.generation, s.imported);
    }
    for (uint64_t g : seen.temporary) highest_ = std::max(highest_, g);
    // Ours only when this history stored it: another machine's history may share the settings.
    if (seen.list.ours && origins_.count(seen.list.ours->origin)) ours_ = seen.list.ours;
    if (ours_) highest_ = std::max(highest_, ours_->generation);
  }

  Plan Make();

 private:
  bool Chained(const SeenJournal& j) const { return j.read == Io::kOk && j.header && !j.header->AddsOnly(); }
  const SeenJournal* Journal(uint64_t generation) const {
    for (const SeenJournal& j : seen_.journals)
      if (j.generation == generation) return &j;
    return nullptr;
  }
  size_t Index(const SeenJournal* j) const { return static_cast<size_t>(j - seen_.journals.data()); }
  void Step(Walk& w, const SeenJournal& j, uint64_t from) const;
  Walk WalkFrom(uint64_t generation, uint64_t records) const;
  std::optional<Walk> Best(Plan& p, bool withList) const;
  bool MayBeNeeded(uint64_t generation, const Walk& w) const;

  void Imported(uint64_t generation, uint64_t hash) {
    if (!hash) return;
    imported_.insert(hash);
    if (generation >= newestImport_.first) newestImport_ = {generation, hash};
  }

  const Seen& seen_;
  uint64_t highest_ = 0;
  std::pair<uint64_t, uint64_t> newestImport_{0, 0};  // generation, hash
  std::set<uint64_t> origins_, imported_;
  std::optional<ListIdentity> ours_;
};

void Planner::Step(Walk& w, const SeenJournal& j, uint64_t from) const {
  w.generation = j.generation;
  w.records = std::max(j.records, from);
  if (j.read != Io::kOk) {
    w.blocked = true;
    return;
  }
  w.steps.push_back({Index(&j), from});
  w.bytes += j.bytes;
  if (j.records > from && j.lastStored) w.lastStored = j.lastStored;
  w.endsStored = j.records > from ? j.endsStored : w.endsStored;
}

Walk Planner::WalkFrom(uint64_t generation, uint64_t records) const {
  Walk w;
  w.generation = generation;
  w.records = records;
  if (const SeenJournal* own = Journal(generation)) Step(w, *own, records);
  while (!w.blocked) {
    // The journal begun on the end reached so far; of two (which no run makes), the older.
    const SeenJournal* next = nullptr;
    for (const SeenJournal& j : seen_.journals) {
      if (j.generation <= w.generation) continue;
      if (j.read != Io::kOk) {
        // Unread, it may be the next one: nothing after it can be known.
        if (!next || j.generation < next->generation) next = &j;
        continue;
      }
      if (!Chained(j) || j.header->follows != w.generation || j.header->followsRecords > w.records) continue;
      if (!next || j.generation < next->generation) next = &j;
    }
    if (!next) break;
    if (next->read != Io::kOk && !MayBeNeeded(next->generation, w)) break;
    Step(w, *next, 0);
  }
  return w;
}

// An unread journal after the end of a chain could be its next link only if nothing readable
// follows the chain's end before it.
bool Planner::MayBeNeeded(uint64_t generation, const Walk& w) const {
  for (const SeenJournal& j : seen_.journals)
    if (Chained(j) && j.generation < generation && j.header->follows == w.generation &&
        j.header->followsRecords <= w.records)
      return false;
  return true;
}

// The base that reaches furthest, and at least cost: our snapshots first, then an empty start, the
// stored list last (reading a large value from the settings store is slow).
std::optional<Walk> Planner::Best(Plan& p, bool withList) const {
  std::optional<Walk> best;
  const auto consider = [&](Walk w, Plan::Base base, uint64_t snapshot) {
    if (best && w.End() <= best->End()) return;
    best = std::move(w);
    p.base = base;
    p.snapshot = snapshot;
  };
  std::vector<const SeenSnapshot*> snapshots;
  for (const SeenSnapshot& s : seen_.snapshots)
    if (s.read == Io::kOk && s.valid && !s.damaged) snapshots.push_back(&s);
  std::sort(snapshots.begin(), snapshots.end(),
            [](const SeenSnapshot* a, const SeenSnapshot* b) { return a->generation > b->generation; });
  for (const SeenSnapshot* s : snapshots)
    consider(WalkFrom(s->generation, 0), Plan::Base::kSnapshot, s->generation);
  for (const SeenJournal& j : seen_.journals) {
    if (!Chained(j) || j.header->follows != 0) continue;
    const bool fromList = j.header->baseFiles != 0;
    const bool fromSnapshot = (j.header->flags & JournalHeader::kFromSnapshot) != 0;
    if (fromSnapshot) continue;  // its snapshot is considered above
    if (!fromList) consider(WalkFrom(j.generation, 0), Plan::Base::kEmpty, 0);
    if (fromList && withList && seen_.list.read && seen_.list.hash == j.header->baseFiles)
      consider(WalkFrom(j.generation, 0), Plan::Base::kList, 0);
  }
  if (withList && seen_.list.read && ours_)
    consider(WalkFrom(ours_->generation, ours_->records), Plan::Base::kList, 0);
  return best;
}

Plan Planner::Make() {
  Plan p;
  const ListValueInfo& info = seen_.list.info;
  const bool listText = info.kind == ListValueInfo::kText;
  if (info.kind == ListValueInfo::kOther) p.keepListAside = true;
  if (info.kind == ListValueInfo::kUnreadable) p.storeAtClose = false;

  const std::optional<Walk> mine = Best(p, false);
  // The stored list is read only when it may not be the one the chain ends by storing: after a
  // kill, a store whose journal the disk refused, a value changed by something else, a first start.
  const bool known = mine && mine->endsStored && listText && mine->lastStored->bytes == info.bytes &&
                     mine->lastStored->stamp == info.stamp && info.stamp != 0;
  if (listText && !known && !seen_.list.read) {
    p.readList = true;
    return p;
  }
  const bool listUsable = listText && seen_.list.read && seen_.list.readWhy == Io::kOk;
  if (listText && seen_.list.read && !listUsable) p.storeAtClose = false;  // not replaced unread
  std::optional<Walk> best = listUsable ? Best(p, true) : mine;
  bool imported = false;
  // A list this history began from, stored back by the settings store that lost what came after.
  const bool stale = listUsable && !ours_ && imported_.count(seen_.list.hash);
  if (listUsable && !ours_ && !stale && !(best && p.base == Plan::Base::kList)) {
    // Not ours, or changed since: taken as the list when there is nothing else, or when the
    // history's last run closed (the change came after it); otherwise kept aside.
    if (!best && seen_.legacy.empty()) {
      imported = true;
    } else if (best && best->endsStored && !best->blocked) {
      imported = true;
    } else if (best) {
      p.keepListAside = true;
    }
    if (imported) {
      best = Walk();
      p.base = Plan::Base::kList;
    }
  }
  if (!best && !seen_.legacy.empty()) {
    best = Walk();
    p.base = Plan::Base::kLegacy;
    if (seen_.legacyUnread) p.partial = true;
  }
  if (!best) best = Walk();  // a first start
  // A list that could not be read (and was not known to be the one our files end by storing) may
  // hold more than they do: a close on a full disk, a first start, an edit.
  if (info.kind == ListValueInfo::kUnreadable || (listText && seen_.list.read && !listUsable))
    p.partial = true;
  if (!seen_.listed || best->blocked) p.partial = true;
  p.replay = best->steps;

  // Whatever could not be read, and could hold what comes after the base, makes the run partial.
  const uint64_t baseGeneration = p.base == Plan::Base::kSnapshot ? p.snapshot : 0;
  for (const SeenSnapshot& s : seen_.snapshots)
    if (s.read != Io::kOk && s.generation > best->generation) p.partial = true;
  for (const SeenJournal& j : seen_.journals)
    if (j.read != Io::kOk && j.generation > baseGeneration) p.partial = true;

  // What was added before, from the base's snapshot and the journals replayed, or by the run that
  // stored the list the start begins from: it added every such journal older than itself.
  std::set<uint64_t> merged, storedWith;
  if (p.base == Plan::Base::kList && ours_)
    for (const SeenJournal& j : seen_.journals)
      if (j.generation < ours_->generation && j.header && j.header->AddsOnly())
        storedWith.insert(j.generation);
  for (const SeenSnapshot& s : seen_.snapshots)
    if (p.base == Plan::Base::kSnapshot && s.generation == p.snapshot)
      merged.insert(s.merged.begin(), s.merged.end());
  std::set<size_t> replayed;
  for (const Plan::Replay& r : p.replay) {
    merged.insert(seen_.journals[r.journal].merged.begin(), seen_.journals[r.journal].merged.end());
    replayed.insert(r.journal);
  }
  // Runs that could not read the history, and journals that lost their place in the chain (the
  // one before them lost records to a power cut): their entries are added, each once.
  for (size_t i = 0; i < seen_.journals.size(); ++i) {
    const SeenJournal& j = seen_.journals[i];
    if (j.read != Io::kOk || !j.header || replayed.count(i) || merged.count(j.generation) ||
        storedWith.count(j.generation))
      continue;
    const bool stray = !imported && j.generation > std::max(baseGeneration, best->generation);
    if (j.header->AddsOnly() || stray) p.addsOnly.push_back(i);
  }
  std::sort(p.addsOnly.begin(), p.addsOnly.end(), [this](size_t a, size_t b) {
    return seen_.journals[a].generation < seen_.journals[b].generation;
  });
  merged.insert(storedWith.begin(), storedWith.end());  // their files go with the next fold
  p.merged.assign(merged.begin(), merged.end());

  p.journal.generation = highest_ + 1;
  if (!origins_.empty()) p.journal.origin = *origins_.rbegin();
  p.imported = imported || p.base == Plan::Base::kLegacy ? (seen_.list.read ? seen_.list.hash : 0)
                                                         : newestImport_.second;
  if (p.partial) {
    p.journal.flags = JournalHeader::kAddsOnly;
    p.storeAtClose = false;
    p.keepListAside = false;
    return p;  // it changes nothing on disk but its own journal
  }
  if (imported) {
    p.journal.baseFiles = seen_.list.hash;
  } else if (p.base == Plan::Base::kLegacy) {
    p.journal.flags = JournalHeader::kFromSnapshot;  // written before it
  } else if (!best->steps.empty() || p.base != Plan::Base::kEmpty) {
    p.journal.follows = best->generation;
    p.journal.followsRecords = best->records;
  }
  p.foldNow =
      p.base == Plan::Base::kList || (p.base != Plan::Base::kLegacy && best->steps.size() > kLongestChain);

  for (uint64_t t : seen_.temporary) p.remove.push_back(SnapshotName(t) + L".tmp");
  for (size_t i = 0; i < seen_.journals.size(); ++i) {
    const SeenJournal& j = seen_.journals[i];
    if (j.read != Io::kOk) continue;  // never what could not be read
    if (!j.header && j.blank) p.remove.push_back(j.name);
    if (j.header && merged.count(j.generation) && !replayed.count(i) && !storedWith.count(j.generation))
      p.remove.push_back(j.name);
  }
  for (size_t i : p.addsOnly) p.removeOnceMerged.push_back(seen_.journals[i].name);
  if (p.base != Plan::Base::kSnapshot) return p;
  // The base's snapshot and the one before it stay, with every journal from that one on: a power
  // cut may yet undo the newer one's rename. With no snapshot before it, everything stays.
  uint64_t keepFrom = 0;
  for (const SeenSnapshot& s : seen_.snapshots)
    if (s.read == Io::kOk && s.valid && !s.damaged && s.generation < p.snapshot)
      keepFrom = std::max(keepFrom, s.generation);
  if (keepFrom == 0) return p;
  for (const std::wstring& l : seen_.legacy) p.remove.push_back(l);
  for (const SeenSnapshot& s : seen_.snapshots)
    if (s.read == Io::kOk && s.generation < keepFrom) p.remove.push_back(s.name);
  for (const SeenJournal& j : seen_.journals)
    if (Chained(j) && j.generation < keepFrom && !merged.count(j.generation)) p.remove.push_back(j.name);
  return p;
}

}  // namespace

FileKind KindOf(const std::wstring& name, uint64_t* generation) {
  if (IsLegacy(name)) return FileKind::kLegacy;
  const std::wstring_view n(name);
  if (n.substr(0, std::size(kPrefix) - 1) != kPrefix) return FileKind::kNone;
  const std::wstring_view rest = n.substr(std::size(kPrefix) - 1);
  const size_t dot = rest.find(L'.');
  if (dot == std::wstring_view::npos || !ParseNumber(rest.substr(0, dot), generation)) return FileKind::kNone;
  const std::wstring_view end = rest.substr(dot);
  if (end == L".journal") return FileKind::kJournal;
  if (end == L".snap") return FileKind::kSnapshot;
  if (end == L".snap.tmp") return FileKind::kTemporary;
  return FileKind::kNone;
}

std::wstring JournalName(uint64_t generation) {
  return kPrefix + std::to_wstring(generation) + L".journal";
}

std::wstring SnapshotName(uint64_t generation) {
  return kPrefix + std::to_wstring(generation) + L".snap";
}

Plan MakePlan(const Seen& seen) {
  return Planner(seen).Make();
}

}  // namespace history
