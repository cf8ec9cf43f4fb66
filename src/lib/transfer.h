#pragma once
// Values that leave the process or the module: pickling and copying of every
// binding class, and meshes as flat byte arrays (quorvalind.extras).
//
// A pickle is (quorvalind.extras._restore, (data,)), where data is the
// value's serialised form (serial/codec.h): pickle finds the reconstructor
// by that qualified name, and importing quorvalind registers it, so a fresh
// process can unpickle without importing anything first.
#include <limits>
#include <span>

#include "lib/errors.h"
#include "lib/types.h"
#include "serial/codec.h"

namespace quorvalind::lib {

// The reconstructor object itself (pickle refuses a look-alike); a new
// reference, or nullptr with an error pending.
PyObject* restore_function();

template <class T>
PyObject* reduce(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const T& v = value_of<T>(self);
    const std::size_t size = serial::encoded_size(v);
    if (size > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max())) {
      return PyErr_NoMemory();
    }
    PyRef data(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    if (!data) return nullptr;
    // A bytes object is filled in place until it is shared.
    auto* out = reinterpret_cast<std::byte*>(PyBytes_AsString(data.get()));
    serial::encode_into(v, std::span<std::byte>(out, size));
    PyRef fn(restore_function());
    if (!fn) return nullptr;
    return Py_BuildValue("O(O)", fn.get(), data.get());
  });
}

// Values never change, but a copy is still a new object: equality is
// identity, and a result never shares storage with an argument.
template <class T>
PyObject* copy_value(PyObject* self, PyObject*) {
  return guarded([&] { return wrap(T(value_of<T>(self))); });
}

template <class T>
PyObject* deepcopy_value(PyObject* self, PyObject* /*memo*/) {
  return copy_value<T>(self, nullptr);
}

inline constexpr const char REDUCE_DOC[] =
    "__reduce__($self, /)\n--\n\n"
    "Pickle support: the value as versioned, checksummed bytes and the function that "
    "restores it.";
inline constexpr const char COPY_DOC[] = "__copy__($self, /)\n--\n\nA new object holding a copy.";
inline constexpr const char DEEPCOPY_DOC[] =
    "__deepcopy__($self, memo, /)\n--\n\nA new object holding a copy.";

// The three entries in each class's method table (a macro: an aggregate
// initialiser cannot splice in entries any other way).
// clang-format off
#define QUORVALIND_PICKLE_METHODS(T)                                                         \
  {"__reduce__", ::quorvalind::lib::reduce<T>, METH_NOARGS, ::quorvalind::lib::REDUCE_DOC},  \
  {"__copy__", ::quorvalind::lib::copy_value<T>, METH_NOARGS, ::quorvalind::lib::COPY_DOC},  \
  {"__deepcopy__", ::quorvalind::lib::deepcopy_value<T>, METH_O, ::quorvalind::lib::DEEPCOPY_DOC}
// clang-format on

// quorvalind.extras functions (entries in EXTRAS_FUNCTIONS).
PyObject* mesh_buffers(PyObject*, PyObject* args, PyObject* kwargs);
PyObject* solid_from_buffers(PyObject*, PyObject* args, PyObject* kwargs);
extern const char MESH_BUFFERS_DOC[];
extern const char SOLID_FROM_BUFFERS_DOC[];

}  // namespace quorvalind::lib
