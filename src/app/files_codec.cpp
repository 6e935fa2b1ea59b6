#include "app/files_codec.h"

namespace app {
namespace {

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
  out.reserve(size + size / 64);
  for (auto e : entries) AppendEncodedEntry(out, e);
  return out;
}

std::vector<std::wstring> DecodeFiles(std::wstring_view stored) {
  std::vector<std::wstring> rows;
  std::wstring piece;
  bool keep = false;
  const auto endPiece = [&] {
    if (keep || !IsBlank(piece)) rows.push_back(std::move(piece));
    piece.clear();
    keep = false;
  };
  for (size_t i = 0; i < stored.size(); ++i) {
    const wchar_t c = stored[i];
    if (c == L';') {
      endPiece();
    } else if (c == kFilesEscape && i + 1 < stored.size() &&
               (stored[i + 1] == L';' || stored[i + 1] == kFilesEscape)) {
      piece += stored[++i];
    } else if (c == kFilesEscape && i + 1 < stored.size() && stored[i + 1] == L'.' && piece.empty()) {
      keep = true;
      ++i;
    } else {
      piece += c;
    }
  }
  endPiece();
  return rows;
}

}  // namespace app
