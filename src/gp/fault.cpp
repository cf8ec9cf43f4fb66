#include "gp/fault.h"

namespace quorvalind::gp {

void throw_index_out_of_bounds(std::size_t len, std::uint64_t index) {
  throw InternalFault("index out of bounds: the len is " + std::to_string(len) +
                      " but the index is " + std::to_string(index));
}

}  // namespace quorvalind::gp
