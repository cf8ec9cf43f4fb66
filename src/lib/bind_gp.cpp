// Pnt, Ax1 and Trsf.
//
// Every wrapper has the same shape: match and convert the arguments through
// its Signature, call one core function, wrap the result:
//
//   constexpr Signature PNT_DOT{"Pnt.dot()", {{"o", Kind::instance}}};
//   PyObject* pnt_dot(PyObject* self, PyObject* args, PyObject* kwargs) {
//     return guarded([&]() -> PyObject* {
//       Args a(PNT_DOT, args, kwargs);
//       const gp::Pnt* o = nullptr;
//       if (!a || !a.convert(o)) return nullptr;
//       return PyFloat_FromDouble(gp::dot(value_of<gp::Pnt>(self), *o));
//     });
//   }
#include <string>

#include "gp/text_format.h"
#include "lib/args.h"
#include "lib/transfer.h"

namespace quorvalind::lib {

namespace {

// ---- Pnt

constexpr Signature PNT_NEW{"Pnt.__new__()",
                            {{"x", Kind::number}, {"y", Kind::number}, {"z", Kind::number}}};
constexpr Signature PNT_DOT{"Pnt.dot()", {{"o", Kind::instance}}};
constexpr Signature PNT_CROSS{"Pnt.cross()", {{"o", Kind::instance}}};
constexpr Signature PNT_DISTANCE{"Pnt.distance()", {{"o", Kind::instance}}};

const gp::Pnt& pnt(PyObject* self) { return value_of<gp::Pnt>(self); }

PyObject* pnt_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(PNT_NEW, args, kwargs);
    double x = 0, y = 0, z = 0;
    if (!a || !a.convert(x, y, z)) return nullptr;
    return wrap(gp::Pnt{x, y, z});
  });
}

PyObject* pnt_origin(PyObject*, PyObject*) {
  return guarded([&] { return wrap(gp::Pnt{0.0, 0.0, 0.0}); });
}

PyObject* pnt_dot(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(PNT_DOT, args, kwargs);
    const gp::Pnt* o = nullptr;
    if (!a || !a.convert(o)) return nullptr;
    return PyFloat_FromDouble(gp::dot(pnt(self), *o));
  });
}

PyObject* pnt_cross(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(PNT_CROSS, args, kwargs);
    const gp::Pnt* o = nullptr;
    if (!a || !a.convert(o)) return nullptr;
    return wrap(gp::cross(pnt(self), *o));
  });
}

PyObject* pnt_norm(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(gp::norm(pnt(self))); });
}

PyObject* pnt_distance(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(PNT_DISTANCE, args, kwargs);
    const gp::Pnt* o = nullptr;
    if (!a || !a.convert(o)) return nullptr;
    return PyFloat_FromDouble(gp::distance(pnt(self), *o));
  });
}

PyObject* pnt_as_tuple(PyObject* self, PyObject*) {
  return guarded([&] {
    const gp::Pnt& p = pnt(self);
    return Py_BuildValue("(ddd)", p.x, p.y, p.z);
  });
}

PyObject* pnt_repr(PyObject* self) {
  return guarded([&] {
    const gp::Pnt& p = pnt(self);
    std::string s = "Pnt(";
    gp::append_shortest(s, p.x);
    s += ", ";
    gp::append_shortest(s, p.y);
    s += ", ";
    gp::append_shortest(s, p.z);
    s += ')';
    return new_str(s);
  });
}

PyObject* pnt_x(PyObject* self, void*) { return PyFloat_FromDouble(pnt(self).x); }
PyObject* pnt_y(PyObject* self, void*) { return PyFloat_FromDouble(pnt(self).y); }
PyObject* pnt_z(PyObject* self, void*) { return PyFloat_FromDouble(pnt(self).z); }

