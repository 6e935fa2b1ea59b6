#include "win/system_program.h"

#include <windows.h>

namespace win {
namespace {

using FolderFn = UINT(WINAPI*)(LPWSTR, UINT);

std::wstring Folder(FolderFn get) {
  std::wstring path(MAX_PATH, L'\0');
  UINT n = get(path.data(), static_cast<UINT>(path.size()));
  if (n >= path.size()) {
    path.resize(n);
    n = get(path.data(), static_cast<UINT>(path.size()));
  }
  path.resize(n < path.size() ? n : 0);
  return path;
}

}  // namespace

std::wstring SystemProgramPath(std::wstring_view fileName) {
  for (const FolderFn get : {&::GetSystemDirectoryW, &::GetWindowsDirectoryW}) {
    std::wstring path = Folder(get);
    if (path.empty()) continue;
    if (path.back() != L'\\') path += L'\\';
    path += fileName;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return path;
  }
  return {};
}

}  // namespace win
