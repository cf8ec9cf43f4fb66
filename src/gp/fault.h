#pragma once
// The core's one failure type: an internal consistency check failed.
// The binding layer turns it into the module's internal-fault exception.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quorvalind::gp {

class InternalFault : public std::runtime_error {
 public:
  explicit InternalFault(const std::string& message) : std::runtime_error(message) {}
};

// "index out of bounds: the len is {} but the index is {}"
[[noreturn]] void throw_index_out_of_bounds(std::size_t len, std::uint64_t index);

// Checks one triangle index against a vertex count.
inline void check_index(std::uint64_t index, std::size_t len) {
  if (index >= len) throw_index_out_of_bounds(len, index);
}

}  // namespace quorvalind::gp
