#include "clip/clip_data.h"

#include <cstring>

#include "win/text.h"

namespace clip {

// Copied once, straight from the block, into the form a history row keeps: a text of tens of
// megabytes is not copied twice.
std::wstring_view TrimAtNull(std::wstring_view text) {
  return text.substr(0, text.find(L'\0'));
}

win::TextBlock TextFromBlock(const void* block, size_t bytes) {
  if (!block) return win::TextBlock(std::wstring_view());
  return win::TextBlock(TrimAtNull({static_cast<const wchar_t*>(block), bytes / sizeof(wchar_t)}));
}

std::optional<std::vector<std::wstring>> FileNamesFromDropBlock(const void* block, size_t bytes,
                                                                unsigned ansiCodePage) {
  constexpr size_t kHeader = 20;
  if (!block || bytes < kHeader) return std::nullopt;
  const auto* base = static_cast<const unsigned char*>(block);
  uint32_t offset = 0, wide = 0;
  std::memcpy(&offset, base, 4);
  std::memcpy(&wide, base + 16, 4);
  if (offset < kHeader || offset > bytes) return std::nullopt;

  std::vector<std::wstring> names;
  size_t pos = offset;
  if (wide) {
    for (;;) {
      size_t end = pos;
      while (end + 1 < bytes && (base[end] | base[end + 1]) != 0) end += 2;
      if (end + 1 >= bytes) break;  // no terminator inside the block
      if (end == pos) break;        // the empty name ends the list
      std::wstring name((end - pos) / 2, L'\0');
      std::memcpy(name.data(), base + pos, end - pos);
      names.push_back(std::move(name));
      pos = end + 2;
    }
  } else {
    for (;;) {
      const void* nul = pos < bytes ? std::memchr(base + pos, 0, bytes - pos) : nullptr;
      if (!nul) break;
      const size_t end = static_cast<size_t>(static_cast<const unsigned char*>(nul) - base);
      if (end == pos) break;
      names.push_back(win::BytesToWide(std::string_view(reinterpret_cast<const char*>(base + pos), end - pos),
                                       ansiCodePage));
      pos = end + 1;
    }
  }
  return names;
}

std::wstring JoinPathLines(const std::vector<std::wstring>& names) {
  std::wstring text;
  for (const auto& n : names) {
    if (n.empty()) continue;
    text += n;
    text += L"\r\n";
  }
  return text;
}

}  // namespace clip
