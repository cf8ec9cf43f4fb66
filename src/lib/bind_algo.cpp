// Boolean operations on solids.
//
// A wrapper converts its arguments through its Signature (fuse_all's list
// arrives as a std::vector<topods::Solid> copy), calls one core operation
// and wraps the resulting Solid. Wiring a stub is one line: replace
//     return not_implemented(FUSE);
// by the call written in the comment under it, e.g.
//     return wrap(brep_algo_api::fuse(*a, *b));
// (and include the core header; pass the operation whatever wait callback
// it takes, and map its own exception types in translate_exception()).
#include <vector>

#include "lib/args.h"
#include "lib/bind.h"

namespace quorvalind::lib {

namespace {

constexpr Signature FUSE{"fuse()", {{"a", Kind::instance}, {"b", Kind::instance}}};
constexpr Signature CUT{"cut()", {{"a", Kind::instance}, {"b", Kind::instance}}};
constexpr Signature COMMON{"common()", {{"a", Kind::instance}, {"b", Kind::instance}}};
constexpr Signature FUSE_ALL{"fuse_all()", {{"solids", Kind::sequence}}};

PyObject* fuse(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(FUSE, args, kwargs);
    const topods::Solid* a = nullptr;
    const topods::Solid* b = nullptr;
    if (!m || !m.convert(a, b)) return nullptr;
    return not_implemented(FUSE);
    // return wrap(brep_algo_api::fuse(*a, *b));
  });
}

PyObject* cut(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(CUT, args, kwargs);
    const topods::Solid* a = nullptr;
    const topods::Solid* b = nullptr;
    if (!m || !m.convert(a, b)) return nullptr;
    return not_implemented(CUT);
    // return wrap(brep_algo_api::cut(*a, *b));
  });
}

PyObject* common(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(COMMON, args, kwargs);
    const topods::Solid* a = nullptr;
    const topods::Solid* b = nullptr;
    if (!m || !m.convert(a, b)) return nullptr;
    return not_implemented(COMMON);
    // return wrap(brep_algo_api::common(*a, *b));
  });
}

PyObject* fuse_all(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args m(FUSE_ALL, args, kwargs);
    std::vector<topods::Solid> solids;
    if (!m || !m.convert(solids)) return nullptr;
    return not_implemented(FUSE_ALL);
    // return wrap(brep_algo_api::fuse_all(solids));
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

}  // namespace quorvalind::lib
