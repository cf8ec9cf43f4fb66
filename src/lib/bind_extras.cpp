// quorvalind.extras: what users need beyond the module tree, kept apart
// from it. The submodule is entered in sys.modules only, so that the
// top-level module, its submodules and their __all__ lists are unchanged.
#include <algorithm>
#include <cstdint>

#include "lib/args.h"
#include "lib/bind.h"
#include "lib/transfer.h"
#include "gp/workers.h"
#include "simplify/simplify.h"

namespace quorvalind::lib {

namespace {

constexpr Signature SIMPLIFY{"simplify()", {{"solid", Kind::instance}}};

PyObject* simplify(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(SIMPLIFY, args, kwargs);
    const topods::Solid* solid = nullptr;
    if (!a || !a.convert(solid)) return nullptr;
    return wrap(topods::Solid{simplify::simplify(solid->mesh)});
  });
}

constexpr Signature SET_THREADS{"set_threads()", {{"count", Kind::count}}};

PyObject* set_threads(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(SET_THREADS, args, kwargs);
    std::uint64_t count = 0;
    if (!a || !a.convert(count)) return nullptr;
    gp::set_worker_threads(static_cast<unsigned>(std::min<std::uint64_t>(count, 0xffffffffu)));
    Py_RETURN_NONE;
  });
}

PyObject* threads(PyObject*, PyObject*) {
  return guarded([&]() -> PyObject* { return PyLong_FromUnsignedLong(gp::worker_threads()); });
}

constexpr int KW = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef EXTRAS_FUNCTIONS[] = {
    {"simplify", as_cfunction(simplify), KW,
     "simplify(solid)\n--\n\n"
     "The same solid in few triangles, every edge shared by two of them.\n\n"
     "Coplanar pieces are merged into plane regions and filled again from\n"
     "their outlines; vertices on other triangles' edges (T-junctions), inside\n"
     "a region or on a straight boundary between two regions disappear. No\n"
     "vertex is created or moved and no surface point moves by more than\n"
     "1e-6, so the volume stays the same. Use it after a boolean, before the\n"
     "next one or an export. Returns a new Solid; the argument is unchanged."},
    {"set_threads", as_cfunction(set_threads), KW,
     "set_threads(count)\n--\n\n"
     "Sets how many threads a boolean may use; 0 goes back to the default:\n"
     "QUORVALIND_THREADS from the environment when it holds a positive number,\n"
     "else the processors this process may run on. Results are the same, bit\n"
     "for bit, for every count."},
    {"threads", as_cfunction(threads), METH_NOARGS,
     "threads()\n--\n\nHow many threads a boolean may use (see set_threads)."},
    {"mesh_buffers", as_cfunction(mesh_buffers), KW, MESH_BUFFERS_DOC},
    {"solid_from_buffers", as_cfunction(solid_from_buffers), KW, SOLID_FROM_BUFFERS_DOC},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvalind::lib