PyMethodDef PNT_METHODS[] = {
    {"origin", pnt_origin, METH_NOARGS | METH_STATIC, "origin()\n--\n\n"},
    {"dot", as_cfunction(pnt_dot), METH_VARARGS | METH_KEYWORDS, "dot($self, o)\n--\n\n"},
    {"cross", as_cfunction(pnt_cross), METH_VARARGS | METH_KEYWORDS, "cross($self, o)\n--\n\n"},
    {"norm", pnt_norm, METH_NOARGS, "norm($self)\n--\n\n"},
    {"distance", as_cfunction(pnt_distance), METH_VARARGS | METH_KEYWORDS,
     "distance($self, o)\n--\n\n"},
    {"as_tuple", pnt_as_tuple, METH_NOARGS, "as_tuple($self)\n--\n\n"},
    QUORVALIND_PICKLE_METHODS(gp::Pnt),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef PNT_GETSET[] = {
    {"x", pnt_x, nullptr, nullptr, nullptr},
    {"y", pnt_y, nullptr, nullptr, nullptr},
    {"z", pnt_z, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot PNT_SLOTS[] = {
    {Py_tp_doc, slot_doc("Pnt(x, y, z)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(pnt_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<gp::Pnt>)},
    {Py_tp_repr, reinterpret_cast<void*>(pnt_repr)},
    {Py_tp_methods, PNT_METHODS},
    {Py_tp_getset, PNT_GETSET},
    {0, nullptr},
};

// ---- Ax1

constexpr Signature AX1_NEW{"Ax1.__new__()",
                            {{"location", Kind::instance}, {"direction", Kind::instance}}};

PyObject* ax1_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(AX1_NEW, args, kwargs);
    const gp::Pnt* location = nullptr;
    const gp::Pnt* direction = nullptr;
    if (!a || !a.convert(location, direction)) return nullptr;
    return wrap(gp::make_ax1(*location, *direction));
  });
}

PyObject* ax1_oz(PyObject*, PyObject*) {
  return guarded([&] { return wrap(gp::ax1_oz()); });
}

PyObject* ax1_location(PyObject* self, void*) {
  return guarded([&] { return wrap(value_of<gp::Ax1>(self).location); });
}

PyObject* ax1_direction(PyObject* self, void*) {
  return guarded([&] { return wrap(value_of<gp::Ax1>(self).direction); });
}

PyMethodDef AX1_METHODS[] = {
    {"oz", ax1_oz, METH_NOARGS | METH_STATIC, "oz()\n--\n\n"},
    QUORVALIND_PICKLE_METHODS(gp::Ax1),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef AX1_GETSET[] = {
    {"location", ax1_location, nullptr, nullptr, nullptr},
    {"direction", ax1_direction, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot AX1_SLOTS[] = {
    {Py_tp_doc, slot_doc("Ax1(location, direction)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(ax1_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<gp::Ax1>)},
    {Py_tp_methods, AX1_METHODS},
    {Py_tp_getset, AX1_GETSET},
    {0, nullptr},
};

// ---- Trsf

constexpr Signature TRSF_TRANSLATION{"Trsf.translation()", {{"v", Kind::instance}}};
constexpr Signature TRSF_ROTATION{"Trsf.rotation()",
                                  {{"axis", Kind::instance}, {"angle", Kind::number}}};
constexpr Signature TRSF_SCALE_UNIFORM{"Trsf.scale_uniform()", {{"f", Kind::number}}};
constexpr Signature TRSF_SCALE_XYZ{
    "Trsf.scale_xyz()", {{"fx", Kind::number}, {"fy", Kind::number}, {"fz", Kind::number}}};
constexpr Signature TRSF_THEN{"Trsf.then()", {{"outer", Kind::instance}}};
constexpr Signature TRSF_APPLY_POINT{"Trsf.apply_point()", {{"p", Kind::instance}}};

PyObject* trsf_translation(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRSF_TRANSLATION, args, kwargs);
    const gp::Pnt* v = nullptr;
    if (!a || !a.convert(v)) return nullptr;
    return wrap(gp::translation(*v));
  });
}

PyObject* trsf_rotation(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRSF_ROTATION, args, kwargs);
    const gp::Ax1* axis = nullptr;
    double angle = 0;
    if (!a || !a.convert(axis, angle)) return nullptr;
    return wrap(gp::rotation(*axis, angle));
  });
}

PyObject* trsf_scale_uniform(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRSF_SCALE_UNIFORM, args, kwargs);
    double f = 0;
    if (!a || !a.convert(f)) return nullptr;
    return wrap(gp::scale_uniform(f));
  });
}

PyObject* trsf_scale_xyz(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRSF_SCALE_XYZ, args, kwargs);
    double fx = 0, fy = 0, fz = 0;
    if (!a || !a.convert(fx, fy, fz)) return nullptr;
    return wrap(gp::scale_xyz(fx, fy, fz));
  });
}

PyObject* trsf_then(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRSF_THEN, args, kwargs);
    const gp::Trsf* outer = nullptr;
    if (!a || !a.convert(outer)) return nullptr;
    return wrap(gp::then(value_of<gp::Trsf>(self), *outer));
  });
}

PyObject* trsf_apply_point(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRSF_APPLY_POINT, args, kwargs);
    const gp::Pnt* p = nullptr;
    if (!a || !a.convert(p)) return nullptr;
    return wrap(gp::apply(value_of<gp::Trsf>(self), *p));
  });
}

constexpr int STATIC_KW = METH_VARARGS | METH_KEYWORDS | METH_STATIC;

PyMethodDef TRSF_METHODS[] = {
    {"translation", as_cfunction(trsf_translation), STATIC_KW, "translation(v)\n--\n\n"},
    {"rotation", as_cfunction(trsf_rotation), STATIC_KW, "rotation(axis, angle)\n--\n\n"},
    {"scale_uniform", as_cfunction(trsf_scale_uniform), STATIC_KW, "scale_uniform(f)\n--\n\n"},
    {"scale_xyz", as_cfunction(trsf_scale_xyz), STATIC_KW, "scale_xyz(fx, fy, fz)\n--\n\n"},
    {"then", as_cfunction(trsf_then), METH_VARARGS | METH_KEYWORDS,
     "then($self, outer)\n--\n\nCompose: apply `self`, then `outer`."},
    {"apply_point", as_cfunction(trsf_apply_point), METH_VARARGS | METH_KEYWORDS,
     "apply_point($self, p)\n--\n\n"},
    QUORVALIND_PICKLE_METHODS(gp::Trsf),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot TRSF_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor<gp::Trsf>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<gp::Trsf>)},
    {Py_tp_methods, TRSF_METHODS},
    {0, nullptr},
};

}  // namespace

PyType_Spec PNT_SPEC = {"quorvalind.gp.Pnt", sizeof(Instance<gp::Pnt>), 0, CLASS_FLAGS, PNT_SLOTS};
PyType_Spec AX1_SPEC = {"quorvalind.gp.Ax1", sizeof(Instance<gp::Ax1>), 0, CLASS_FLAGS, AX1_SLOTS};
PyType_Spec TRSF_SPEC = {"quorvalind.gp.Trsf", sizeof(Instance<gp::Trsf>), 0, CLASS_FLAGS,
                         TRSF_SLOTS};

}  // namespace quorvalind::lib
