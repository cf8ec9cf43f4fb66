// Polygons, faces, solid transform and solid_from_mesh.
//
// A wrapper converts its arguments through its Signature (sequence arguments
// arrive as std::vector copies), calls one core function and wraps the
// result.
#include <string>
#include <utility>
#include <vector>

#include "brep_builder_api/builder.h"
#include "lib/args.h"
#include "lib/bind.h"

namespace quorvalind::lib {

namespace {

constexpr Signature MAKE_POLYGON{"make_polygon()", {{"points", Kind::sequence}}};
constexpr Signature MAKE_FACE{"make_face()", {{"outer", Kind::instance}}};
constexpr Signature MAKE_FACE_WITH_HOLES{"make_face_with_holes()",
                                         {{"outer", Kind::instance}, {"holes", Kind::sequence}}};
constexpr Signature TRANSFORM{"transform()", {{"solid", Kind::instance}, {"t", Kind::instance}}};
constexpr Signature SOLID_FROM_MESH{"solid_from_mesh()",
                                    {{"vertices_flat", Kind::sequence},
                                     {"triangles_flat", Kind::sequence}}};

PyObject* make_polygon(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_POLYGON, args, kwargs);
    std::vector<gp::Pnt> points;
    if (!a || !a.convert(points)) return nullptr;
    return wrap(brep_builder_api::make_polygon(std::move(points)));
  });
}

PyObject* make_face(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_FACE, args, kwargs);
    const topods::Wire* outer = nullptr;
    if (!a || !a.convert(outer)) return nullptr;
    return wrap(topods::Face{*outer, {}});
  });
}

PyObject* make_face_with_holes(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(MAKE_FACE_WITH_HOLES, args, kwargs);
    const topods::Wire* outer = nullptr;
    std::vector<topods::Wire> holes;
    if (!a || !a.convert(outer, holes)) return nullptr;
    return wrap(topods::Face{*outer, std::move(holes)});
  });
}

PyObject* transform(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(TRANSFORM, args, kwargs);
    const topods::Solid* solid = nullptr;
    const gp::Trsf* t = nullptr;
    if (!a || !a.convert(solid, t)) return nullptr;
    return wrap(brep_builder_api::transform(*solid, *t));
  });
}

// Groups of three in order; a trailing incomplete group is ignored. Indices
// are not checked here: a bad one faults when an operation reads it.
PyObject* solid_from_mesh(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    Args a(SOLID_FROM_MESH, args, kwargs);
    std::vector<double> v;
    std::vector<std::uint64_t> t;
    if (!a || !a.convert(v, t)) return nullptr;
    topods::Solid solid;
    solid.mesh.vertices.reserve(v.size() / 3);
    for (std::size_t i = 0; i + 2 < v.size(); i += 3) {
      solid.mesh.vertices.push_back(gp::Pnt{v[i], v[i + 1], v[i + 2]});
    }
    solid.mesh.triangles.reserve(t.size() / 3);
    for (std::size_t i = 0; i + 2 < t.size(); i += 3) {
      solid.mesh.triangles.push_back(mesh::Triangle{t[i], t[i + 1], t[i + 2]});
    }
    return wrap(std::move(solid));
  });
}

constexpr int KW = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef BUILDER_FUNCTIONS[] = {
    {"make_polygon", as_cfunction(make_polygon), KW, "make_polygon(points)\n--\n\n"},
    {"make_face", as_cfunction(make_face), KW, "make_face(outer)\n--\n\n"},
    {"make_face_with_holes", as_cfunction(make_face_with_holes), KW,
     "make_face_with_holes(outer, holes)\n--\n\n"},
    {"transform", as_cfunction(transform), KW, "transform(solid, t)\n--\n\n"},
    {"solid_from_mesh", as_cfunction(solid_from_mesh), KW,
     "solid_from_mesh(vertices_flat, triangles_flat)\n--\n\n"
     "Build a solid directly from a triangle soup \u2014 flat vertex buffer\n"
     "`[x0,y0,z0, ...]` and flat index buffer `[i0,j0,k0, ...]`. Used by callers\n"
     "(e.g. the brelmont loft/sweep pass) that assemble a mesh themselves."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvalind::lib
