#pragma once
// Argument handling, written once: a constant table per callable, one
// matcher from args/kwargs to one object per parameter, and one converter
// per parameter kind.
//
//   constexpr Signature MAKE_CYLINDER{"make_cylinder()",
//       {{"r", Kind::number}, {"h", Kind::number}, {"mp", Kind::mesh_params}}, 2};
//   Args a(MAKE_CYLINDER, args, kwargs);
//   double r, h; std::optional<brep_prim_api::MeshParams> mp;
//   if (!a || !a.convert(r, h, mp)) return nullptr;
//
// An omitted optional parameter leaves its variable untouched, so the
// variable's initial value is the parameter's default.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "brep_prim_api/mesh_params.h"
#include "lib/errors.h"
#include "lib/py_ref.h"
#include "lib/types.h"

namespace quorvalind::lib {

enum class Kind { number, count, instance, mesh_params, text, sequence, buffer };

struct Param {
  const char* name = nullptr;
  Kind kind = Kind::number;
};

inline constexpr std::size_t MAX_PARAMS = 4;
inline constexpr std::size_t ALL_REQUIRED = SIZE_MAX;

struct Signature {
  const char* display;  // "make_box()", "Pnt.dot()", "Pnt.__new__()"
  Param params[MAX_PARAMS];
  // Leading parameters without a default; the rest may be omitted.
  std::size_t required_count = ALL_REQUIRED;

  constexpr std::size_t size() const {
    std::size_t n = 0;
    while (n < MAX_PARAMS && params[n].name) ++n;
    return n;
  }
  constexpr std::size_t required() const {
    return required_count == ALL_REQUIRED ? size() : required_count;
  }
};

// Converters, one per kind. Each returns false with a pending error.
bool to_number(PyObject* obj, double& out);
bool to_count(PyObject* obj, std::uint64_t& out);
bool to_mesh_params(PyObject* obj, std::optional<brep_prim_api::MeshParams>& out);
bool to_text(PyObject* obj, std::string& out);

// A buffer argument: whatever bytes(obj) accepts (bytes as they are, no
// copy; bytearray, memoryview, arrays, lists of small ints copied). The
// limited API of 3.9 has no buffer protocol, so bytes() is the one way in.
struct Bytes {
  PyRef object;                     // keeps `data` alive
  std::span<const std::byte> data;
};
bool to_bytes(PyObject* obj, Bytes& out);

template <class T>
bool to_instance(PyObject* obj, const T*& out) {
  if (!is_instance<T>(obj)) {
    raise_cannot_convert(obj, Class<T>::name);
    return false;
  }
  out = &value_of<T>(obj);
  return true;
}

// Sequence elements: numbers and counts as such, class values copied out of
// their instances.
inline bool to_element(PyObject* obj, double& out) { return to_number(obj, out); }
inline bool to_element(PyObject* obj, std::uint64_t& out) { return to_count(obj, out); }
template <class T>
bool to_element(PyObject* obj, T& out) {
  const T* p = nullptr;
  if (!to_instance(obj, p)) return false;
  out = *p;
  return true;
}

// Length hint taken from __len__ at most this far, so that a lying __len__
// cannot ask for an absurd allocation up front.
inline constexpr Py_ssize_t MAX_RESERVE = Py_ssize_t{1} << 20;

bool check_sequence(PyObject* obj);

template <class E>
bool to_sequence(PyObject* obj, std::vector<E>& out) {
  if (!check_sequence(obj)) return false;
  std::vector<E> result;
  const Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) {
    PyErr_Clear();
  } else {
    result.reserve(static_cast<std::size_t>(n < MAX_RESERVE ? n : MAX_RESERVE));
  }
  PyRef it(PyObject_GetIter(obj));
  if (!it) return false;
  while (PyRef item{PyIter_Next(it.get())}) {
    E e{};
    if (!to_element(item.get(), e)) return false;
    result.push_back(std::move(e));
  }
  if (PyErr_Occurred()) return false;
  out = std::move(result);
  return true;
}

// The C++ type of a converted value decides its kind.
template <class T>
struct KindOf;
template <>
struct KindOf<double> {
  static constexpr Kind kind = Kind::number;
};
template <>
struct KindOf<std::uint64_t> {
  static constexpr Kind kind = Kind::count;
};
template <class T>
struct KindOf<const T*> {
  static constexpr Kind kind = Kind::instance;
};
template <>
struct KindOf<std::optional<brep_prim_api::MeshParams>> {
  static constexpr Kind kind = Kind::mesh_params;
};
template <>
struct KindOf<std::string> {
  static constexpr Kind kind = Kind::text;
};
template <>
struct KindOf<Bytes> {
  static constexpr Kind kind = Kind::buffer;
};
template <class E>
struct KindOf<std::vector<E>> {
  static constexpr Kind kind = Kind::sequence;
};

inline bool convert_arg(PyObject* o, double& out) { return to_number(o, out); }
inline bool convert_arg(PyObject* o, std::uint64_t& out) { return to_count(o, out); }
inline bool convert_arg(PyObject* o, std::optional<brep_prim_api::MeshParams>& out) {
  return to_mesh_params(o, out);
}
inline bool convert_arg(PyObject* o, std::string& out) { return to_text(o, out); }
inline bool convert_arg(PyObject* o, Bytes& out) { return to_bytes(o, out); }
template <class T>
bool convert_arg(PyObject* o, const T*& out) {
  return to_instance(o, out);
}
template <class E>
bool convert_arg(PyObject* o, std::vector<E>& out) {
  return to_sequence(o, out);
}

// Matches args/kwargs against a signature on construction; on failure the
// matching TypeError is pending and the object tests false.
class Args {
 public:
  Args(const Signature& sig, PyObject* args, PyObject* kwargs);
  explicit operator bool() const { return matched_; }

  // Converts every parameter in declaration order into `out...`, stopping
  // at the first failure (its error pending, TypeErrors prefixed).
  template <class... T>
  bool convert(T&... out) {
    if (sizeof...(T) != sig_.size()) throw std::logic_error(mismatch("parameter count"));
    std::size_t i = 0;
    return (convert_at(i++, out) && ...);
  }

 private:
  template <class T>
  bool convert_at(std::size_t i, T& out) {
    const Param& p = sig_.params[i];
    if (p.kind != KindOf<T>::kind) throw std::logic_error(mismatch(p.name));
    PyObject* obj = slots_[i].get();
    if (!obj) return true;
    if (convert_arg(obj, out)) return true;
    prefix_argument_error(p.name);
    return false;
  }
  std::string mismatch(const char* what) const;

  const Signature& sig_;
  PyRef slots_[MAX_PARAMS];
  bool matched_ = false;
};

}  // namespace quorvalind::lib
