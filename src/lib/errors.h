#pragma once
// Exceptions at the Python boundary. Each message template is spelled in
// exactly one function below; every entry point runs its body through
// guarded() so that no C++ exception unwinds into the interpreter.
#include <cstddef>
#include <vector>

#include "lib/py_ref.h"

namespace quorvalind::lib {

// The module's internal-fault exception (derived directly from
// BaseException), created at the end of module initialisation.
PyObject* create_internal_fault_type();
PyObject* internal_fault_type();

void raise_internal_fault(const char* message);

// Argument matching. `fn` is the display name, e.g. "make_box()".
void raise_too_many_positional(const char* fn, std::size_t required, std::size_t total,
                               std::size_t given);
void raise_missing_arguments(const char* fn, const std::vector<const char*>& names);
void raise_unexpected_keyword(const char* fn, PyObject* key);
void raise_multiple_values(const char* fn, const char* name);

// Conversion: "'{}' object cannot be converted to '{}'".
void raise_cannot_convert(PyObject* obj, const char* target);
void raise_str_to_vec();
// ValueError "argument '{param}': {size} bytes is not a whole number of {items}
// ({item_size} bytes each)".
void raise_partial_items(const char* param, std::size_t size, const char* items,
                         std::size_t item_size);

void raise_other_interpreter();
void raise_no_constructor(const char* class_name);

// If the pending error is a TypeError, replaces it by
// "argument '{param}': {message}" keeping the original's __cause__;
// any other pending error is left as it is.
void prefix_argument_error(const char* param);

// Turns the C++ exception being handled into the pending Python error.
// Call only from inside a catch block.
void translate_exception() noexcept;

template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    translate_exception();
    return decltype(body()){};
  }
}

}  // namespace quorvalind::lib
