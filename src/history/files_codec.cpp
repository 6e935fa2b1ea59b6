#include "history/files_codec.h"

#include "history/journal_codec.h"

namespace history {
namespace {

constexpr size_t kIdMark = 17;     // an older version's, at the start
constexpr size_t kTrailMark = 18;  // ours, at the end
constexpr int kTrailPieces = 64;   // four numbers of 16 hexadecimal digits

void AppendNumber(std::wstring& out, uint64_t v) {
  for (int shift = 60; shift >= 0; shift -= 4) {
    out.append(((v >> shift) & 0xF) + 1, L' ');
    out += L';';
  }
}

bool IsBlank(std::wstring_view s) {
  return s.find_first_not_of(L' ') == std::wstring_view::npos;
}

}  // namespace

void AppendEncodedEntry(std::wstring& out, std::wstring_view entry) {
  if (IsBlank(entry)) {
    out += kFilesEscape;
    out += L'.';
  }
  size_t start = 0;
  for (size_t i = 0; i < entry.size(); ++i) {
    const wchar_t c = entry[i];
    if (c == L';' || c == kFilesEscape) {
      out.append(entry.substr(start, i - start));
      out += kFilesEscape;
      out += c;
      start = i + 1;
    }
  }
  out.append(entry.substr(start));
  out += L';';
}

std::wstring EncodeFiles(const std::vector<std::wstring_view>& entries) {
  size_t size = 0;
  for (auto e : entries) size += e.size() + 1;
  std::wstring out;
  out.reserve(size + size / 64 + 500);  // and the identity
  for (auto e : entries) AppendEncodedEntry(out, e);
  return out;
}

ListIdentity AppendIdentity(std::wstring& files, ListIdentity id) {
  id.hash = HashStoredList(files);
  files.append(kTrailMark, L' ');
  files += L';';
  AppendNumber(files, id.generation);
  AppendNumber(files, id.records);
  AppendNumber(files, id.origin);
  AppendNumber(files, id.hash);
  return id;
}

std::optional<ListIdentity> TrailingIdentity(std::wstring_view stored) {
  // The pieces from the end: each ends in ";" and holds only spaces.
  size_t end = stored.size();
  uint64_t numbers[4] = {};
  for (int piece = kTrailPieces - 1; piece >= -1; --piece) {
    if (end < 2 || stored[end - 1] != L';') return std::nullopt;  // every piece has a space
    const size_t start = stored.find_last_not_of(L' ', end - 2);
    const size_t begin = start == std::wstring_view::npos ? 0 : start + 1;
    if (begin > 0 && stored[begin - 1] != L';') return std::nullopt;
    const size_t spaces = end - 1 - begin;
    if (piece < 0) {
      if (spaces != kTrailMark) return std::nullopt;
      const ListIdentity id{numbers[0], numbers[1], numbers[2], numbers[3]};
      if (HashStoredList(stored.substr(0, begin)) != id.hash) return std::nullopt;
      return id;
    }
    if (spaces < 1 || spaces > 16) return std::nullopt;
    numbers[piece / 16] |= static_cast<uint64_t>(spaces - 1) << (4 * (15 - piece % 16));
    end = begin;
  }
  return std::nullopt;
}

std::optional<uint64_t> StoredListId(std::wstring_view stored) {
  const auto piece = [&stored](size_t& at) -> size_t {
    const size_t end = stored.find(L';', at);
    if (end == stored.npos || stored.substr(at, end - at).find_first_not_of(L' ') != stored.npos) return 0;
    const size_t spaces = end - at;
    at = end + 1;
    return spaces;
  };
  size_t at = 0;
  if (piece(at) != kIdMark) return std::nullopt;
  uint64_t id = 0;
  for (int digit = 0; digit < 16; ++digit) {
    const size_t spaces = piece(at);
    if (spaces < 1 || spaces > 16) return std::nullopt;
    id = id << 4 | (spaces - 1);
  }
  return id;
}

void ForEachStoredEntry(std::wstring_view stored, const std::function<void(std::wstring_view)>& add) {
  std::wstring piece;  // only for pieces with escapes
  size_t pos = 0;
  while (pos <= stored.size()) {
    // The common piece has no escape: hand it over as a view of the stored text.
    size_t end = pos;
    while (end < stored.size() && stored[end] != L';' && stored[end] != kFilesEscape) ++end;
    if (end == stored.size() || stored[end] == L';') {
      const std::wstring_view plain = stored.substr(pos, end - pos);
      if (!IsBlank(plain)) add(plain);
      pos = end + 1;
      continue;
    }
    piece.assign(stored.substr(pos, end - pos));
    bool keep = false;
    size_t i = end;
    for (; i < stored.size() && stored[i] != L';'; ++i) {
      const wchar_t c = stored[i];
      const wchar_t next = i + 1 < stored.size() ? stored[i + 1] : L'\0';
      if (c == kFilesEscape && (next == L';' || next == kFilesEscape)) {
        piece += next;
        ++i;
      } else if (c == kFilesEscape && next == L'.' && piece.empty()) {
        keep = true;
        ++i;
      } else {
        piece += c;
      }
    }
    if (keep || !IsBlank(piece)) add(piece);
    pos = i + 1;
  }
}

std::vector<std::wstring> DecodeFiles(std::wstring_view stored) {
  std::vector<std::wstring> rows;
  ForEachStoredEntry(stored, [&](std::wstring_view e) { rows.emplace_back(e); });
  return rows;
}

}  // namespace history
