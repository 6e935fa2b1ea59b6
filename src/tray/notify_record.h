// The 88-byte notify-icon record that the shell's ANSI interface takes:
// cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon (4 bytes each), then a 64-byte tip.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tray {

constexpr uint32_t kRecordSize = 88;
constexpr uint32_t kTipChars = 64;
constexpr uint32_t kNifMessage = 1, kNifIcon = 2, kNifTip = 4;
constexpr uint32_t kNimAdd = 0, kNimModify = 1, kNimDelete = 2;
constexpr uint32_t kTrayCallbackMessage = 0x0465;

using NotifyRecord = std::array<uint8_t, kRecordSize>;

struct NotifyFields {
  uint32_t cbSize = 0;
  uint32_t hWnd = 0;
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  uint32_t hIcon = 0;
  std::string szTip;  // at most 64 bytes; the rest of the field stays zero
};

// Starts from an all-zero record and fills in the fields.
NotifyRecord PackNotifyRecord(const NotifyFields& f);
NotifyFields UnpackNotifyRecord(const NotifyRecord& r);

// The tip as the field holds it: the text, one NUL, then spaces up to 64 characters; a text of 64
// characters or more fills the field with its first 64 characters and no NUL.
std::wstring TipField(std::wstring_view tip);

}  // namespace tray
