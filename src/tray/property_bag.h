// What a hosting window keeps of a control between sessions: named values, names matched without
// regard to case; and the picture objects that such values may hold.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "win/unique.h"

namespace tray {

// A picture object, shared by reference. Type 3 is an icon; 1 a bitmap, 4 a metafile.
struct Picture {
  static constexpr short kBitmap = 1, kMetafile = 4, kIcon = 3;
  short Type = 0;
  HANDLE Handle = nullptr;
  win::UniqueHicon ownedIcon;  // set when the picture owns its icon

  static std::shared_ptr<Picture> FromIcon(HICON icon);  // takes ownership
  static std::shared_ptr<Picture> Borrowed(short type, HANDLE handle);
};
using PicturePtr = std::shared_ptr<Picture>;

using PropertyValue = std::variant<bool, std::wstring, PicturePtr>;

class PropertyBag {
 public:
  PropertyValue ReadProperty(std::wstring_view name, PropertyValue defaultValue) const;
  void WriteProperty(std::wstring_view name, PropertyValue value);
  bool Has(std::wstring_view name) const;

 private:
  static std::wstring Key(std::wstring_view name);
  std::map<std::wstring, PropertyValue> values_;
};

}  // namespace tray
