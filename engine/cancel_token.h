// A job's stop request. The front end makes one for each job and keeps it
// for its Stop button or signal handler; the job looks at it between
// probes of the search and after each block of a write. Setting it is
// safe from any thread and from a signal handler.
#pragma once

#include <atomic>

namespace vantlebld {

class TCancelToken {
 public:
  void Cancel() { requested_.store(true, std::memory_order_relaxed); }
  bool Requested() const { return requested_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> requested_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
};

}  // namespace vantlebld
