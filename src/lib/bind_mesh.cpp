// TriMesh and BBox. No constructors: a TriMesh comes from Solid.mesh(), and
// nothing creates a BBox yet.
//
// Wrappers take their receiver's value and call one core function:
//
//   PyObject* tri_mesh_volume(PyObject* self, PyObject*) {
//     return guarded([&] { return PyFloat_FromDouble(mesh::volume(tri_mesh(self))); });
//   }
#include <limits>
#include <string>

#include "lib/args.h"
#include "lib/transfer.h"

namespace quorvalind::lib {

namespace {

// ---- TriMesh

const mesh::TriMesh& tri_mesh(PyObject* self) { return value_of<mesh::TriMesh>(self); }

// A list of 3 * n items from make_item(i) for i in [0, 3n).
template <class F>
PyObject* flat_list(std::size_t n, F make_item) {
  if (n > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max()) / 3) {
    return PyErr_NoMemory();
  }
  PyRef list(PyList_New(static_cast<Py_ssize_t>(3 * n)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < 3 * n; ++i) {
    PyObject* item = make_item(i);
    if (!item) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

PyObject* tri_mesh_num_vertices(PyObject* self, void*) {
  return PyLong_FromSize_t(tri_mesh(self).vertices.size());
}

PyObject* tri_mesh_num_triangles(PyObject* self, void*) {
  return PyLong_FromSize_t(tri_mesh(self).triangles.size());
}

PyObject* tri_mesh_volume(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(mesh::volume(tri_mesh(self))); });
}

PyObject* tri_mesh_vertices_flat(PyObject* self, PyObject*) {
  return guarded([&] {
    const auto& v = tri_mesh(self).vertices;
    return flat_list(v.size(), [&](std::size_t i) {
      const gp::Pnt& p = v[i / 3];
      const std::size_t c = i % 3;
      return PyFloat_FromDouble(c == 0 ? p.x : (c == 1 ? p.y : p.z));
    });
  });
}

PyObject* tri_mesh_triangles_flat(PyObject* self, PyObject*) {
  return guarded([&] {
    const auto& t = tri_mesh(self).triangles;
    return flat_list(t.size(),
                     [&](std::size_t i) { return PyLong_FromUnsignedLongLong(t[i / 3][i % 3]); });
  });
}

PyObject* tri_mesh_repr(PyObject* self) {
  return guarded([&] {
    const mesh::TriMesh& m = tri_mesh(self);
    const std::string s = "TriMesh(vertices=" + std::to_string(m.vertices.size()) +
                          ", triangles=" + std::to_string(m.triangles.size()) + ")";
    return new_str(s);
  });
}

PyMethodDef TRI_MESH_METHODS[] = {
    {"volume", tri_mesh_volume, METH_NOARGS, "volume($self)\n--\n\n"},
    {"vertices_flat", tri_mesh_vertices_flat, METH_NOARGS,
     "vertices_flat($self)\n--\n\nFlat `[x0, y0, z0, x1, y1, z1, ...]` vertex buffer."},
    {"triangles_flat", tri_mesh_triangles_flat, METH_NOARGS,
     "triangles_flat($self)\n--\n\nFlat `[i0, j0, k0, i1, j1, k1, ...]` triangle index buffer."},
    QUORVALIND_PICKLE_METHODS(mesh::TriMesh),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef TRI_MESH_GETSET[] = {
    {"num_vertices", tri_mesh_num_vertices, nullptr, nullptr, nullptr},
    {"num_triangles", tri_mesh_num_triangles, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot TRI_MESH_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<mesh::TriMesh>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<mesh::TriMesh>)},
    {Py_tp_repr, reinterpret_cast<void*>(tri_mesh_repr)},
    {Py_tp_methods, TRI_MESH_METHODS},
    {Py_tp_getset, TRI_MESH_GETSET},
    {0, nullptr},
};

// ---- BBox

PyObject* bbox_volume(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(gp::volume(value_of<gp::BBox>(self))); });
}

PyMethodDef BBOX_METHODS[] = {
    {"volume", bbox_volume, METH_NOARGS, "volume($self)\n--\n\n"},
    QUORVALIND_PICKLE_METHODS(gp::BBox),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot BBOX_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<gp::BBox>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<gp::BBox>)},
    {Py_tp_methods, BBOX_METHODS},
    {0, nullptr},
};

}  // namespace

PyType_Spec TRI_MESH_SPEC = {"quorvalind.mesh.TriMesh", sizeof(Instance<mesh::TriMesh>), 0,
                             CLASS_FLAGS, TRI_MESH_SLOTS};
PyType_Spec BBOX_SPEC = {"quorvalind.mesh.BBox", sizeof(Instance<gp::BBox>), 0, CLASS_FLAGS,
                         BBOX_SLOTS};

}  // namespace quorvalind::lib
