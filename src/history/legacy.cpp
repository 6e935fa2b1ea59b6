#include "history/legacy.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>

#include "history/byte_stream.h"
#include "history/files_codec.h"
#include "history/journal_codec.h"

namespace history {
namespace {

constexpr char kChecked[4] = {'P', 'J', '2', '\0'};
constexpr char kUnchecked[4] = {'P', 'J', '1', '\0'};  // records checked by their head alone

template <typename T>
bool Take(std::string_view bytes, size_t& at, T& v) {
  if (bytes.size() - at < sizeof(T)) return false;
  std::memcpy(&v, bytes.data() + at, sizeof(T));
  at += sizeof(T);
  return true;
}

uint32_t HeadCheck(uint16_t op, uint32_t position, uint32_t length) {
  return 0x9E3779B9u ^ (static_cast<uint32_t>(op) * 31u) ^ (position * 131u) ^ (length * 257u);
}

uint64_t MarkId(const LegacyEntry& e) {
  uint64_t id = 0;
  if (e.text.size() * sizeof(wchar_t) == sizeof(id)) std::memcpy(&id, e.text.data(), sizeof(id));
  return id;
}

// Where the changes made after the list stored under id begin: after its mark, or at the start of
// a journal that starts from it.
std::optional<size_t> After(const LegacyJournal& j, uint64_t id) {
  if (!j.valid) return std::nullopt;
  for (size_t i = j.entries.size(); i-- > 0;)
    if (j.entries[i].op == 'S' && MarkId(j.entries[i]) == id) return i + 1;
  if (j.base == id) return size_t{0};
  return std::nullopt;
}

void Apply(const LegacyJournal& j, size_t first, size_t last, RowStore& rows) {
  for (size_t i = first; i < last; ++i) {
    const LegacyEntry& e = j.entries[i];
    if (e.op == 'A') rows.Add(e.text);
    if (e.op == 'R' && e.position >= 1 && e.position <= rows.Count()) rows.Remove(e.position - 1);
    if (e.op == 'C') rows.Clear();
  }
}

void AddNew(const LegacyJournal& j, RowStore& rows) {
  for (const LegacyEntry& e : j.entries)
    if (e.op == 'A' && !rows.Contains(e.text)) rows.Add(e.text);
}

std::optional<std::string> ReadAll(Folder& folder, const std::wstring& name) {
  Io why = Io::kOk;
  const std::unique_ptr<InFile> f = folder.Open(name, why);
  if (!f) return why == Io::kAbsent ? std::optional<std::string>(std::string()) : std::nullopt;
  std::string bytes(static_cast<size_t>(f->Size()), '\0');
  ByteReader r(*f);
  if (!r.Read(bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

uint64_t SideNumber(const std::wstring& name) {
  const size_t dot = name.find_last_of(L'.');
  return name.substr(0, dot) == L"history.journal.side" ? std::wcstoull(name.c_str() + dot + 1, nullptr, 10)
                                                        : 0;
}

}  // namespace

LegacyJournal ParseLegacyJournal(std::string_view bytes) {
  LegacyJournal j;
  if (bytes.size() < 4) return j;
  const bool checked = std::memcmp(bytes.data(), kChecked, 4) == 0;
  if (!checked && std::memcmp(bytes.data(), kUnchecked, 4) != 0) return j;
  size_t at = 4;
  if (!Take(bytes, at, j.base)) return j;
  j.valid = true;
  for (;;) {
    const size_t start = at;
    uint16_t op = 0;
    uint32_t position = 0, length = 0, check = 0;
    if (!Take(bytes, at, op) || !Take(bytes, at, position) || !Take(bytes, at, length)) break;
    if (op != 'A' && op != 'R' && op != 'C' && (op != 'S' || !checked)) break;
    if ((bytes.size() - at) / sizeof(wchar_t) < length) break;
    const size_t body = at;
    at += length * sizeof(wchar_t);
    if (!Take(bytes, at, check)) break;
    const uint32_t expected = checked ? Crc32(bytes.substr(start, body - start + length * sizeof(wchar_t)))
                                      : HeadCheck(op, position, length);
    if (check != expected) break;
    std::wstring text(length, L'\0');
    if (length) std::memcpy(text.data(), bytes.data() + body, length * sizeof(wchar_t));
    j.entries.push_back({static_cast<char>(op), position, std::move(text)});
  }
  return j;
}

bool RecoverLegacy(Folder& folder, const std::vector<std::wstring>& names, std::wstring_view files,
                   RowStore& rows) {
  ForEachStoredEntry(files, [&rows](std::wstring_view entry) { rows.Add(entry); });
  const uint64_t id = StoredListId(files).value_or(HashStoredList(files));
  const auto has = [&](const wchar_t* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  bool whole = true;
  const auto read = [&](const wchar_t* name) {
    LegacyJournal j;
    if (!has(name)) return j;
    const std::optional<std::string> bytes = ReadAll(folder, name);
    whole = whole && bytes.has_value();
    return bytes ? ParseLegacyJournal(*bytes) : j;
  };
  // A new file renamed over the journal holds what it does and more, unless the older version was
  // killed while it copied it: the one with more after the stored list, the new one of equals.
  const LegacyJournal journals[] = {read(L"history.journal.next"), read(L"history.journal")};
  const LegacyJournal prev = read(L"history.journal.prev");
  const LegacyJournal* best = nullptr;
  size_t bestFirst = 0;
  for (const LegacyJournal& j : journals) {
    const std::optional<size_t> first = After(j, id);
    if (first && (!best || j.entries.size() - *first > best->entries.size() - bestFirst))
      best = &j, bestFirst = *first;
  }
  if (best) Apply(*best, bestFirst, best->entries.size(), rows);
  bool applied = best != nullptr;
  // The newest store never reached the disk: the kept file leads from the list stored to it.
  for (const LegacyJournal& j : journals) {
    if (applied || !j.valid) continue;
    const std::optional<size_t> from = After(prev, id);
    for (size_t i = from.value_or(prev.entries.size()); i < prev.entries.size() && !applied; ++i) {
      if (prev.entries[i].op != 'S' || MarkId(prev.entries[i]) != j.base) continue;
      Apply(prev, *from, i, rows);
      Apply(j, 0, j.entries.size(), rows);
      applied = true;
    }
  }
  // A journal that goes with no stored list gives the list what it added.
  for (const LegacyJournal& j : journals)
    if (!applied && j.valid) AddNew(j, rows);
  std::vector<std::wstring> sides;
  for (const std::wstring& n : names)
    if (n == L"history.journal.side" || SideNumber(n)) sides.push_back(n);
  std::sort(sides.begin(), sides.end(),
            [](const std::wstring& a, const std::wstring& b) { return SideNumber(a) < SideNumber(b); });
  for (const std::wstring& n : sides) AddNew(read(n.c_str()), rows);
  return whole;
}

}  // namespace history
