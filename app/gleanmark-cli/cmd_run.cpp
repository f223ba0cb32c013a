#include "cli.h"

namespace gm::cli {

int CmdRun(const Args&) { return Fail("'run' is not available in this build yet"); }

}  // namespace gm::cli
