// Appending to a file so that it never ends in half a record: a disk that fills up mid-write leaves
// the file as it was.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace win {

// One record appended in pieces, written as they come (a huge record need not be gathered in
// memory first). Unless every piece was written and Commit called, the file is cut back to the
// end it had when the append began.
class WholeAppend {
 public:
  explicit WholeAppend(HANDLE file);
  ~WholeAppend();
  WholeAppend(const WholeAppend&) = delete;
  WholeAppend& operator=(const WholeAppend&) = delete;

  // False once any piece failed; later pieces are then not written.
  bool Write(std::string_view bytes);
  // True when every piece was written; otherwise the file is cut back now.
  bool Commit();
  uint64_t Written() const { return at_ - start_; }

 private:
  void CutBack();
  HANDLE file_;
  uint64_t start_ = 0, at_ = 0;
  bool ok_ = false, done_ = false;
};

// Writes bytes at the end of file, which must be open for writing. When they cannot all be
// written, the file is cut back to its former end and the result is false.
bool AppendWhole(HANDLE file, std::string_view bytes);

}  // namespace win
