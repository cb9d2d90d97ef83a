#include "printer/output_queue.h"

#include <algorithm>

namespace opos {

size_t OutputQueue::CompleteJobLength() const {
  for (size_t i = 0; i < records_.size(); ++i) {
    if (records_[i]->OutputID != 0) return i + 1;
  }
  return 0;
}

void OutputQueue::RemoveHead(size_t n) {
  records_.erase(records_.begin(),
                 records_.begin() + static_cast<std::ptrdiff_t>(std::min(n, records_.size())));
}

void OutputQueue::KeepHead(size_t n) {
  if (n < records_.size()) records_.resize(n);
}

}  // namespace opos
