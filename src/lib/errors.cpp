#include "lib/errors.h"

#include <new>
#include <stdexcept>
#include <string>

#include "bsp/csg_thread.h"
#include "gp/fault.h"
#include "mesh_io/stl.h"
#include "serial/codec.h"

namespace quorvalind::lib {

namespace {

PyObject* g_internal_fault = nullptr;

const char* was_were(std::size_t n) { return n == 1 ? "was" : "were"; }

}  // namespace

PyObject* create_internal_fault_type() {
  if (!g_internal_fault) {
    g_internal_fault = PyErr_NewExceptionWithDoc(
        "quorvalind.errors.InternalFaultError",
        "Raised when an internal consistency check of the geometry core fails.",
        PyExc_BaseException, nullptr);
  }
  return g_internal_fault;
}

PyObject* internal_fault_type() { return g_internal_fault; }

void raise_internal_fault(const char* message) {
  // Only reachable before initialisation has created the class.
  PyErr_SetString(g_internal_fault ? g_internal_fault : PyExc_SystemError, message);
}

void raise_too_many_positional(const char* fn, std::size_t required, std::size_t total,
                               std::size_t given) {
  if (required == total) {
    PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zu %s given", fn, total,
                 given, was_were(given));
  } else {
    PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zu %s given",
                 fn, required, total, given, was_were(given));
  }
}

void raise_missing_arguments(const char* fn, const std::vector<const char*>& names) {
  const std::size_t n = names.size();
  std::string list;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) list += n == 2 ? " and " : (i + 1 == n ? ", and " : ", ");
    list += '\'';
    list += names[i];
    list += '\'';
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", fn, n,
               n == 1 ? "argument" : "arguments", list.c_str());
}

void raise_unexpected_keyword(const char* fn, PyObject* key) {
  // %S also covers a non-str key handed over by C code.
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", fn, key);
}

void raise_multiple_values(const char* fn, const char* name) {
  PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", fn, name);
}

void raise_cannot_convert(PyObject* obj, const char* target) {
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
  if (!name) return;
  PyErr_Format(PyExc_TypeError, "'%S' object cannot be converted to '%s'", name.get(), target);
}

void raise_str_to_vec() { PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`"); }

void raise_partial_items(const char* param, std::size_t size, const char* items,
                         std::size_t item_size) {
  PyErr_Format(PyExc_ValueError,
               "argument '%s': %zu bytes is not a whole number of %s (%zu bytes each)", param, size,
               items, item_size);
}

void raise_other_interpreter() {
  PyErr_SetString(PyExc_ImportError,
                  "quorvalind supports one interpreter per process and is already loaded in "
                  "another one");
}

void raise_no_constructor(const char* class_name) {
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", class_name);
}

void prefix_argument_error(const char* param) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  PyRef type_ref(type), value_ref(value), tb_ref(tb);
  PyRef message(PyObject_Str(value));
  if (!message) return;
  PyRef text(PyUnicode_FromFormat("argument '%s': %U", param, message.get()));
  if (!text) return;
  PyRef replaced(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
  if (!replaced) return;
  // The original's own cause, not the original itself. Left untouched when
  // there is none so that __suppress_context__ keeps its default.
  PyRef cause(PyException_GetCause(value));
  if (cause) PyException_SetCause(replaced.get(), cause.release());
  PyErr_SetObject(PyExc_TypeError, replaced.get());
}

void translate_exception() noexcept {
  // New core exception types get their mapping here, one catch each.
  try {
    throw;
  } catch (const gp::InternalFault& e) {
    raise_internal_fault(e.what());
  } catch (const bsp::Interrupted&) {
    // A signal handler raised while a boolean waited for its csg thread:
    // its exception is the error, already pending.
    if (!PyErr_Occurred()) raise_internal_fault("csg operation interrupted");
  } catch (const serial::DecodeError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const mesh_io::CountOverflow& e) {
    PyErr_SetString(PyExc_OverflowError, e.what());
  } catch (const std::exception& e) {
    raise_internal_fault(e.what());
  } catch (...) {
    raise_internal_fault("unknown C++ exception");
  }
}

}  // namespace quorvalind::lib
