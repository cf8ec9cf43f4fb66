#pragma once
// The one include of Python.h for the binding layer, and an owning reference.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03090000
#endif
#include <Python.h>

#include <utility>

namespace quorvalind::lib {

// Owns one strong reference (or none); every early return releases it.
class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* owned) noexcept : p_(owned) {}
  static PyRef borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return PyRef(p);
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PyRef& operator=(PyRef&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  // Hands the reference to the caller (e.g. a function that steals it).
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace quorvalind::lib
