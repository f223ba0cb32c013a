// The columns of a task's records, taken from the runner's flattened item list, for the
// exports that the desktop calls by hand.
#pragma once

#include <vector>

#include "engine/record_output.h"
#include "task/crawl_model.h"

namespace gm {

std::vector<OutputColumn> ColumnsOf(const std::vector<CItemDef*>& items);

}  // namespace gm
