#include "tray/property_bag.h"

#include <cwctype>

namespace tray {

std::shared_ptr<Picture> Picture::FromIcon(HICON icon) {
  auto p = std::make_shared<Picture>();
  p->Type = kIcon;
  p->Handle = icon;
  p->ownedIcon.reset(icon);
  return p;
}

std::shared_ptr<Picture> Picture::Borrowed(short type, HANDLE handle) {
  auto p = std::make_shared<Picture>();
  p->Type = type;
  p->Handle = handle;
  return p;
}

std::wstring PropertyBag::Key(std::wstring_view name) {
  std::wstring key(name);
  for (auto& c : key) c = static_cast<wchar_t>(std::towlower(c));
  return key;
}

PropertyValue PropertyBag::ReadProperty(std::wstring_view name, PropertyValue defaultValue) const {
  auto it = values_.find(Key(name));
  return it == values_.end() ? defaultValue : it->second;
}

void PropertyBag::WriteProperty(std::wstring_view name, PropertyValue value) {
  values_[Key(name)] = std::move(value);
}

bool PropertyBag::Has(std::wstring_view name) const {
  return values_.count(Key(name)) != 0;
}

}  // namespace tray
