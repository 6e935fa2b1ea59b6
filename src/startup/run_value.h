// The data of the start-up entry: the program's full path, quoted when it holds a space so that
// Windows cannot take a shorter path for the program.
#pragma once

#include <string>
#include <string_view>

namespace startup {

std::wstring JoinFolderAndName(std::wstring_view folder, std::wstring_view name);
std::wstring RunValueData(std::wstring_view folder, std::wstring_view name);
// The file name part of a full path.
std::wstring FileNameOf(std::wstring_view path);

}  // namespace startup
