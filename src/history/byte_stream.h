// Reading and writing a file front to back through a buffer, with a CRC-32 of what went by: the
// journal's and the snapshot's files can be hundreds of megabytes, and a 32-bit process never
// holds one whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "history/storage_io.h"

namespace history {

uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);

class ByteReader {
 public:
  explicit ByteReader(InFile& in) : in_(in), size_(in.Size()) {}
  // Exactly n bytes, or false and nothing taken (fewer are left, or the read failed: Failed()).
  bool Read(void* into, size_t n);
  // n bytes passed over, each counted into crc.
  bool Skim(size_t n, uint32_t& crc);
  uint64_t Offset() const { return offset_; }
  uint64_t Left() const { return size_ - offset_; }
  bool Failed() const { return failed_; }

 private:
  bool Fill();
  InFile& in_;
  uint64_t size_;
  uint64_t offset_ = 0;  // of the next byte to take
  std::string buffer_;
  size_t at_ = 0;  // in buffer_
  bool failed_ = false;
};

class ByteWriter {
 public:
  explicit ByteWriter(OutFile& out) : out_(out) {}
  // Buffered; false once anything failed.
  bool Write(std::string_view bytes);
  bool Finish();  // writes what is buffered
  uint64_t Offset() const { return offset_ + buffer_.size(); }
  uint32_t crc = 0;  // of everything written so far

 private:
  OutFile& out_;
  uint64_t offset_ = 0;
  std::string buffer_;
  bool failed_ = false;
};

template <typename T>
void PutValue(std::string& out, T v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof(v));
}

}  // namespace history
