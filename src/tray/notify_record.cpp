#include "tray/notify_record.h"

#include <algorithm>
#include <cstring>

namespace tray {
namespace {

void Put(NotifyRecord& r, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get(const NotifyRecord& r, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(r[at + i]) << (8 * i);
  return v;
}

}  // namespace

NotifyRecord PackNotifyRecord(const NotifyFields& f) {
  NotifyRecord r{};
  Put(r, 0, f.cbSize);
  Put(r, 4, f.hWnd);
  Put(r, 8, f.uID);
  Put(r, 12, f.uFlags);
  Put(r, 16, f.uCallbackMessage);
  Put(r, 20, f.hIcon);
  std::memcpy(r.data() + 24, f.szTip.data(), std::min<size_t>(f.szTip.size(), kTipChars));
  return r;
}

NotifyFields UnpackNotifyRecord(const NotifyRecord& r) {
  NotifyFields f;
  f.cbSize = Get(r, 0);
  f.hWnd = Get(r, 4);
  f.uID = Get(r, 8);
  f.uFlags = Get(r, 12);
  f.uCallbackMessage = Get(r, 16);
  f.hIcon = Get(r, 20);
  f.szTip.assign(reinterpret_cast<const char*>(r.data() + 24), kTipChars);
  return f;
}

std::wstring TipField(std::wstring_view tip) {
  std::wstring field(tip.substr(0, kTipChars));
  if (field.size() < kTipChars) field += L'\0';
  field.resize(kTipChars, L' ');
  return field;
}

}  // namespace tray
