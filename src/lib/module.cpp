// Module initialisation: the module tree, registered in a fixed order.
//
// The top-level module gets every class, the aliases Vec3 and Point3, every
// function and then the submodules, each of which gets its own share of the
// same type objects and separate function objects. Every name is appended
// to the receiving module's __all__ as it is added.
#include <cstdint>
#include <string>

#include "lib/bind.h"
#include "lib/errors.h"
#include "lib/types.h"

namespace quorvalind::lib {

namespace {

// Single-phase init with m_size 0: a re-import calls PyInit again, which
// hands back this same module instead of building a second one.
PyObject* g_module = nullptr;
bool g_interpreter_known = false;
std::int64_t g_interpreter = -1;

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "quorvalind", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

struct ClassEntry {
  const char* name;
  PyTypeObject* (*get)();
};

template <class T>
constexpr ClassEntry entry() {
  return {Class<T>::name, type_object<T>};
}

constexpr std::size_t MAX_CLASSES = 5;

struct SubmoduleDef {
  const char* name;
  ClassEntry classes[MAX_CLASSES];
  bool aliases;             // Vec3 and Point3 after the classes
  PyMethodDef* functions;   // nullptr for none
};

const SubmoduleDef SUBMODULES[] = {
    {"gp", {entry<gp::Pnt>(), entry<gp::Ax1>(), entry<gp::Trsf>()}, true, nullptr},
    {"topods",
     {entry<topods::Vertex>(), entry<topods::Wire>(), entry<topods::Face>(),
      entry<topods::Compound>(), entry<topods::Solid>()},
     false,
     nullptr},
    {"mesh", {entry<mesh::TriMesh>(), entry<gp::BBox>()}, false, nullptr},
    {"prim", {entry<brep_prim_api::MeshParams>()}, false, PRIM_FUNCTIONS},
    {"builder", {}, false, BUILDER_FUNCTIONS},
    {"algo", {}, false, ALGO_FUNCTIONS},
    {"io", {}, false, IO_FUNCTIONS},
};

// Appends `name` to module.__all__ (creating the list when missing), then
// binds it to `value` (borrowed).
bool add_name(PyObject* module, const char* name, PyObject* value) {
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  PyRef key(PyUnicode_FromString(name));
  if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, value) == 0;
}

bool add_classes(PyObject* module, const SubmoduleDef& def) {
  for (const ClassEntry& c : def.classes) {
    if (!c.name) break;
    PyTypeObject* type = c.get();
    if (!type || !add_name(module, c.name, reinterpret_cast<PyObject*>(type))) return false;
  }
  return true;
}

bool add_aliases(PyObject* module) {
  for (const char* alias : {"Vec3", "Point3"}) {
    PyRef pnt(PyObject_GetAttrString(module, "Pnt"));
    if (!pnt || !add_name(module, alias, pnt.get())) return false;
  }
  return true;
}

// A new function object per module: __self__ is the module and __module__
// its __name__.
bool add_functions(PyObject* module, PyMethodDef* defs) {
  if (!defs) return true;
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return false;
  for (PyMethodDef* def = defs; def->ml_name; ++def) {
    PyRef fn(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!fn || !add_name(module, def->ml_name, fn.get())) return false;
  }
  return true;
}

bool enter_in_sys_modules(const std::string& key, PyObject* module) {
  PyRef sys(PyImport_ImportModule("sys"));
  if (!sys) return false;
  PyRef modules(PyObject_GetAttrString(sys.get(), "modules"));
  if (!modules) return false;
  PyRef k(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
  return k && PyObject_SetItem(modules.get(), k.get(), module) == 0;
}

bool add_submodule(PyObject* top, const SubmoduleDef& def) {
  PyRef sub(PyModule_New(def.name));
  if (!sub || !add_name(top, def.name, sub.get())) return false;
  if (!enter_in_sys_modules(std::string("quorvalind.") + def.name, sub.get())) return false;
  return add_classes(sub.get(), def) && (!def.aliases || add_aliases(sub.get())) &&
         add_functions(sub.get(), def.functions);
}

// The internal-fault exception lives in a module of its own that is only
// entered in sys.modules, so no registered module changes.
bool add_errors_module() {
  PyObject* fault = create_internal_fault_type();
  if (!fault) return false;
  PyRef errors(PyModule_New("quorvalind.errors"));
  return errors && add_name(errors.get(), "InternalFaultError", fault) &&
         enter_in_sys_modules("quorvalind.errors", errors.get());
}

// Additions beyond the module tree: like quorvalind.errors, a module that is
// only entered in sys.modules.
bool add_extras_module() {
  PyRef extras(PyModule_New("quorvalind.extras"));
  PyRef all(PyList_New(0));
  return extras && all && PyObject_SetAttrString(extras.get(), "__all__", all.get()) == 0 &&
         add_functions(extras.get(), EXTRAS_FUNCTIONS) &&
         PyModule_AddFunctions(extras.get(), EXTRAS_PRIVATE_FUNCTIONS) == 0 &&
         enter_in_sys_modules("quorvalind.extras", extras.get());
}

PyObject* build_module() {
  PyRef top(PyModule_Create(&MODULE_DEF));
  if (!top) return nullptr;
  for (const SubmoduleDef& def : SUBMODULES) {
    if (!add_classes(top.get(), def)) return nullptr;
  }
  if (!add_aliases(top.get())) return nullptr;
  for (const SubmoduleDef& def : SUBMODULES) {
    if (!add_functions(top.get(), def.functions)) return nullptr;
  }
  for (const SubmoduleDef& def : SUBMODULES) {
    if (!add_submodule(top.get(), def)) return nullptr;
  }
  PyRef version(PyUnicode_FromString("0.1.0"));
  if (!version || !add_name(top.get(), "__version__", version.get())) return nullptr;
  if (!add_errors_module()) return nullptr;
  if (!add_extras_module()) return nullptr;
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
  if (!add_bench_module()) return nullptr;
#endif
  return top.release();
}

PyObject* init() {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter < 0) return nullptr;
  if (!g_interpreter_known) {
    g_interpreter_known = true;
    g_interpreter = interpreter;
  } else if (interpreter != g_interpreter) {
    raise_other_interpreter();
    return nullptr;
  }
  if (!g_module) g_module = build_module();
  if (!g_module) return nullptr;
  Py_INCREF(g_module);
  return g_module;
}

}  // namespace

}  // namespace quorvalind::lib

PyMODINIT_FUNC PyInit_quorvalind(void) {
  return quorvalind::lib::guarded([] { return quorvalind::lib::init(); });
}
