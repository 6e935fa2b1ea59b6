#include "history/disk_io.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "win/unique.h"

namespace history {
namespace {

Io IoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Io::kAbsent;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Io::kExists;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Io::kHeld;
    case ERROR_ACCESS_DENIED:
      return Io::kDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Io::kFull;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Io::kNoMemory;
    default:
      return Io::kFailed;
  }
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

constexpr DWORD kChunk = 1u << 30;

class DiskInFile : public InFile {
 public:
  DiskInFile(win::UniqueFile f, uint64_t size) : f_(std::move(f)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t at, void* into, size_t n, size_t& got) override {
    OVERLAPPED o = At(at);
    DWORD read = 0;
    got = 0;
    if (!::ReadFile(f_.get(), into, static_cast<DWORD>(std::min<size_t>(n, kChunk)), &read, &o)) return false;
    got = read;
    return true;
  }

 private:
  win::UniqueFile f_;
  uint64_t size_;
};

class DiskOutFile : public OutFile {
 public:
  explicit DiskOutFile(win::UniqueFile f) : f_(std::move(f)) {}
  bool WriteAt(uint64_t at, const void* bytes, size_t n) override {
    const auto* p = static_cast<const char*>(bytes);
    while (n > 0) {
      OVERLAPPED o = At(at);
      DWORD wrote = 0;
      if (!::WriteFile(f_.get(), p, static_cast<DWORD>(std::min<size_t>(n, kChunk)), &wrote, &o) ||
          wrote == 0)
        return false;
      p += wrote;
      n -= wrote;
      at += wrote;
    }
    return true;
  }
  bool Flush() override { return ::FlushFileBuffers(f_.get()) != FALSE; }

 private:
  win::UniqueFile f_;
};

}  // namespace

std::wstring DefaultDataFolder() {
  PWSTR local = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local))) folder = local;
  ::CoTaskMemFree(local);
  if (folder.empty()) return {};
  folder += L"\\Kestrelay\\Pellucidor";
  (void)::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);  // may be there already
  return folder;
}

std::optional<std::vector<std::wstring>> DiskFolder::List() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  const win::UniqueFind find(::FindFirstFileW(Path(L"*").c_str(), &found));
  if (!find) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return names;
    return std::nullopt;
  }
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (::FindNextFileW(find.get(), &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES ? std::optional(names) : std::nullopt;
}

std::unique_ptr<InFile> DiskFolder::Open(const std::wstring& name, Io& why) {
  win::UniqueFile f(::CreateFileW(Path(name).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (!f || !::GetFileSizeEx(f.get(), &size)) {
    why = IoOf(::GetLastError());
    return nullptr;
  }
  why = Io::kOk;
  return std::make_unique<DiskInFile>(std::move(f), static_cast<uint64_t>(size.QuadPart));
}

std::unique_ptr<OutFile> DiskFolder::Create(const std::wstring& name, Io& why) {
  // Shared for reading and deleting: another start may read it, and a fold may rename beside it.
  win::UniqueFile f(::CreateFileW(Path(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) {
    why = IoOf(::GetLastError());
    return nullptr;
  }
  why = Io::kOk;
  return std::make_unique<DiskOutFile>(std::move(f));
}

bool DiskFolder::FlushFile(const std::wstring& name) {
  const win::UniqueFile f(::CreateFileW(Path(name).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  return f && ::FlushFileBuffers(f.get());
}

bool DiskFolder::Rename(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(Path(from).c_str(), Path(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool DiskFolder::Delete(const std::wstring& name) {
  return ::DeleteFileW(Path(name).c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool DiskFolder::Flush() {
  const win::UniqueFile folder(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return folder && ::FlushFileBuffers(folder.get());
}

ListValueInfo SettingsListValue::Query() {
  const SettingInfo s = settings_.Query(L"Files");
  ListValueInfo info;
  info.bytes = s.bytes;
  info.stamp = s.stamp;
  switch (s.state) {
    case SettingInfo::kAbsent:
      info.kind = ListValueInfo::kAbsent;
      break;
    case SettingInfo::kFound:
      info.kind = s.text ? ListValueInfo::kText : ListValueInfo::kOther;
      break;
    case SettingInfo::kUnreadable:
      info.kind = ListValueInfo::kUnreadable;
      info.why = IoOf(s.error);
      break;
  }
  return info;
}

std::optional<std::wstring> SettingsListValue::Read(Io& why) {
  SettingRead read = settings_.Read(L"Files");
  why = read.state == SettingRead::kUnreadable ? Io::kFailed : Io::kOk;
  if (read.state != SettingRead::kFound) return std::nullopt;
  return std::move(read.value);
}

bool SettingsListValue::Store(const std::wstring& value) {
  return settings_.Save(L"Files", value);
}

bool SettingsListValue::KeepAside() {
  return settings_.KeepAside(L"Files");
}

}  // namespace history
