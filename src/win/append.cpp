#include "win/append.h"

#include <algorithm>

namespace win {

WholeAppend::WholeAppend(HANDLE file) : file_(file) {
  LARGE_INTEGER end{};
  ok_ = ::GetFileSizeEx(file, &end) != FALSE;
  start_ = at_ = static_cast<uint64_t>(end.QuadPart);
}

WholeAppend::~WholeAppend() {
  if (!done_) CutBack();
}

bool WholeAppend::Write(std::string_view bytes) {
  size_t done = 0;
  while (ok_ && done < bytes.size()) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at_);
    where.OffsetHigh = static_cast<DWORD>(at_ >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD wrote = 0;
    if (!::WriteFile(file_, bytes.data() + done, chunk, &wrote, &where) || wrote == 0) {
      ok_ = false;
      break;
    }
    done += wrote;
    at_ += wrote;
  }
  return ok_;
}

bool WholeAppend::Commit() {
  if (!ok_) CutBack();
  done_ = true;
  return ok_;
}

void WholeAppend::CutBack() {
  if (done_ || at_ == start_) return;
  const DWORD error = ::GetLastError();
  FILE_END_OF_FILE_INFO former{};
  former.EndOfFile.QuadPart = static_cast<LONGLONG>(start_);
  (void)::SetFileInformationByHandle(file_, FileEndOfFileInfo, &former, sizeof(former));
  at_ = start_;
  ::SetLastError(error);
}

bool AppendWhole(HANDLE file, std::string_view bytes) {
  WholeAppend append(file);
  (void)append.Write(bytes);
  return append.Commit();
}

}  // namespace win
