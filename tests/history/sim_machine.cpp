#include "history/sim_machine.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sim {
namespace {

class SimIn : public history::InFile {
 public:
  explicit SimIn(std::shared_ptr<Machine::Node> node) : node_(std::move(node)) {}
  uint64_t Size() const override { return node_->data.size(); }
  bool ReadAt(uint64_t at, void* into, size_t n, size_t& got) override {
    got = at < node_->data.size() ? std::min<size_t>(n, node_->data.size() - at) : 0;
    if (got) std::memcpy(into, node_->data.data() + at, got);
    return true;
  }

 private:
  std::shared_ptr<Machine::Node> node_;
};

class SimOut : public history::OutFile {
 public:
  SimOut(Machine& m, std::shared_ptr<Machine::Node> node) : m_(m), node_(std::move(node)) {}
  bool WriteAt(uint64_t at, const void* bytes, size_t n) override {
    if (m_.throwAt > 0 && --m_.throwAt == 0) throw std::bad_alloc();
    double part = 1;
    if (!m_.Step(&part)) n = static_cast<size_t>(n * part);
    const uint64_t grows = at + n > node_->data.size() ? at + n - node_->data.size() : 0;
    const uint64_t room = m_.capacity > m_.Used() ? m_.capacity - m_.Used() : 0;
    const size_t fits = grows <= room ? n : n - static_cast<size_t>(grows - room);  // a short write
    if (node_->data.size() < at + fits) node_->data.resize(at + fits);
    if (fits) std::memcpy(node_->data.data() + at, bytes, fits);
    return part == 1 && fits == n && !m_.Dead();
  }
  bool Flush() override {
    if (!m_.Step()) return false;
    node_->flushed = node_->data;
    return true;
  }

 private:
  Machine& m_;
  std::shared_ptr<Machine::Node> node_;
};

class SimFolder : public history::Folder {
 public:
  explicit SimFolder(Machine& m) : m_(m) {}
  std::optional<std::vector<std::wstring>> List() override {
    std::vector<std::wstring> names;
    for (const auto& [name, node] : m_.names) names.push_back(name);
    return names;
  }
  std::unique_ptr<history::InFile> Open(const std::wstring& name, Io& why) override {
    const auto it = m_.names.find(name);
    why = it == m_.names.end() ? Io::kAbsent : m_.noOpen.count(name) ? Io::kHeld : Io::kOk;
    return why == Io::kOk ? std::make_unique<SimIn>(it->second) : nullptr;
  }
  std::unique_ptr<history::OutFile> Create(const std::wstring& name, Io& why) override {
    why = m_.names.count(name) || m_.pending.count(name) ? Io::kExists : m_.refuseNew ? Io::kFull : Io::kOk;
    if (why == Io::kOk && !m_.Step()) why = Io::kFailed;
    if (why != Io::kOk) return nullptr;
    const auto node = std::make_shared<Machine::Node>();
    m_.names[name] = node;
    return std::make_unique<SimOut>(m_, node);
  }
  bool FlushFile(const std::wstring& name) override {
    const auto it = m_.names.find(name);
    if (it == m_.names.end() || m_.noOpen.count(name) || !m_.Step()) return false;
    it->second->flushed = it->second->data;
    return true;
  }
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    const auto it = m_.names.find(from);
    if (it == m_.names.end() || m_.names.count(to) || m_.noDelete.count(from) || m_.noOpen.count(from))
      return false;
    double part = 1;
    if (!m_.Step(&part) && part < 0.5) return false;
    m_.names[to] = it->second;
    m_.names.erase(from);
    return !m_.Dead();
  }
  bool Delete(const std::wstring& name) override {
    if (!m_.names.count(name)) return true;
    if (m_.noDelete.count(name) || m_.noOpen.count(name)) return false;
    double part = 1;
    if (!m_.Step(&part) && part < 0.5) return false;
    m_.names.erase(name);
    return !m_.Dead();
  }
  bool Flush() override {
    if (!m_.Step()) return false;
    m_.durableNames = m_.names;
    return true;
  }

 private:
  Machine& m_;
};

class SimList : public history::ListValue {
 public:
  explicit SimList(Machine& m) : m_(m) {}
  history::ListValueInfo Query() override {
    history::ListValueInfo info;
    if (m_.listUnreadable) return {history::ListValueInfo::kUnreadable, 0, Io::kDenied};
    if (!m_.list_) return info;
    info.kind = m_.list_->text ? history::ListValueInfo::kText : history::ListValueInfo::kOther;
    info.bytes = (m_.list_->data.size() + m_.list_->text) * sizeof(wchar_t);
    info.stamp = m_.list_->stamp;
    return info;
  }
  std::optional<std::wstring> Read(Io& why) override {
    why = m_.listUnreadable ? Io::kDenied : Io::kOk;
    if (m_.listUnreadable || !m_.list_ || !m_.list_->text) return std::nullopt;
    return m_.list_->data;
  }
  bool Store(const std::wstring& value) override {
    double part = 1;
    if (!m_.Step(&part) && part < 0.5) return false;
    m_.list_ = Machine::Value{true, value, ++m_.stamps};
    return !m_.Dead();
  }
  bool KeepAside() override {
    if (!m_.list_) return false;
    const std::wstring name = L"Files.kept." + std::to_wstring(std::hash<std::wstring>()(m_.list_->data));
    if (!m_.Step()) return false;
    m_.kept[name] = *m_.list_;
    return true;
  }

 private:
  Machine& m_;
};

}  // namespace

std::unique_ptr<history::Folder> Machine::NewFolder() {
  return std::make_unique<SimFolder>(*this);
}

std::unique_ptr<history::ListValue> Machine::NewList() {
  return std::make_unique<SimList>(*this);
}

bool Machine::Step(double* partly) {
  if (dead_) {
    if (partly) *partly = 0;
    return false;
  }
  ++steps_;
  if (killAt_ == 0 || steps_ < killAt_) return true;
  dead_ = true;
  if (partly) *partly = std::uniform_real_distribution<double>(0, 1)(random_);
  return false;
}

uint64_t Machine::Used() const {
  uint64_t used = 0;
  for (const auto& [name, node] : names) used += node->data.size();
  return used;
}

void Machine::Restart() {
  if (!dead_) return;
  if (power_) {
    names = durableNames;
    for (auto& [name, node] : names) node->data = node->flushed;
    LoseSession();
  }
  dead_ = false;
  killAt_ = 0;
}

bool Machine::AllFlushed() const {
  if (names != durableNames) return false;
  for (const auto& [name, node] : names)
    if (node->data != node->flushed) return false;
  return true;
}

}  // namespace sim
