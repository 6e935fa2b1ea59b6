// A text in one allocation: its length, its UTF-16 characters and a NUL. Read once from the
// clipboard into this form, a text becomes a history row without being copied again: a text of
// tens of megabytes is held once, not twice.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

namespace win {

class TextBlock {
 public:
  TextBlock() noexcept = default;
  // Room for length characters (and the NUL), to be filled through data(). Throws std::bad_alloc,
  // or std::length_error for a length that its header or the address space cannot hold.
  static TextBlock WithLength(size_t length);
  explicit TextBlock(std::wstring_view text);
  ~TextBlock() { Free(p_); }
  TextBlock(TextBlock&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  TextBlock& operator=(TextBlock&& other) noexcept {
    if (this != &other) Free(std::exchange(p_, std::exchange(other.p_, nullptr)));
    return *this;
  }
  TextBlock(const TextBlock&) = delete;
  TextBlock& operator=(const TextBlock&) = delete;

  std::wstring_view view() const noexcept { return View(p_); }
  wchar_t* data() noexcept;

  // The raw form, for containers of very many texts: one pointer each.
  void* release() noexcept { return std::exchange(p_, nullptr); }
  static std::wstring_view View(const void* raw) noexcept;
  static void Free(void* raw) noexcept;

 private:
  struct Header {
    uint32_t length;
  };
  static_assert(sizeof(Header) % alignof(wchar_t) == 0, "the characters follow the header aligned");
  void* p_ = nullptr;
};

}  // namespace win
