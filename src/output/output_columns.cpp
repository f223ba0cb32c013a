#include "output/output_columns.h"

namespace gm {

std::vector<OutputColumn> ColumnsOf(const std::vector<CItemDef*>& items) {
  std::vector<OutputColumn> columns;
  columns.reserve(items.size());
  for (const CItemDef* item : items) columns.push_back({item->name, item->type});
  return columns;
}

}  // namespace gm
