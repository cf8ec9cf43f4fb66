#include "lib/args.h"

namespace quorvalind::lib {

bool to_number(PyObject* obj, double& out) {
  // Floats directly; anything else through __float__, then __index__.
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool to_count(PyObject* obj, std::uint64_t& out) {
  PyRef index;
  if (!PyLong_Check(obj)) {
    index = PyRef(PyNumber_Index(obj));
    if (!index) return false;
    obj = index.get();
  }
  // Negative or >= 2**64: the interpreter's OverflowError.
  const unsigned long long v = PyLong_AsUnsignedLongLong(obj);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool to_mesh_params(PyObject* obj, std::optional<brep_prim_api::MeshParams>& out) {
  if (obj == Py_None) {
    out.reset();
    return true;
  }
  const brep_prim_api::MeshParams* mp = nullptr;
  if (!to_instance(obj, mp)) return false;
  out = *mp;
  return true;
}

bool to_text(PyObject* obj, std::string& out) {
  if (!PyUnicode_Check(obj)) {
    raise_cannot_convert(obj, "PyString");
    return false;
  }
  PyRef utf8(PyUnicode_AsUTF8String(obj));
  if (!utf8) return false;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(utf8.get(), &data, &size) < 0) return false;
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

bool to_bytes(PyObject* obj, Bytes& out) {
  PyRef b(PyObject_Bytes(obj));
  if (!b) return false;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(b.get(), &data, &size) < 0) return false;
  out.data = std::as_bytes(std::span<const char>(data, static_cast<std::size_t>(size)));
  out.object = std::move(b);
  return true;
}

bool check_sequence(PyObject* obj) {
  // str passes the sequence check but is refused first.
  if (PyUnicode_Check(obj)) {
    raise_str_to_vec();
    return false;
  }
  if (!PySequence_Check(obj)) {
    raise_cannot_convert(obj, "Sequence");
    return false;
  }
  return true;
}

// Matching order: too many positional arguments; then each keyword in the
// order given (unknown name, or a parameter already filled positionally);
// then the required parameters still missing.
Args::Args(const Signature& sig, PyObject* args, PyObject* kwargs) : sig_(sig) {
  const std::size_t total = sig.size();
  const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
  if (nargs < 0) return;
  const std::size_t given = static_cast<std::size_t>(nargs);
  if (given > total) {
    raise_too_many_positional(sig.display, sig.required(), total, given);
    return;
  }
  for (std::size_t i = 0; i < given; ++i) {
    slots_[i] = PyRef::borrow(PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)));
  }
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      std::size_t i = 0;
      if (PyUnicode_Check(key)) {
        while (i < total && PyUnicode_CompareWithASCIIString(key, sig.params[i].name) != 0) ++i;
      } else {
        i = total;
      }
      if (i == total) {
        raise_unexpected_keyword(sig.display, key);
        return;
      }
      if (i < given) {
        raise_multiple_values(sig.display, sig.params[i].name);
        return;
      }
      slots_[i] = PyRef::borrow(value);
    }
  }
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < sig.required(); ++i) {
    if (!slots_[i]) missing.push_back(sig.params[i].name);
  }
  if (!missing.empty()) {
    raise_missing_arguments(sig.display, missing);
    return;
  }
  matched_ = true;
}

std::string Args::mismatch(const char* what) const {
  return std::string(sig_.display) + ": binding table disagrees with the wrapper about " + what;
}

}  // namespace quorvalind::lib
