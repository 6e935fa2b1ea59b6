#include "history/journal_writer.h"

#include "history/recovery.h"

namespace history {

JournalWriter::JournalWriter(Folder& folder, JournalHeader header)
    : folder_(folder), header_(header), waiting_(EncodeJournalHeader(header)) {}

bool JournalWriter::Open() {
  if (file_) return true;
  for (int attempt = 0; attempt < 4 && !file_; ++attempt) {
    Io why = Io::kOk;
    file_ = folder_.Create(JournalName(header_.generation), why);
    if (file_ || why != Io::kExists) break;
    // A name still held by a file being deleted: the next generation, whose header says so.
    ++header_.generation;
    waiting_.replace(0, kJournalHeaderBytes, EncodeJournalHeader(header_));
  }
  return file_ && WriteWaiting() && file_->Flush();
}

bool JournalWriter::WriteWaiting() {
  if (waiting_.empty()) return true;
  if (!file_->WriteAt(end_, waiting_.data(), waiting_.size())) return false;
  end_ += waiting_.size();
  waiting_.clear();
  return true;
}

void JournalWriter::Append(JournalOp op, uint32_t position, std::wstring_view text) {
  const std::string head = JournalRecordHead(op, position, text);
  const std::string tail = JournalRecordTail(header_.seed, head, text);
  if ((file_ || Open()) && WriteWaiting()) {
    // Written from where the text lies: a huge text is not copied into a record first.
    const std::string_view body = JournalRecordBody(text);
    if (file_->WriteAt(end_, head.data(), head.size()) &&
        file_->WriteAt(end_ + head.size(), body.data(), body.size()) &&
        file_->WriteAt(end_ + head.size() + body.size(), tail.data(), tail.size())) {
      end_ += head.size() + body.size() + tail.size();
      ++records_;
      return;
    }
  }
  waiting_.reserve(waiting_.size() + head.size() + text.size() * sizeof(wchar_t) + tail.size());
  waiting_ += head;
  waiting_ += JournalRecordBody(text);
  waiting_ += tail;
  ++records_;
}

bool JournalWriter::Flush() {
  return (file_ || Open()) && WriteWaiting() && file_->Flush();
}

}  // namespace history
