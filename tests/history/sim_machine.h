// A machine for the history's storage to run on in the tests: a folder whose files live in memory,
// and the stored list's value. Every mutating step is counted; at a chosen one the process dies
// (the step lands partly or not at all, and nothing later reaches the disk), or the power goes
// (files fall back to their last flush, the folder's names to its last flush, the stored list to
// what the settings store last wrote out, as Wine does every half minute). Another program may
// hold a file, the disk may fill.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "history/storage_io.h"

namespace sim {

class Machine {
 public:
  struct Node {
    std::string data, flushed;
  };
  struct Value {
    bool text = true;
    std::wstring data;
    uint64_t stamp = 0;
  };

  explicit Machine(uint32_t seed = 1) : random_(seed) {}
  std::unique_ptr<history::Folder> NewFolder();
  std::unique_ptr<history::ListValue> NewList();

  // Dies at the step after this many more (0: never), by a kill or a power cut.
  void KillAfter(uint64_t steps, bool power) {
    killAt_ = steps ? steps_ + steps : 0;
    power_ = power;
  }
  bool Dead() const { return dead_; }
  // Alive again, with what a kill or a power cut left.
  void Restart();
  void WriteOut() { writtenList = list; }  // the settings store on the disk, as Wine does
  void LoseSession() { list = writtenList; }
  bool AllFlushed() const;
  // A mutating step: false when it does not happen (dead, or dying now: then *part says how much
  // of it lands).
  bool Step(double* part = nullptr);
  uint64_t Used() const;

  uint64_t capacity = UINT64_MAX;   // bytes all files may hold
  std::set<std::wstring> noDelete;  // held by another program that lets others read and write
  std::set<std::wstring> noOpen;    // held by one that lets nobody in
  std::set<std::wstring> pending;   // deleted while held: not listed, and not to be made anew
  bool refuseNew = false;           // a volume that makes no new file
  int throwAt = 0;                  // the write that finds no memory (counted down)
  bool listUnreadable = false;
  int failListReads = 0;             // reads of a value asked for as text that fail (no memory)
  int opens = 0;                     // files opened for reading
  std::set<std::wstring> failReads;  // files whose reads fail (an I/O error, a range locked)
  uint64_t stamps = 0;
  std::optional<Value> list, writtenList;
  std::map<std::wstring, Value> kept;
  std::map<std::wstring, std::shared_ptr<Node>> names, durableNames;

 private:
  std::mt19937 random_;
  uint64_t steps_ = 0, killAt_ = 0;
  bool power_ = false, dead_ = false;
};

}  // namespace sim
