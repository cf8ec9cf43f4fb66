// MeshParams and the primitive builders.
//
// A builder wrapper converts its arguments through its Signature, calls the
// core builder and wraps the returned mesh as a new Solid. An omitted or
// None `mp` arrives as an empty optional; `params(mp)` gives the counts to
// hand to the core.
#include <optional>

#include "brep_prim_api/box.h"
#include "brep_prim_api/cone.h"
#include "brep_prim_api/mesh_params.h"
#include "brep_prim_api/prism.h"
#include "brep_prim_api/revol.h"
#include "brep_prim_api/sphere.h"
#include "lib/args.h"
#include "lib/bind.h"
#include "lib/transfer.h"

namespace quorvalind::lib {

namespace {

using OptionalMeshParams = std::optional<brep_prim_api::MeshParams>;

brep_prim_api::MeshParams params(const OptionalMeshParams& mp) {
  return mp.value_or(brep_prim_api::MeshParams{});
}

// ---- MeshParams

constexpr Signature MESH_PARAMS_NEW{
    "MeshParams.__new__()", {{"circle_segments", Kind::count}, {"lat_segments", Kind::count}}, 0};

PyObject* mesh_params_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MESH_PARAMS_NEW, args, kwargs);
    brep_prim_api::MeshParams mp;  // its defaults are the parameters' defaults
    if (!a || !a.convert(mp.circle_segments, mp.lat_segments)) return nullptr;
    return wrap(mp);
  });
}

PyObject* mesh_params_circle_segments(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(value_of<brep_prim_api::MeshParams>(self).circle_segments);
}

PyObject* mesh_params_lat_segments(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(value_of<brep_prim_api::MeshParams>(self).lat_segments);
}

PyMethodDef MESH_PARAMS_METHODS[] = {
    QUORVALIND_PICKLE_METHODS(brep_prim_api::MeshParams),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef MESH_PARAMS_GETSET[] = {
    {"circle_segments", mesh_params_circle_segments, nullptr, nullptr, nullptr},
    {"lat_segments", mesh_params_lat_segments, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot MESH_PARAMS_SLOTS[] = {
    {Py_tp_doc, slot_doc("MeshParams(circle_segments=64, lat_segments=32)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(mesh_params_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<brep_prim_api::MeshParams>)},
    {Py_tp_methods, MESH_PARAMS_METHODS},
    {Py_tp_getset, MESH_PARAMS_GETSET},
    {0, nullptr},
};

// ---- builders

constexpr Signature MAKE_BOX{
    "make_box()",
    {{"corner", Kind::instance}, {"dx", Kind::number}, {"dy", Kind::number}, {"dz", Kind::number}}};
constexpr Signature MAKE_BOX_CENTERED_XY{
    "make_box_centered_xy()",
    {{"center", Kind::instance}, {"w", Kind::number}, {"h", Kind::number}, {"d", Kind::number}}};
constexpr Signature MAKE_CYLINDER{
    "make_cylinder()", {{"r", Kind::number}, {"h", Kind::number}, {"mp", Kind::mesh_params}}, 2};
constexpr Signature MAKE_CONE{
    "make_cone()",
    {{"r1", Kind::number}, {"r2", Kind::number}, {"h", Kind::number}, {"mp", Kind::mesh_params}},
    3};
constexpr Signature MAKE_SPHERE{"make_sphere()",
                                {{"r", Kind::number}, {"mp", Kind::mesh_params}},
                                1};
constexpr Signature MAKE_TORUS{"make_torus()",
                               {{"major", Kind::number},
                                {"minor", Kind::number},
                                {"mp", Kind::mesh_params}},
                               2};
constexpr Signature MAKE_PRISM{"make_prism()", {{"face", Kind::instance}, {"vec", Kind::instance}}};
constexpr Signature MAKE_REVOL{"make_revol()",
                               {{"wire", Kind::instance},
                                {"axis", Kind::instance},
                                {"angle", Kind::number},
                                {"mp", Kind::mesh_params}},
                               3};

PyObject* make_box(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_BOX, args, kwargs);
    const gp::Pnt* corner = nullptr;
    double dx = 0, dy = 0, dz = 0;
    if (!a || !a.convert(corner, dx, dy, dz)) return nullptr;
    return wrap(topods::Solid{brep_prim_api::make_box(*corner, dx, dy, dz)});
  });
}

PyObject* make_box_centered_xy(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_BOX_CENTERED_XY, args, kwargs);
    const gp::Pnt* center = nullptr;
    double w = 0, h = 0, d = 0;
    if (!a || !a.convert(center, w, h, d)) return nullptr;
    return wrap(topods::Solid{brep_prim_api::make_box_centered_xy(*center, w, h, d)});
  });
}

