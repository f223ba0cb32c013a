#include "doc/tick_clock.h"

#include <chrono>

namespace gm {

int64_t TickMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace gm
