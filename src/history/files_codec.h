// The stored form of the history list ("Files"): every entry followed by ";".
//
// Entries are stored as they are, so a list without ";", U+001F or blank entries reads back as the
// plain list format always did. Three escapes keep every other list whole:
//   U+001F ";"     a ";" inside an entry
//   U+001F U+001F  a U+001F inside an entry
//   U+001F "."     at the start of a piece: keep this piece even if it is blank
// A value without escapes reads as it always did: split at every ";", pieces that are empty or
// hold only spaces are skipped.
//
// A list stored now ends with its identity, in pieces made of spaces alone (which every reader
// skips): a mark of 18 spaces, then pieces of 1 to 16 spaces, one per hexadecimal digit, for the
// generation and the number of journal records the list stands after, the history's origin, and a hash of everything
// before the identity, so that a value changed by anything else is told from ours. An older
// version started the list with an identity of its own: a mark of 17 spaces and 16 pieces.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace history {

constexpr wchar_t kFilesEscape = L'\x1F';

std::wstring EncodeFiles(const std::vector<std::wstring_view>& entries);

struct ListIdentity {
  uint64_t generation = 0;
  uint64_t records = 0;
  uint64_t origin = 0;  // the history's own, as its journals have it
  uint64_t hash = 0;    // of the value before the identity
};
// Appends the identity of what files holds now (its hash computed here); returns it.
ListIdentity AppendIdentity(std::wstring& files, ListIdentity id);
// The identity a value ends with, only when the hash holds for what precedes it.
std::optional<ListIdentity> TrailingIdentity(std::wstring_view stored);
// The identity an older version's list starts with, or nothing.
std::optional<uint64_t> StoredListId(std::wstring_view stored);
void AppendEncodedEntry(std::wstring& out, std::wstring_view entry);
std::vector<std::wstring> DecodeFiles(std::wstring_view stored);
// The same, handing each entry to add as it is found, without a list in between.
void ForEachStoredEntry(std::wstring_view stored, const std::function<void(std::wstring_view)>& add);

// Switch values in the settings store: only the exact text "On" is on.
inline bool IsSwitchOn(std::wstring_view value) {
  return value == L"On";
}
inline const wchar_t* SwitchText(bool on) {
  return on ? L"On" : L"Off";
}

}  // namespace history