PyObject* make_cylinder(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_CYLINDER, args, kwargs);
    double r = 0, h = 0;
    OptionalMeshParams mp;
    if (!a || !a.convert(r, h, mp)) return nullptr;
    return wrap(topods::Solid{brep_prim_api::make_cylinder(params(mp).circle_segments, r, h)});
  });
}

PyObject* make_cone(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_CONE, args, kwargs);
    double r1 = 0, r2 = 0, h = 0;
    OptionalMeshParams mp;
    if (!a || !a.convert(r1, r2, h, mp)) return nullptr;
    return wrap(topods::Solid{brep_prim_api::make_cone(params(mp).circle_segments, r1, r2, h)});
  });
}

PyObject* make_sphere(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_SPHERE, args, kwargs);
    double r = 0;
    OptionalMeshParams mp;
    if (!a || !a.convert(r, mp)) return nullptr;
    return wrap(topods::Solid{
        brep_prim_api::make_sphere(params(mp).circle_segments, params(mp).lat_segments, r)});
  });
}

PyObject* make_torus(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_TORUS, args, kwargs);
    double major = 0, minor = 0;
    OptionalMeshParams mp;
    if (!a || !a.convert(major, minor, mp)) return nullptr;
    return wrap(topods::Solid{brep_prim_api::make_torus(params(mp).circle_segments, major, minor)});
  });
}

PyObject* make_prism(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_PRISM, args, kwargs);
    const topods::Face* face = nullptr;
    const gp::Pnt* vec = nullptr;
    if (!a || !a.convert(face, vec)) return nullptr;
    return wrap(topods::Solid{brep_prim_api::make_prism(*face, *vec)});
  });
}

PyObject* make_revol(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_REVOL, args, kwargs);
    const topods::Wire* wire = nullptr;
    const gp::Ax1* axis = nullptr;
    double angle = 0;
    OptionalMeshParams mp;
    if (!a || !a.convert(wire, axis, angle, mp)) return nullptr;
    return wrap(
        topods::Solid{brep_prim_api::make_revol(*wire, *axis, params(mp).circle_segments, angle)});
  });
}

constexpr int KW = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef PRIM_FUNCTIONS[] = {
    {"make_box", as_cfunction(make_box), KW, "make_box(corner, dx, dy, dz)\n--\n\n"},
    {"make_box_centered_xy", as_cfunction(make_box_centered_xy), KW,
     "make_box_centered_xy(center, w, h, d)\n--\n\n"},
    {"make_cylinder", as_cfunction(make_cylinder), KW, "make_cylinder(r, h, mp=None)\n--\n\n"},
    {"make_cone", as_cfunction(make_cone), KW, "make_cone(r1, r2, h, mp=None)\n--\n\n"},
    {"make_sphere", as_cfunction(make_sphere), KW, "make_sphere(r, mp=None)\n--\n\n"},
    {"make_torus", as_cfunction(make_torus), KW, "make_torus(major, minor, mp=None)\n--\n\n"},
    {"make_prism", as_cfunction(make_prism), KW, "make_prism(face, vec)\n--\n\n"},
    {"make_revol", as_cfunction(make_revol), KW, "make_revol(wire, axis, angle, mp=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Spec MESH_PARAMS_SPEC = {"quorvalind.prim.MeshParams",
                                sizeof(Instance<brep_prim_api::MeshParams>), 0, CLASS_FLAGS,
                                MESH_PARAMS_SLOTS};

}  // namespace quorvalind::lib
