#include "cli.h"

namespace gm::cli {

int CmdFetch(const Args&) { return Fail("'fetch' is not available in this build yet"); }

}  // namespace gm::cli
