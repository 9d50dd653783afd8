// Module initialisation shared by the three extension modules: owner
// interpreter check, the once-per-process module object, the function table
// registered in order with `__all__`, and the PanicException class.
#pragma once

#include <Python.h>

#include <span>

#include "call.hpp"
#include "function.hpp"

namespace ak::frame {

// An exported function and its fast-call entry point.
struct Export {
  const Function* function;
  PyObject* (*entry)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
};

// Body of a PyInit_ export for the module `name` whose functions, in
// registration order, are `exports`. Returns a new reference to the module,
// or null with an exception set.
PyObject* init_module(const char* name, std::span<const Export> exports);

// The same with the table given as the functions themselves.
template <const Function&... Functions>
PyObject* init_module(const char* name) {
  static constexpr Export exports[] = {{&Functions, &fastcall<Functions>}...};
  return init_module(name, exports);
}

// The module's PanicException class (borrowed), created on first use; null
// with an exception set if it could not be created.
PyObject* panic_exception_type();

}  // namespace ak::frame
