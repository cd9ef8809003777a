#include "base/output.h"

#include <algorithm>

namespace qv {

void Output::flush() {
  if (used_ == 0) return;
  // Empty the buffer first: if the sink throws, nothing is written twice.
  const std::size_t n = used_;
  used_ = 0;
  sink_.take(buffer_, n);
}

void Output::writeSlow(std::string_view s) {
  while (!s.empty()) {
    if (used_ == capacity_) flush();
    const std::size_t n = std::min(s.size(), capacity_ - used_);
    std::memcpy(buffer_.get() + used_, s.data(), n);
    used_ += n;
    s.remove_prefix(n);
  }
}

void Output::fillSlow(char c, std::size_t n) {
  while (n > 0) {
    if (used_ == capacity_) flush();
    const std::size_t k = std::min(n, capacity_ - used_);
    std::memset(buffer_.get() + used_, c, k);
    used_ += k;
    n -= k;
  }
}

}  // namespace qv
