#pragma once
// Module-level function tables, one per submodule, each in registration
// order and closed by an empty entry. The top-level module registers them
// in the order prim, builder, algo, io.
#include "lib/py_ref.h"

namespace quorvalind::lib {

extern PyMethodDef PRIM_FUNCTIONS[];
extern PyMethodDef BUILDER_FUNCTIONS[];
extern PyMethodDef ALGO_FUNCTIONS[];
extern PyMethodDef IO_FUNCTIONS[];

}  // namespace quorvalind::lib
