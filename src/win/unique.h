// Move-only owners for Win32 handles: one template, one traits struct and one alias per handle type.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace win {

template <typename Traits>
class UniqueAny {
 public:
  using pointer = typename Traits::type;

  UniqueAny() noexcept : h_(Traits::empty()) {}
  explicit UniqueAny(pointer h) noexcept : h_(h) {}
  ~UniqueAny() { reset(); }
  UniqueAny(UniqueAny&& other) noexcept : h_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  pointer get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::empty(); }
  pointer release() noexcept {
    pointer h = h_;
    h_ = Traits::empty();
    return h;
  }
  void reset(pointer h = Traits::empty()) noexcept {
    if (h_ != Traits::empty()) Traits::close(h_);
    h_ = h;
  }

 private:
  pointer h_;
};

#define PELLUCIDOR_HANDLE_TRAITS(Name, Type, EmptyValue, CloseCall) \
  struct Name {                                                     \
    using type = Type;                                              \
    static type empty() noexcept { return EmptyValue; }             \
    static void close(type h) noexcept { (void)CloseCall(h); }      \
  };

PELLUCIDOR_HANDLE_TRAITS(WindowTraits, HWND, nullptr, ::DestroyWindow)
PELLUCIDOR_HANDLE_TRAITS(KeyTraits, HKEY, nullptr, ::RegCloseKey)
PELLUCIDOR_HANDLE_TRAITS(FileTraits, HANDLE, INVALID_HANDLE_VALUE, ::CloseHandle)
PELLUCIDOR_HANDLE_TRAITS(HandleTraits, HANDLE, nullptr, ::CloseHandle)
PELLUCIDOR_HANDLE_TRAITS(FontTraits, HFONT, nullptr, ::DeleteObject)
PELLUCIDOR_HANDLE_TRAITS(RegionTraits, HRGN, nullptr, ::DeleteObject)
PELLUCIDOR_HANDLE_TRAITS(BitmapTraits, HBITMAP, nullptr, ::DeleteObject)
PELLUCIDOR_HANDLE_TRAITS(IconTraits, HICON, nullptr, ::DestroyIcon)
PELLUCIDOR_HANDLE_TRAITS(CursorTraits, HCURSOR, nullptr, ::DestroyCursor)
PELLUCIDOR_HANDLE_TRAITS(ImageListTraits, HIMAGELIST, nullptr, ::ImageList_Destroy)
PELLUCIDOR_HANDLE_TRAITS(GlobalTraits, HGLOBAL, nullptr, ::GlobalFree)
PELLUCIDOR_HANDLE_TRAITS(MenuTraits, HMENU, nullptr, ::DestroyMenu)
PELLUCIDOR_HANDLE_TRAITS(FindTraits, HANDLE, INVALID_HANDLE_VALUE, ::FindClose)
PELLUCIDOR_HANDLE_TRAITS(ModuleTraits, HMODULE, nullptr, ::FreeLibrary)
#undef PELLUCIDOR_HANDLE_TRAITS

using UniqueHwnd = UniqueAny<WindowTraits>;
using UniqueHkey = UniqueAny<KeyTraits>;
using UniqueFile = UniqueAny<FileTraits>;
using UniqueHandle = UniqueAny<HandleTraits>;
using UniqueHfont = UniqueAny<FontTraits>;
using UniqueHrgn = UniqueAny<RegionTraits>;
using UniqueHbitmap = UniqueAny<BitmapTraits>;
using UniqueHicon = UniqueAny<IconTraits>;
using UniqueHcursor = UniqueAny<CursorTraits>;
using UniqueHimagelist = UniqueAny<ImageListTraits>;
using UniqueHglobal = UniqueAny<GlobalTraits>;
using UniqueHmenu = UniqueAny<MenuTraits>;
using UniqueFind = UniqueAny<FindTraits>;
using UniqueHmodule = UniqueAny<ModuleTraits>;

}  // namespace win
