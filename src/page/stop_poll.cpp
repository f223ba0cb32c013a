#include "page/stop_poll.h"

#include "doc/tick_clock.h"

namespace gm {

CStopPoll::CStopPoll(const std::function<bool()>* check)
    : check_(check && *check ? check : nullptr) {
  if (check_) last_ms_ = TickMs();
}

bool CStopPoll::Poll() {
  if (stopped_ || !check_) return stopped_;
  int64_t now = TickMs();
  if (now - last_ms_ < kIntervalMs) return false;
  last_ms_ = now;
  try {
    stopped_ = (*check_)();
  } catch (...) {
    stopped_ = true;
  }
  return stopped_;
}

}  // namespace gm
