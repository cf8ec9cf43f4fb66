// The pickle reconstructor and the flat-array functions of quorvalind.extras.
#include <limits>
#include <span>
#include <utility>
#include <variant>

#include "lib/args.h"
#include "lib/bind.h"
#include "lib/transfer.h"
#include "serial/buffers.h"

namespace quorvalind::lib {

namespace {

constexpr Signature RESTORE{"_restore()", {{"data", Kind::buffer}}};
constexpr Signature MESH_BUFFERS{"mesh_buffers()", {{"mesh", Kind::instance}}};
constexpr Signature SOLID_FROM_BUFFERS{"solid_from_buffers()",
                                       {{"vertices", Kind::buffer}, {"triangles", Kind::buffer}}};

// A new bytes object of `size` bytes filled by fill(span); nullptr with an
// error pending.
template <class F>
PyObject* new_filled_bytes(std::size_t size, F fill) {
  if (size > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max())) {
    return PyErr_NoMemory();
  }
  PyRef out(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  if (!out) return nullptr;
  fill(std::span<std::byte>(reinterpret_cast<std::byte*>(PyBytes_AsString(out.get())), size));
  return out.release();
}

PyObject* restore(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(RESTORE, args, kwargs);
    Bytes data;
    if (!a || !a.convert(data)) return nullptr;
    return std::visit([](auto&& v) { return wrap(std::move(v)); }, serial::decode(data.data));
  });
}

}  // namespace

PyObject* restore_function() {
  PyRef extras(PyImport_ImportModule("quorvalind.extras"));
  if (!extras) return nullptr;
  return PyObject_GetAttrString(extras.get(), "_restore");
}

PyObject* mesh_buffers(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MESH_BUFFERS, args, kwargs);
    const mesh::TriMesh* m = nullptr;
    if (!a || !a.convert(m)) return nullptr;
    PyRef vertices(
        new_filled_bytes(serial::VERTEX_BYTES * m->vertices.size(),
                         [&](std::span<std::byte> out) { serial::write_vertex_array(*m, out); }));
    if (!vertices) return nullptr;
    PyRef triangles(
        new_filled_bytes(serial::TRIANGLE_BYTES * m->triangles.size(),
                         [&](std::span<std::byte> out) { serial::write_triangle_array(*m, out); }));
    if (!triangles) return nullptr;
    return PyTuple_Pack(2, vertices.get(), triangles.get());
  });
}

// The arrays' counterpart of solid_from_mesh: no welding, no orientation
// repair, no index check (a bad index faults when an operation reads it). A
// length that is not whole vertices or triangles is refused rather than
// cut, since it means the caller's dtype or shape is wrong.
PyObject* solid_from_buffers(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(SOLID_FROM_BUFFERS, args, kwargs);
    Bytes vertices, triangles;
    if (!a || !a.convert(vertices, triangles)) return nullptr;
    if (vertices.data.size() % serial::VERTEX_BYTES != 0) {
      raise_partial_items("vertices", vertices.data.size(), "vertices", serial::VERTEX_BYTES);
      return nullptr;
    }
    if (triangles.data.size() % serial::TRIANGLE_BYTES != 0) {
      raise_partial_items("triangles", triangles.data.size(), "triangles", serial::TRIANGLE_BYTES);
      return nullptr;
    }
    return wrap(topods::Solid{serial::mesh_from_arrays(vertices.data, triangles.data)});
  });
}

const char MESH_BUFFERS_DOC[] =
    "mesh_buffers(mesh)\n--\n\n"
    "The mesh's vertices and triangles as two bytes objects: little-endian\n"
    "float64 x, y, z per vertex and uint64 i, j, k per triangle.";
const char SOLID_FROM_BUFFERS_DOC[] =
    "solid_from_buffers(vertices, triangles)\n--\n\n"
    "A solid from two flat arrays laid out as mesh_buffers() returns them.";

PyMethodDef EXTRAS_PRIVATE_FUNCTIONS[] = {
    {"_restore", as_cfunction(restore), METH_VARARGS | METH_KEYWORDS,
     "_restore(data)\n--\n\nThe value pickled as `data` (the reconstructor of every class)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvalind::lib
