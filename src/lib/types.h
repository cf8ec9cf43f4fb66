#pragma once
// Binding classes: heap types whose instances hold one core value in place.
#include <new>
#include <string>
#include <utility>

#include "brep_prim_api/mesh_params.h"
#include "gp/ax1.h"
#include "gp/bbox.h"
#include "gp/pnt.h"
#include "gp/trsf.h"
#include "lib/errors.h"
#include "lib/py_ref.h"
#include "mesh/tri_mesh.h"
#include "topods/shapes.h"

namespace quorvalind::lib {

// The instance layout of every binding class (PyPnt, PySolid, ...): the
// object header followed by the core value itself.
template <class T>
struct Instance {
  PyObject_HEAD
  T value;
};

// Type specs, defined next to their methods in the bind_*.cpp files.
extern PyType_Spec PNT_SPEC, AX1_SPEC, TRSF_SPEC;
extern PyType_Spec VERTEX_SPEC, WIRE_SPEC, FACE_SPEC, COMPOUND_SPEC, SOLID_SPEC;
extern PyType_Spec TRI_MESH_SPEC, BBOX_SPEC, MESH_PARAMS_SPEC;

// One binding class per core value type: its Python name, its PyType_Spec and its
// type object (created once, on first use, and kept for the process).
template <class T>
struct Class;

template <class T, const char* Name, PyType_Spec* TypeSpec>
struct ClassInfo {
  static constexpr const char* name = Name;
  static constexpr PyType_Spec* type_spec = TypeSpec;
  static inline PyTypeObject* type = nullptr;
};

inline constexpr char PNT_NAME[] = "Pnt", AX1_NAME[] = "Ax1", TRSF_NAME[] = "Trsf",
                      VERTEX_NAME[] = "Vertex", WIRE_NAME[] = "Wire", FACE_NAME[] = "Face",
                      COMPOUND_NAME[] = "Compound", SOLID_NAME[] = "Solid",
                      TRI_MESH_NAME[] = "TriMesh", BBOX_NAME[] = "BBox",
                      MESH_PARAMS_NAME[] = "MeshParams";

// clang-format off
template <> struct Class<gp::Pnt> : ClassInfo<gp::Pnt, PNT_NAME, &PNT_SPEC> {};
template <> struct Class<gp::Ax1> : ClassInfo<gp::Ax1, AX1_NAME, &AX1_SPEC> {};
template <> struct Class<gp::Trsf> : ClassInfo<gp::Trsf, TRSF_NAME, &TRSF_SPEC> {};
template <> struct Class<topods::Vertex> : ClassInfo<topods::Vertex, VERTEX_NAME, &VERTEX_SPEC> {};
template <> struct Class<topods::Wire> : ClassInfo<topods::Wire, WIRE_NAME, &WIRE_SPEC> {};
template <> struct Class<topods::Face> : ClassInfo<topods::Face, FACE_NAME, &FACE_SPEC> {};
template <> struct Class<topods::Compound> : ClassInfo<topods::Compound, COMPOUND_NAME, &COMPOUND_SPEC> {};
template <> struct Class<topods::Solid> : ClassInfo<topods::Solid, SOLID_NAME, &SOLID_SPEC> {};
template <> struct Class<mesh::TriMesh> : ClassInfo<mesh::TriMesh, TRI_MESH_NAME, &TRI_MESH_SPEC> {};
template <> struct Class<gp::BBox> : ClassInfo<gp::BBox, BBOX_NAME, &BBOX_SPEC> {};
template <> struct Class<brep_prim_api::MeshParams> : ClassInfo<brep_prim_api::MeshParams, MESH_PARAMS_NAME, &MESH_PARAMS_SPEC> {};
// clang-format on

// Creates the type from its PyType_Spec on first use; nullptr with a pending
// error on failure.
PyTypeObject* create_type(PyType_Spec* type_spec);

template <class T>
PyTypeObject* type_object() {
  if (!Class<T>::type) Class<T>::type = create_type(Class<T>::type_spec);
  return Class<T>::type;
}

template <class T>
T& value_of(PyObject* self) {
  return reinterpret_cast<Instance<T>*>(self)->value;
}

template <class T>
bool is_instance(PyObject* obj) {
  return Class<T>::type && PyObject_TypeCheck(obj, Class<T>::type);
}

// A new Python object holding `value`; nullptr with MemoryError pending.
template <class T>
PyObject* wrap(T value) {
  PyTypeObject* type = Class<T>::type;
  PyObject* self = PyType_GenericAlloc(type, 0);
  if (!self) return nullptr;
  new (&value_of<T>(self)) T(std::move(value));
  return self;
}

template <class T>
void dealloc(PyObject* self) {
  value_of<T>(self).~T();
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  // Instances of heap types own a reference to their type.
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

// tp_new of the classes that Python code cannot instantiate.
template <class T>
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  raise_no_constructor(Class<T>::name);
  return nullptr;
}

// New str / bytes objects from core text; nullptr with an error pending.
inline PyObject* new_str(const std::string& s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}
inline PyObject* new_bytes(const std::string& s) {
  return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// PyType_Slot wants a void* for the doc string.
inline void* slot_doc(const char* doc) { return const_cast<char*>(doc); }

inline constexpr unsigned int CLASS_FLAGS = Py_TPFLAGS_DEFAULT;  // no BASETYPE: final

// C function pointers of the other calling conventions, as PyMethodDef
// stores them.
template <class F>
PyCFunction as_cfunction(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace quorvalind::lib
