// STL and STEP writers. They take a TriMesh (from Solid.mesh()) and return
// the file contents: bytes for binary STL, str for the text formats.
//
// A wrapper converts its arguments through its Signature, calls the core
// writer and hands back its std::string as bytes (new_bytes) or str
// (new_str). Wiring a stub is one line: replace
//     return not_implemented(WRITE_STEP);
// by the call written in the comment under it, e.g.
//     return new_str(mesh_io::write_step(*mesh, name));
// (and include the core header).
#include <string>

#include "lib/args.h"
#include "lib/bind.h"

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
    return not_implemented(WRITE_BINARY_STL);
    // return new_bytes(mesh_io::write_binary_stl(*mesh));
  });
}

PyObject* write_ascii_stl(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(WRITE_ASCII_STL, args, kwargs);
    const mesh::TriMesh* mesh = nullptr;
    std::string name;
    if (!a || !a.convert(mesh, name)) return nullptr;
    return not_implemented(WRITE_ASCII_STL);
    // return new_str(mesh_io::write_ascii_stl(*mesh, name));
  });
}

PyObject* write_step(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(WRITE_STEP, args, kwargs);
    const mesh::TriMesh* mesh = nullptr;
    std::string name;
    if (!a || !a.convert(mesh, name)) return nullptr;
    return not_implemented(WRITE_STEP);
    // return new_str(mesh_io::write_step(*mesh, name));
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
