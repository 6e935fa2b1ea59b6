// The history list: its rows and their persistence in one place. Every change goes through here,
// journaled before it is made to the rows, so that what a kill leaves on disk is always a state
// the rows were in. The list's window observes the changes.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "history/history_store.h"
#include "history/row_store.h"
#include "history/storage_io.h"
#include "win/text_block.h"

namespace history {

class HistoryObserver {
 public:
  enum class Change { kAdded, kRemoved, kCleared, kTyped, kLoaded };
  virtual ~HistoryObserver() = default;
  // Before the rows change (not for an added row).
  virtual void Changing(Change change) = 0;
  // position: 1-based, of the row added, removed or typed.
  virtual void Changed(Change change, size_t position) = 0;
};

class History {
 public:
  History(std::unique_ptr<Folder> folder, std::unique_ptr<ListValue> list, HistoryStore::Options options);
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  void SetObserver(HistoryObserver* observer) { observer_ = observer; }
  // The list as the folder and the stored list hold it.
  void Load();
  // Positions are 1-based, as the window counts rows; one outside 1..Count() is ignored.
  size_t Add(win::TextBlock&& text, RowType type = RowType::None);
  size_t Add(std::wstring_view text, RowType type = RowType::None) { return Add(win::TextBlock(text), type); }
  void Remove(size_t position);
  void Clear();
  void SetType(size_t position, RowType type);
  // Stores the list as it is now in the settings store (at close).
  bool Store() { return store_.Store(rows_); }
  // What the store asked for through its wake: called on the window's thread.
  void Work() { store_.Work(rows_); }
  bool Partial() const { return store_.Partial(); }
  bool Journaled() const { return store_.Journaled(); }
  bool OnOwnFiles() const { return store_.OnOwnFiles(); }

  size_t Count() const { return rows_.Count(); }
  bool Contains(std::wstring_view text) const { return rows_.Contains(text); }
  std::wstring_view Text(size_t position) const {
    return IsRow(position) ? rows_.Text(position - 1) : std::wstring_view();
  }
  RowType Type(size_t position) const { return IsRow(position) ? rows_.Type(position - 1) : RowType::None; }
  const RowStore& Rows() const { return rows_; }

 private:
  bool IsRow(size_t position) const { return position >= 1 && position <= rows_.Count(); }
  void Changing(HistoryObserver::Change change) {
    if (observer_) observer_->Changing(change);
  }
  void Changed(HistoryObserver::Change change, size_t position) {
    if (observer_) observer_->Changed(change, position);
  }

  std::unique_ptr<Folder> folder_;
  std::unique_ptr<ListValue> list_;
  RowStore rows_;
  HistoryStore store_;  // after the rows: a fold that reads them is joined before they go
  HistoryObserver* observer_ = nullptr;
};

}  // namespace history
