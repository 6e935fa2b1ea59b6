#include "history/sim_machine.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sim {
namespace {

using history::Io;
using NodePtr = std::shared_ptr<Machine::Node>;

class In : public history::InFile {
 public:
  explicit In(NodePtr node, bool fail = false) : node_(std::move(node)), fail_(fail) {}
  uint64_t Size() const override { return node_->data.size(); }
  bool ReadAt(uint64_t at, void* into, size_t n, size_t& got) override {
    if (fail_) return got = 0, false;
    got = at < node_->data.size() ? std::min<size_t>(n, node_->data.size() - at) : 0;
    std::memcpy(into, node_->data.data() + at, got);
    return true;
  }

 private:
  NodePtr node_;
  bool fail_;
};

class Out : public history::OutFile {
 public:
  Out(Machine& m, NodePtr node) : m_(m), node_(std::move(node)) {}
  bool WriteAt(uint64_t at, const void* bytes, size_t n) override {
    if (m_.throwAt > 0 && --m_.throwAt == 0) throw std::bad_alloc();
    double part = 1;
    if (!m_.Step(&part)) n = static_cast<size_t>(n * part);
    const uint64_t grows = at + n > node_->data.size() ? at + n - node_->data.size() : 0;
    const uint64_t room = m_.capacity > m_.Used() ? m_.capacity - m_.Used() : 0;
    const size_t fits = grows <= room ? n : n - static_cast<size_t>(grows - room);  // a short write
    if (node_->data.size() < at + fits) node_->data.resize(at + fits);
    std::memcpy(node_->data.data() + at, bytes, fits);
    return part == 1 && fits == n && !m_.Dead();
  }
  bool Flush() override { return m_.Step() && (node_->flushed = node_->data, true); }

 private:
  Machine& m_;
  NodePtr node_;
};

class Folder : public history::Folder {
 public:
  explicit Folder(Machine& m) : m_(m) {}
  std::optional<std::vector<std::wstring>> List() override {
    std::vector<std::wstring> names;
    for (const auto& [name, node] : m_.names) names.push_back(name);
    return names;
  }
  std::unique_ptr<history::InFile> Open(const std::wstring& name, Io& why) override {
    const auto it = m_.names.find(name);
    if (++m_.opens > 100000) m_.noOpen.clear();  // a start that never ends: let it end
    why = it == m_.names.end() ? Io::kAbsent : m_.noOpen.count(name) ? Io::kHeld : Io::kOk;
    return why == Io::kOk ? std::make_unique<In>(it->second, m_.failReads.count(name) > 0) : nullptr;
  }
  std::unique_ptr<history::OutFile> Create(const std::wstring& name, Io& why) override {
    why = m_.names.count(name) || m_.pending.count(name) ? Io::kExists : m_.refuseNew ? Io::kFull : Io::kOk;
    if (why == Io::kOk && !m_.Step()) why = Io::kFailed;
    if (why != Io::kOk) return nullptr;
    return std::make_unique<Out>(m_, m_.names[name] = std::make_shared<Machine::Node>());
  }
  bool FlushFile(const std::wstring& name) override {
    const auto it = m_.names.find(name);
    return it != m_.names.end() && !m_.noOpen.count(name) && m_.Step() &&
           (it->second->flushed = it->second->data, true);
  }
  // A rename or delete the process dies in happens or not.
  bool Rename(const std::wstring& from, const std::wstring& to) override {
    const auto it = m_.names.find(from);
    if (it == m_.names.end() || m_.names.count(to) || Held(from) || !Lands()) return false;
    m_.names[to] = it->second;
    m_.names.erase(from);
    return !m_.Dead();
  }
  bool Delete(const std::wstring& name) override {
    if (!m_.names.count(name)) return true;
    if (Held(name) || !Lands()) return false;
    m_.names.erase(name);
    return !m_.Dead();
  }
  bool Flush() override { return m_.Step() && (m_.durableNames = m_.names, true); }

 private:
  bool Held(const std::wstring& name) const { return m_.noDelete.count(name) || m_.noOpen.count(name); }
  bool Lands() {
    double part = 1;
    return m_.Step(&part) || part >= 0.5;
  }
  Machine& m_;
};

class List : public history::ListValue {
 public:
  explicit List(Machine& m) : m_(m) {}
  history::ListValueInfo Query() override {
    if (m_.listUnreadable) return {history::ListValueInfo::kUnreadable, 0, Io::kDenied};
    if (!m_.list) return {};
    return {m_.list->text ? history::ListValueInfo::kText : history::ListValueInfo::kOther,
            (m_.list->data.size() + m_.list->text) * sizeof(wchar_t), Io::kOk, m_.list->stamp};
  }
  std::optional<std::wstring> Read(Io& why) override {
    if (m_.failListReads > 0) return --m_.failListReads, why = Io::kNoMemory, std::nullopt;
    why = m_.listUnreadable ? Io::kDenied : Io::kOk;
    if (m_.listUnreadable || !m_.list || !m_.list->text) return std::nullopt;
    return m_.list->data;
  }
  bool Store(const std::wstring& value) override {
    if (m_.listUnreadable) return false;  // denied to everyone
    double part = 1;
    if (!m_.Step(&part) && part < 0.5) return false;
    m_.list = Machine::Value{true, value, ++m_.stamps};
    return !m_.Dead();
  }
  bool KeepAside() override {
    if (!m_.list || !m_.Step()) return false;
    m_.kept[L"Files.kept." + std::to_wstring(std::hash<std::wstring>()(m_.list->data))] = *m_.list;
    return true;
  }

 private:
  Machine& m_;
};

}  // namespace

std::unique_ptr<history::Folder> Machine::NewFolder() {
  return std::make_unique<Folder>(*this);
}

std::unique_ptr<history::ListValue> Machine::NewList() {
  return std::make_unique<List>(*this);
}

bool Machine::Step(double* part) {
  double lands = dead_ ? 0 : 1;
  if (!dead_ && killAt_ != 0 && ++steps_ >= killAt_) {
    dead_ = true;
    lands = std::uniform_real_distribution<double>(0, 1)(random_);
  }
  if (part) *part = lands;
  return !dead_;
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
  return names == durableNames && std::all_of(names.begin(), names.end(), [](const auto& n) {
           return n.second->data == n.second->flushed;
         });
}

}  // namespace sim
