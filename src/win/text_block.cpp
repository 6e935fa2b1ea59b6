#include "win/text_block.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace win {

TextBlock TextBlock::WithLength(size_t length) {
  // Checked before it is multiplied: in a 32-bit program the size would wrap past 2^31 characters.
  if (length >= UINT32_MAX || length > (SIZE_MAX - sizeof(Header)) / sizeof(wchar_t) - 1)
    throw std::length_error("text too long");
  void* p = std::malloc(sizeof(Header) + (length + 1) * sizeof(wchar_t));
  if (!p) throw std::bad_alloc();
  new (p) Header{static_cast<uint32_t>(length)};
  TextBlock b;
  b.p_ = p;
  b.data()[length] = L'\0';
  return b;
}

TextBlock::TextBlock(std::wstring_view text) : TextBlock(WithLength(text.size())) {
  if (!text.empty()) std::memcpy(data(), text.data(), text.size() * sizeof(wchar_t));
}

wchar_t* TextBlock::data() noexcept {
  return p_ ? reinterpret_cast<wchar_t*>(static_cast<char*>(p_) + sizeof(Header)) : nullptr;
}

std::wstring_view TextBlock::View(const void* raw) noexcept {
  if (!raw) return {};
  const auto* chars = reinterpret_cast<const wchar_t*>(static_cast<const char*>(raw) + sizeof(Header));
  return {chars, static_cast<const Header*>(raw)->length};
}

void TextBlock::Free(void* raw) noexcept {
  std::free(raw);
}

}  // namespace win
