// Every network test runs with its own data folder, so that the cookie jar and the page cache
// never touch the user's files.
#include <cstdlib>

#include "test_server.h"

namespace {
const bool kDataFolderSet = [] {
  setenv("XDG_DATA_HOME", gm::test::MakeTempFolder().c_str(), 1);
  return true;
}();
}  // namespace
