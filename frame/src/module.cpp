#include "module.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "py_ref.hpp"
#include "results.hpp"

namespace ak::frame {
namespace {

// Per-process state. Each extension module links its own copy of the frame,
// so these are per module.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;  // strong reference, never released
PyObject* panic_type = nullptr;     // strong reference, never released
const char* module_name = "";

constexpr int kModuleApiVersion = 1013;

// The definition: empty docstring, no per-module state and no method table
// (the functions are added one by one below).
PyModuleDef definition = {PyModuleDef_HEAD_INIT, nullptr, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// "name(a, b=None)\n--\n\n" followed by the body: CPython shows the part in
// parentheses as __text_signature__ and the rest as __doc__.
std::string docstring(const Function& f) {
  std::string text = f.name;
  text += '(';
  for (std::size_t i = 0; i < f.arity(); ++i) {
    if (i != 0) text += ", ";
    text += f.params[i].name;
    if (f.params[i].default_text != nullptr) {
      text += '=';
      text += f.params[i].default_text;
    }
  }
  text += ")\n--\n\n";
  text += f.doc;
  return text;
}

// The method records, made once and kept for the life of the process (the
// function objects point at them).
PyMethodDef* method_records(std::span<const Export> exports) {
  static std::vector<PyMethodDef>* records = nullptr;
  if (records == nullptr) {
    auto made = std::make_unique<std::vector<PyMethodDef>>();
    made->reserve(exports.size());
    for (const Export& e : exports) {
      const Function& f = *e.function;
      made->push_back(PyMethodDef{f.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(e.entry)),
                                  METH_FASTCALL | METH_KEYWORDS, (new std::string(docstring(f)))->c_str()});
    }
    records = made.release();
  }
  return records->data();
}

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

PyObject* create_module(const char* name, std::span<const Export> exports) {
  definition.m_name = name;
  PyRef module = PyRef::steal(PyModule_Create2(&definition, kModuleApiVersion));
  if (!module) return nullptr;
  PyRef name_object = PyRef::steal(PyUnicode_FromString(name));
  if (!name_object) return nullptr;
  PyMethodDef* records = method_records(exports);
  for (std::size_t i = 0; i < exports.size(); ++i) {
    if (register_function(module.get(), records[i], name_object.get()) < 0) return nullptr;
  }
  // The class is exposed so that callers can catch it by name.
  PyObject* panic = panic_exception_type();
  if (panic == nullptr || PyModule_AddObjectRef(module.get(), "PanicException", panic) < 0) {
    return nullptr;
  }
  if (!prepare_results()) return nullptr;
#if defined(Py_GIL_DISABLED)
  // Every call is safe without the interpreter lock (critical_section.hpp):
  // importing the module must not turn the lock back on.
  if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
  return module.release();
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

PyObject* init_module(const char* name, std::span<const Export> exports) {
  module_name = name;
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_Format(PyExc_ImportError,
                 "%s does not support sub-interpreters: it can only be imported once per "
                 "process, in the main interpreter",
                 name);
    return nullptr;
  }
  if (module_object == nullptr) {
    try {
      module_object = create_module(name, exports);
    } catch (const std::bad_alloc&) {
      PyErr_NoMemory();
    }
    if (module_object == nullptr) return nullptr;
  }
  return Py_NewRef(module_object);
}

}  // namespace ak::frame
