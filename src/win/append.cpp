#include "win/append.h"

#include <algorithm>

namespace win {

bool AppendWhole(HANDLE file, std::string_view bytes) {
  LARGE_INTEGER end{};
  if (!::GetFileSizeEx(file, &end)) return false;
  uint64_t at = static_cast<uint64_t>(end.QuadPart);
  size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD wrote = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &wrote, &where) || wrote == 0) {
      const DWORD error = ::GetLastError();
      FILE_END_OF_FILE_INFO former{end};
      (void)::SetFileInformationByHandle(file, FileEndOfFileInfo, &former, sizeof(former));
      ::SetLastError(error);
      return false;
    }
    done += wrote;
    at += wrote;
  }
  return true;
}

}  // namespace win
