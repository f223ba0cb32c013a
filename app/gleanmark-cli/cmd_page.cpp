#include "cli.h"

namespace gm::cli {

int CmdPage(const Args&) { return Fail("'page' is not available in this build yet"); }

}  // namespace gm::cli
