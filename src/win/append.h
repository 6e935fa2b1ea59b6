// Appending to a file so that it never ends in half a record: a disk that fills up mid-write leaves
// the file as it was.
#pragma once

#include <windows.h>

#include <string_view>

namespace win {

// Writes bytes at the end of file, which must be open for writing. When they cannot all be
// written, the file is cut back to its former end and the result is false.
bool AppendWhole(HANDLE file, std::string_view bytes);

}  // namespace win
