// Vertex, Wire, Face, Compound and Solid. Wire, Face and Compound are opaque
// handles: no constructor, no members.
//
// Wrappers match and convert through a Signature, call one core function and
// wrap the result, e.g. Vertex(p):
//
//   Args a(VERTEX_NEW, args, kwargs);
//   const gp::Pnt* p = nullptr;
//   if (!a || !a.convert(p)) return nullptr;
//   return wrap(topods::Vertex{*p});
#include <cmath>
#include <string>

#include "gp/text_format.h"
#include "lib/args.h"
#include "lib/transfer.h"

namespace quorvalind::lib {

namespace {

// ---- Vertex

constexpr Signature VERTEX_NEW{"Vertex.__new__()", {{"p", Kind::instance}}};

PyObject* vertex_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(VERTEX_NEW, args, kwargs);
    const gp::Pnt* p = nullptr;
    if (!a || !a.convert(p)) return nullptr;
    return wrap(topods::Vertex{*p});
  });
}

PyObject* vertex_point(PyObject* self, void*) {
  return guarded([&] { return wrap(value_of<topods::Vertex>(self).point); });
}

PyMethodDef VERTEX_METHODS[] = {
    QUORVALIND_PICKLE_METHODS(topods::Vertex),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef VERTEX_GETSET[] = {
    {"point", vertex_point, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot VERTEX_SLOTS[] = {
    {Py_tp_doc, slot_doc("Vertex(p)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(vertex_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<topods::Vertex>)},
    {Py_tp_methods, VERTEX_METHODS},
    {Py_tp_getset, VERTEX_GETSET},
    {0, nullptr},
};

// ---- Wire, Face, Compound (no members beyond pickling and copying)

PyMethodDef WIRE_METHODS[] = {
    QUORVALIND_PICKLE_METHODS(topods::Wire),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot WIRE_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<topods::Wire>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<topods::Wire>)},
    {Py_tp_methods, WIRE_METHODS},
    {0, nullptr},
};

PyMethodDef FACE_METHODS[] = {
    QUORVALIND_PICKLE_METHODS(topods::Face),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot FACE_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<topods::Face>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<topods::Face>)},
    {Py_tp_methods, FACE_METHODS},
    {0, nullptr},
};

PyMethodDef COMPOUND_METHODS[] = {
    QUORVALIND_PICKLE_METHODS(topods::Compound),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot COMPOUND_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<topods::Compound>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<topods::Compound>)},
    {Py_tp_methods, COMPOUND_METHODS},
    {0, nullptr},
};

// ---- Solid

const topods::Solid& solid(PyObject* self) { return value_of<topods::Solid>(self); }

PyObject* solid_volume(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(topods::volume(solid(self))); });
}

PyObject* solid_mesh(PyObject* self, PyObject*) {
  return guarded([&] { return wrap(solid(self).mesh); });
}

PyObject* solid_repr(PyObject* self) {
  return guarded([&] {
    std::string s = "Solid(volume=";
    gp::append_fixed(s, std::fabs(topods::volume(solid(self))), 4);
    s += ')';
    return new_str(s);
  });
}

PyMethodDef SOLID_METHODS[] = {
    {"volume", solid_volume, METH_NOARGS, "volume($self)\n--\n\n"},
    {"mesh", solid_mesh, METH_NOARGS, "mesh($self)\n--\n\n"},
    QUORVALIND_PICKLE_METHODS(topods::Solid),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SOLID_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<topods::Solid>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<topods::Solid>)},
    {Py_tp_repr, reinterpret_cast<void*>(solid_repr)},
    {Py_tp_methods, SOLID_METHODS},
    {0, nullptr},
};

}  // namespace

PyType_Spec VERTEX_SPEC = {"quorvalind.topods.Vertex", sizeof(Instance<topods::Vertex>), 0,
                           CLASS_FLAGS, VERTEX_SLOTS};
PyType_Spec WIRE_SPEC = {"quorvalind.topods.Wire", sizeof(Instance<topods::Wire>), 0, CLASS_FLAGS,
                         WIRE_SLOTS};
PyType_Spec FACE_SPEC = {"quorvalind.topods.Face", sizeof(Instance<topods::Face>), 0, CLASS_FLAGS,
                         FACE_SLOTS};
PyType_Spec COMPOUND_SPEC = {"quorvalind.topods.Compound", sizeof(Instance<topods::Compound>), 0,
                             CLASS_FLAGS, COMPOUND_SLOTS};
PyType_Spec SOLID_SPEC = {"quorvalind.topods.Solid", sizeof(Instance<topods::Solid>), 0,
                          CLASS_FLAGS, SOLID_SLOTS};

}  // namespace quorvalind::lib
