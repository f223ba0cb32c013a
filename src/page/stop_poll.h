// CStopPoll: a stop check asked from inside long loops of the page builder, at most once every
// kIntervalMs however often the loop asks, so that the check (the runner's message pump) costs
// nothing measurable and a stop still ends the work within about that time.
//
// Once the check has said stop, the poll stays stopped. A check that throws counts as a stop:
// polls are asked from inside gumbo's C frames, which no exception may cross. One thread.
#pragma once

#include <cstdint>
#include <functional>

namespace gm {

class CStopPoll {
 public:
  static constexpr int kIntervalMs = 50;

  // `check` may be null or empty (the poll never stops); it must outlive the poll.
  explicit CStopPoll(const std::function<bool()>* check);

  // Asks the check when kIntervalMs have passed since the last time; true once it said stop.
  bool Poll();
  // True once the check said stop (asks nothing).
  bool Stopped() const { return stopped_; }
  bool Active() const { return check_ != nullptr; }

 private:
  const std::function<bool()>* check_;
  int64_t last_ms_ = 0;
  bool stopped_ = false;
};

}  // namespace gm
