// The history's folder on the disk and the stored list in the settings store.
#pragma once

#include <string>

#include "history/settings.h"
#include "history/storage_io.h"

namespace history {

// %LOCALAPPDATA%\Kestrelay\Pellucidor, made when it is not there yet; empty when there is none.
std::wstring DefaultDataFolder();

class DiskFolder : public Folder {
 public:
  explicit DiskFolder(std::wstring path) : path_(std::move(path)) {}
  const std::wstring& path() const { return path_; }
  std::optional<std::vector<std::wstring>> List() override;
  std::unique_ptr<InFile> Open(const std::wstring& name, Io& why) override;
  std::unique_ptr<OutFile> Create(const std::wstring& name, Io& why) override;
  bool FlushFile(const std::wstring& name) override;
  bool Rename(const std::wstring& from, const std::wstring& to) override;
  bool Delete(const std::wstring& name) override;
  bool Flush() override;

 private:
  std::wstring Path(const std::wstring& name) const { return path_ + L"\\" + name; }
  std::wstring path_;
};

class SettingsListValue : public ListValue {
 public:
  explicit SettingsListValue(Settings settings) : settings_(std::move(settings)) {}
  ListValueInfo Query() override;
  std::optional<std::wstring> Read(Io& why) override;
  bool Store(const std::wstring& value) override;
  bool KeepAside() override;

 private:
  Settings settings_;
};

}  // namespace history
