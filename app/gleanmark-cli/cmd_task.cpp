#include "cli.h"

namespace gm::cli {

int CmdTask(const Args&) { return Fail("'task' is not available in this build yet"); }

}  // namespace gm::cli
