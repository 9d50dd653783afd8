// Module initialisation shared by the three extension modules: owner
// interpreter check, the once-per-process module object, the function table
// registered in order with `__all__`, and the PanicException class.
#pragma once

#include <Python.h>

#include <span>

namespace ak::frame {

// The definition of a module named `name`: empty docstring, no per-module
// state and no method table (init_module adds the functions).
constexpr PyModuleDef module_definition(const char* name) {
  return PyModuleDef{PyModuleDef_HEAD_INIT, name, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};
}

// Body of a PyInit_ export. `definition` and `functions` live for the whole
// process. Returns a new reference to the module, or null with an exception.
PyObject* init_module(PyModuleDef& definition, std::span<PyMethodDef> functions);

// The module's PanicException class (borrowed), created on first use; null
// with an exception set if it could not be created.
PyObject* panic_exception_type();

}  // namespace ak::frame
