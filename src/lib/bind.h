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
// quorvalind.extras, entered in sys.modules only (no attribute of the
// top-level module, no __all__ entry there).
extern PyMethodDef EXTRAS_FUNCTIONS[];
// Private names of quorvalind.extras (the pickle reconstructor): attributes
// without an __all__ entry.
extern PyMethodDef EXTRAS_PRIVATE_FUNCTIONS[];

#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
// Benchmark builds only: enters "quorvalind._bench" in sys.modules.
bool add_bench_module();
#endif

}  // namespace quorvalind::lib
