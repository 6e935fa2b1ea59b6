#include "history/history.h"

#include "win/report.h"

namespace history {

History::History(std::unique_ptr<Folder> folder, std::unique_ptr<ListValue> list,
                 HistoryStore::Options options)
    : folder_(std::move(folder)), list_(std::move(list)), store_(*folder_, *list_, std::move(options)) {}

void History::Load() {
  store_.Load(rows_);
  Changed(HistoryObserver::Change::kLoaded, 0);
}

size_t History::Add(win::TextBlock&& text, RowType type) {
  const size_t position = rows_.Count() + 1;
  store_.Record(JournalOp::Add, static_cast<uint32_t>(position), text.view());
  try {
    rows_.Add(std::move(text), type);
  } catch (...) {
    // Journaled but not listed: journaled away again, or a replay would list one row more.
    try {
      store_.Record(JournalOp::Remove, static_cast<uint32_t>(position), {});
    } catch (...) {
      win::ReportCaught(L"taking back a change");
    }
    throw;
  }
  Changed(HistoryObserver::Change::kAdded, position);
  return position;
}

void History::Remove(size_t position) {
  if (!IsRow(position)) return;
  rows_.MakeRoomToRemove(1);  // whatever may fail, before the change is journaled
  store_.Record(JournalOp::Remove, static_cast<uint32_t>(position), {});
  Changing(HistoryObserver::Change::kRemoved);
  rows_.Remove(position - 1);
  Changed(HistoryObserver::Change::kRemoved, position);
}

void History::Clear() {
  rows_.MakeRoomToRemove(rows_.Count());
  store_.Record(JournalOp::Clear, 0, {});
  Changing(HistoryObserver::Change::kCleared);
  rows_.Clear();
  Changed(HistoryObserver::Change::kCleared, 0);
}

void History::SetType(size_t position, RowType type) {
  if (!IsRow(position)) return;
  rows_.SetType(position - 1, type);
  Changed(HistoryObserver::Change::kTyped, position);
}

}  // namespace history
