#include "treemap/box.h"

namespace qv {

// Every node of every laid-out tree pays for one of these.
static_assert(sizeof(void*) != 8 || sizeof(Box) == 32);

TreeMapOptions defaultTreeOpts() {
  return {"white", {"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347"}};
}

}  // namespace qv
