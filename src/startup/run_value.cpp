#include "startup/run_value.h"

namespace startup {

std::wstring JoinFolderAndName(std::wstring_view folder, std::wstring_view name) {
  std::wstring path(folder);
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += name;
  return path;
}

std::wstring RunValueData(std::wstring_view folder, std::wstring_view name) {
  const std::wstring path = JoinFolderAndName(folder, name);
  return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

std::wstring FileNameOf(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

}  // namespace startup
