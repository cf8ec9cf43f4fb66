#include "lib/types.h"

namespace quorvalind::lib {

PyTypeObject* create_type(PyType_Spec* type_spec) {
  PyRef type(PyType_FromSpec(type_spec));
  if (!type) return nullptr;
  // A doc that is only a text signature leaves "" in __doc__; the
  // interpreter's own convention for an empty body is None.
  PyRef doc(PyObject_GetAttrString(type.get(), "__doc__"));
  if (!doc) return nullptr;
  if (PyUnicode_Check(doc.get()) && PyUnicode_GetLength(doc.get()) == 0 &&
      PyObject_SetAttrString(type.get(), "__doc__", Py_None) < 0) {
    return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace quorvalind::lib
