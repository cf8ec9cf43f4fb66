// STL and STEP writers. They take a TriMesh (from Solid.mesh()) and return
// the file contents: bytes for binary STL, str for the text formats.
//
// A wrapper converts its arguments through its Signature, calls the core
// writer and hands back its std::string as bytes (new_bytes) or str
// (new_str).
#include <string>

#include "lib/args.h"
#include "lib/bind.h"
#include "mesh_io/step.h"
#include "mesh_io/stl.h"

namespace quorvalind::lib {

namespace {

constexpr Signature WRITE_BINARY_STL{"write_binary_stl()", {{"mesh", Kind::instance}}};
constexpr Signature WRITE_ASCII_STL{"write_ascii_stl()",
                                    {{"mesh", Kind::instance}, {"name", Kind::text}}};
constexpr Signature WRITE_STEP{"write_step()", {{"mesh", Kind::instance}, {"name", Kind::text}}};

PyObject* write_binary_stl(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(WRITE_BINARY_STL, args, kwargs);
    const mesh::TriMesh* mesh = nullptr;
    if (!a || !a.convert(mesh)) return nullptr;
    // Written straight into the bytes object: a file of a million triangles
    // is 50 MB, and a copy of it would cost about as much as the weld.
    PyRef bytes;
    mesh_io::write_binary_stl_into(*mesh, [&bytes](std::size_t size) -> char* {
      bytes = PyRef(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
      return bytes ? PyBytes_AsString(bytes.get()) : nullptr;
    });
    return bytes.release();
  });
}

PyObject* write_ascii_stl(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(WRITE_ASCII_STL, args, kwargs);
    const mesh::TriMesh* mesh = nullptr;
    std::string name;
    if (!a || !a.convert(mesh, name)) return nullptr;
    return new_str(mesh_io::write_ascii_stl(*mesh, name));
  });
}

PyObject* write_step(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(WRITE_STEP, args, kwargs);
    const mesh::TriMesh* mesh = nullptr;
    std::string name;
    if (!a || !a.convert(mesh, name)) return nullptr;
    return new_str(mesh_io::write_step(*mesh, name));
  });
}

constexpr int KW = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef IO_FUNCTIONS[] = {
    {"write_binary_stl", as_cfunction(write_binary_stl), KW, "write_binary_stl(mesh)\n--\n\n"},
    {"write_ascii_stl", as_cfunction(write_ascii_stl), KW, "write_ascii_stl(mesh, name)\n--\n\n"},
    {"write_step", as_cfunction(write_step), KW, "write_step(mesh, name)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvalind::lib
