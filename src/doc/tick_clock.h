// The one tick count of the program: milliseconds of the monotonic clock, for time-outs and
// waits in every layer. Any thread may call it.
#pragma once

#include <cstdint>

namespace gm {

int64_t TickMs();

}  // namespace gm
