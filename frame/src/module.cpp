#include "module.hpp"

#include <atomic>
#include <cstdint>
#include <string>

#include "py_ref.hpp"

namespace ak::frame {
namespace {

// Per-process state. Each extension module links its own copy of the frame,
// so these are per module.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;  // strong reference, never released
PyObject* panic_type = nullptr;     // strong reference, never released
const char* module_name = "";

constexpr int kModuleApiVersion = 1013;

int register_function(PyObject* module, PyMethodDef& function, PyObject* name_of_module) {
  PyRef callable = PyRef::steal(PyCMethod_New(&function, module, name_of_module, nullptr));
  if (!callable) return -1;
  PyRef name = PyRef::steal(PyObject_GetAttrString(callable.get(), "__name__"));
  if (!name) return -1;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  if (PyList_Append(all.get(), name.get()) < 0) return -1;
  return PyObject_SetAttr(module, name.get(), callable.get());
}

}  // namespace

PyObject* panic_exception_type() {
  if (panic_type == nullptr) {
    const std::string qualified = std::string(module_name) + ".PanicException";
    panic_type = PyErr_NewExceptionWithDoc(
        qualified.c_str(),
        "Raised when a call breaks an internal invariant (for example an array with too few "
        "columns or a degenerate cell). Derives from BaseException.",
        PyExc_BaseException, nullptr);
  }
  return panic_type;
}

PyObject* init_module(PyModuleDef& definition, std::span<PyMethodDef> functions) {
  module_name = definition.m_name;
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_Format(PyExc_ImportError,
                 "%s does not support sub-interpreters: it can only be imported once per "
                 "process, in the main interpreter",
                 definition.m_name);
    return nullptr;
  }
  if (module_object != nullptr) return Py_NewRef(module_object);

  PyRef module = PyRef::steal(PyModule_Create2(&definition, kModuleApiVersion));
  if (!module) return nullptr;
  PyRef name = PyRef::steal(PyUnicode_FromString(definition.m_name));
  if (!name) return nullptr;
  for (PyMethodDef& function : functions) {
    if (register_function(module.get(), function, name.get()) < 0) return nullptr;
  }
  // The class is exposed so that callers can catch it by name.
  PyObject* panic = panic_exception_type();
  if (panic == nullptr || PyModule_AddObjectRef(module.get(), "PanicException", panic) < 0) {
    return nullptr;
  }
  module_object = module.release();
  return Py_NewRef(module_object);
}

}  // namespace ak::frame
