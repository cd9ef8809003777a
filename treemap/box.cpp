#include "treemap/box.h"

namespace qv {

TreeMapOptions defaultTreeOpts() {
  return {"white", {"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347"}};
}

}  // namespace qv
