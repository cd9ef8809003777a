#include "treemap/box.h"

#include "tree/numbering.h"

namespace qv {

std::int32_t BoxForest::boId(NodeIndex b, std::size_t depth) const {
  return tree2ltree(*tree_, b, depth);
}

TreeMapOptions defaultTreeOpts() {
  return {"white", {"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347"}};
}

}  // namespace qv
