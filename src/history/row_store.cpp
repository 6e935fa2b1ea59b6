#include "history/row_store.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace history {

std::wstring_view RowTypeLabel(RowType type) {
  switch (type) {
    case RowType::Text:
      return L"Text";
    case RowType::RichText:
      return L"RichText";
    case RowType::None:
      break;
  }
  return L"";
}

RowStore::~RowStore() {
  pins_ = 0;
  Clear();
  for (void* block : kept_) win::TextBlock::Free(block);
}

size_t RowStore::Add(std::wstring_view text, RowType type) {
  return Add(win::TextBlock(text), type);
}

size_t RowStore::Add(win::TextBlock&& text, RowType type) {
  // Grow ahead of push_back, so that nothing can fail once the text is indexed.
  if (rows_.size() == rows_.capacity()) rows_.reserve(rows_.empty() ? 16 : rows_.capacity() * 2);
  ++index_[text.view()];
  rows_.push_back({text.release(), type});
  ++changes_;
  return rows_.size() - 1;
}

void RowStore::Reserve(size_t rows) {
  rows_.reserve(rows);
  index_.reserve(rows);
}

std::wstring_view RowStore::Text(size_t index) const {
  return View(rows_[index].block);
}

void RowStore::MakeRoomToRemove(size_t count) {
  if (pins_ > 0 && kept_.capacity() - kept_.size() < count)
    kept_.reserve(kept_.size() + std::max(count, kept_.size() + 16));
}

void RowStore::Remove(size_t index) {
  MakeRoomToRemove(1);  // may throw: nothing has changed yet
  void* b = rows_[index].block;
  const std::wstring_view text = View(b);
  auto it = index_.find(text);
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  ++changes_;
  if (it != index_.end()) {
    const bool keyIsThisBlock = it->first.data() == text.data();
    if (--it->second == 0) {
      index_.erase(it);
    } else if (keyIsThisBlock) {
      // The key borrows this row's text: it borrows another row's copy before this one goes
      // (moved as it is, so that nothing is allocated).
      for (const Row& r : rows_) {
        if (View(r.block) == text) {
          auto node = index_.extract(it);
          node.key() = View(r.block);
          index_.insert(std::move(node));
          break;
        }
      }
    }
  }
  Free(b);
}

void RowStore::Free(void* block) {
  if (pins_ == 0) {
    win::TextBlock::Free(block);
    return;
  }
  kept_.push_back(block);  // room made before the row went
}

std::vector<std::wstring_view> RowStore::Pin() {
  std::vector<std::wstring_view> texts;
  texts.reserve(rows_.size());
  for (const Row& r : rows_) texts.push_back(View(r.block));
  ++pins_;
  return texts;
}

void RowStore::Unpin() {
  if (pins_ == 0 || --pins_ > 0) return;
  for (void* block : kept_) win::TextBlock::Free(block);
  kept_.clear();
}

void RowStore::Clear() {
  MakeRoomToRemove(rows_.size());  // may throw: nothing changed yet
  index_.clear();
  for (Row& r : rows_) Free(r.block);
  rows_.clear();
  ++changes_;
}

}  // namespace history
