// quorvalind.extras: what users need beyond the module tree, kept apart
// from it. The submodule is entered in sys.modules only, so that the
// top-level module, its submodules and their __all__ lists are unchanged.
#include "lib/args.h"
#include "lib/bind.h"

namespace quorvalind::lib {

PyMethodDef EXTRAS_FUNCTIONS[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvalind::lib
