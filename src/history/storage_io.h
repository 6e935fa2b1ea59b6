// What the history's storage asks of the machine: one folder of its own files, and the stored
// list's value ("Files") in the settings store. The program uses the disk and the registry
// (disk_io.h); the tests use a machine of their own that can be killed at any step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace history {

// Why something could not be done. Held, denied and no memory may pass: what is not read because
// of them is read again at the next start.
enum class Io { kOk, kAbsent, kExists, kHeld, kDenied, kFull, kNoMemory, kFailed };

class InFile {
 public:
  virtual ~InFile() = default;
  virtual uint64_t Size() const = 0;
  // Up to n bytes from at; got says how many (0 at the end). False when the read failed.
  virtual bool ReadAt(uint64_t at, void* into, size_t n, size_t& got) = 0;
};

class OutFile {
 public:
  virtual ~OutFile() = default;
  // True when every byte was written; after a false some of them may have been.
  virtual bool WriteAt(uint64_t at, const void* bytes, size_t n) = 0;
  // On the disk itself, not only in the system's cache.
  virtual bool Flush() = 0;
};

class Folder {
 public:
  virtual ~Folder() = default;
  // Every file's name; nothing when the folder cannot be read.
  virtual std::optional<std::vector<std::wstring>> List() = 0;
  virtual std::unique_ptr<InFile> Open(const std::wstring& name, Io& why) = 0;
  // A file that is not there yet; never one that is.
  virtual std::unique_ptr<OutFile> Create(const std::wstring& name, Io& why) = 0;
  // Flushes a file written earlier (perhaps by a run that was killed) to the disk.
  virtual bool FlushFile(const std::wstring& name) = 0;
  // Never over a file that is there.
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;
  virtual bool Delete(const std::wstring& name) = 0;
  // The folder's entries on the disk: creations and renames survive a power cut once this is true.
  virtual bool Flush() = 0;
};

// The stored list's value as asked for, without reading it.
struct ListValueInfo {
  enum Kind { kAbsent, kText, kOther, kUnreadable } kind = kAbsent;
  uint64_t bytes = 0;
  Io why = Io::kOk;
  // Changes with every write to the settings store's section: equal, nothing wrote there since.
  uint64_t stamp = 0;
};

class ListValue {
 public:
  virtual ~ListValue() = default;
  virtual ListValueInfo Query() = 0;
  virtual std::optional<std::wstring> Read(Io& why) = 0;
  virtual bool Store(const std::wstring& value) = 0;
  // Copies the value as it is, whatever its type, beside it under a name its bytes give
  // ("Files.kept.<hash>"), so that keeping it again keeps nothing more.
  virtual bool KeepAside() = 0;
};

}  // namespace history
