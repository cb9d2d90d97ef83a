// Queued printer output: COutputRecord and the OutputQueue list. A job is a
// run of records up to and including the first one with a non-zero OutputID.
//
// OutputQueue takes no lock of its own; its owner holds OutputQueueLock
// around every call. Records are shared so that the worker can write one
// after releasing the lock while ClearOutput or a release drops the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "common/opos_ptr.h"

namespace opos {

struct COutputRecord {
  std::string data;  // the command bytes, any length
  int32_t station = PTR_S_RECEIPT;
  int32_t OutputID = 0;  // 0: the next record continues the job
  // A GS * define block: pixel bytes are never searched for stored-bitmap
  // escapes, and writing it replaces the printer's downloaded image.
  bool image = false;
};

class OutputQueue {
 public:
  using Record = std::shared_ptr<const COutputRecord>;

  void Append(Record record) { records_.push_back(std::move(record)); }
  [[nodiscard]] bool Empty() const { return records_.empty(); }
  [[nodiscard]] size_t Size() const { return records_.size(); }
  [[nodiscard]] const Record& At(size_t i) const { return records_.at(i); }

  // Records of the first job when its last record is queued; 0 while the
  // head job is still incomplete or the queue is empty.
  [[nodiscard]] size_t CompleteJobLength() const;
  // Removes up to n records from the head.
  void RemoveHead(size_t n);
  // Keeps the first n records, drops the rest.
  void KeepHead(size_t n);
  void Clear() { records_.clear(); }

 private:
  std::deque<Record> records_;
};

}  // namespace opos
