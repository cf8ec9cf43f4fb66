// Boolean operations on solids.
//
// A wrapper converts its arguments through its Signature (fuse_all's list
// arrives as a std::vector<topods::Solid> copy), calls one core operation
// and wraps the resulting Solid. The core runs its tree work on a csg
// thread; while this thread waits it checks for signals, so Ctrl-C (or any
// signal handler that raises) stops the operation: the core then throws
// bsp::Interrupted, which translate_exception() turns into "return NULL
// with the handler's exception still set".
#include <vector>

#include "brep_algo_api/booleans.h"
#include "bsp/csg.h"
#include "lib/args.h"
#include "lib/bind.h"

namespace quorvalind::lib {

namespace {

constexpr Signature FUSE{"fuse()", {{"a", Kind::instance}, {"b", Kind::instance}}};
constexpr Signature CUT{"cut()", {{"a", Kind::instance}, {"b", Kind::instance}}};
constexpr Signature COMMON{"common()", {{"a", Kind::instance}, {"b", Kind::instance}}};
constexpr Signature FUSE_ALL{"fuse_all()", {{"solids", Kind::sequence}}};

// Runs pending signal handlers; true when one raised (its exception is then
// the pending Python error).
bool signal_raised() { return PyErr_CheckSignals() == -1; }

const bsp::WaitCallback& check_signals() {
  static const bsp::WaitCallback callback = signal_raised;
  return callback;
}

PyObject* fuse(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(FUSE, args, kwargs);
    const topods::Solid* a = nullptr;
    const topods::Solid* b = nullptr;
    if (!m || !m.convert(a, b)) return nullptr;
    return wrap(brep_algo_api::fuse(*a, *b, check_signals()));
  });
}

PyObject* cut(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(CUT, args, kwargs);
    const topods::Solid* a = nullptr;
    const topods::Solid* b = nullptr;
    if (!m || !m.convert(a, b)) return nullptr;
    return wrap(brep_algo_api::cut(*a, *b, check_signals()));
  });
}

PyObject* common(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(COMMON, args, kwargs);
    const topods::Solid* a = nullptr;
    const topods::Solid* b = nullptr;
    if (!m || !m.convert(a, b)) return nullptr;
    return wrap(brep_algo_api::common(*a, *b, check_signals()));
  });
}

PyObject* fuse_all(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(FUSE_ALL, args, kwargs);
    std::vector<topods::Solid> solids;
    if (!m || !m.convert(solids)) return nullptr;
    return wrap(brep_algo_api::fuse_all(solids, check_signals()));
  });
}

constexpr int KW = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef ALGO_FUNCTIONS[] = {
    {"fuse", as_cfunction(fuse), KW, "fuse(a, b)\n--\n\n"},
    {"cut", as_cfunction(cut), KW, "cut(a, b)\n--\n\n"},
    {"common", as_cfunction(common), KW, "common(a, b)\n--\n\n"},
    {"fuse_all", as_cfunction(fuse_all), KW, "fuse_all(solids)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
namespace {
PyObject* classification_count(PyObject*, PyObject*) {
  return PyLong_FromUnsignedLongLong(bsp::classification_count());
}
// The engine switch lives only here, in the benchmark build's private
// module: the public module tree and every ordinary build always run the
// fast engine, and C++ tests reach the literal one through run_csg.
PyObject* use_literal_engine(PyObject*, PyObject* flag) {
  const int literal = PyObject_IsTrue(flag);
  if (literal < 0) return nullptr;
  bsp::set_bench_engine(literal ? bsp::Engine::Literal : bsp::Engine::Fast);
  Py_RETURN_NONE;
}
PyMethodDef BENCH_FUNCTIONS[] = {
    {"classification_count", classification_count, METH_NOARGS,
     "classification_count()\n--\n\nVertex classifications of the BSP engine so far."},
    {"use_literal_engine", use_literal_engine, METH_O,
     "use_literal_engine(flag)\n--\n\nRun later booleans on the literal engine (True) or the fast "
     "one."},
    {nullptr, nullptr, 0, nullptr},
};
PyModuleDef BENCH_DEF = {PyModuleDef_HEAD_INIT,
                         "quorvalind._bench",
                         "",
                         0,
                         BENCH_FUNCTIONS,
                         nullptr,
                         nullptr,
                         nullptr,
                         nullptr};
}  // namespace

// Benchmark builds only: a private module "quorvalind._bench", entered in
// sys.modules and nowhere else, so the public module tree is unchanged.
bool add_bench_module() {
  PyRef bench(PyModule_Create(&BENCH_DEF));
  if (!bench) return false;
  return PyDict_SetItemString(PyImport_GetModuleDict(), "quorvalind._bench", bench.get()) == 0;
}
#endif

}  // namespace quorvalind::lib
