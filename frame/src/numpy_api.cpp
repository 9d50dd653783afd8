#define AK_NUMPY_API_DEFINITION
#include "numpy_api.hpp"

#include <string>

#include "failure.hpp"
#include "py_ref.hpp"

namespace ak::frame {
namespace {

// Text of the pending Python exception (which is cleared), for a panic message.
std::string take_exception_text() {
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) return "unknown error";
  PyRef text = PyRef::steal(PyObject_Str(exc.get()));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return std::string(Py_TYPE(exc.get())->tp_name);
  }
  return std::string(Py_TYPE(exc.get())->tp_name) + ": " + std::string(utf8, size);
}

// The import failed: NumPy missing or broken is a broken invariant of the
// host environment; an interrupt, an exit or exhausted memory that merely
// happened during the import comes out as it is (and a later call tries
// the import again).
[[noreturn]] void numpy_unavailable() {
  if (pending_exception_is_urgent()) throw_python_error();
  panic("NumPy C API unavailable: " + take_exception_text());
}

[[noreturn]] void numpy_unusable(const char* reason) { panic(std::string("NumPy C API unusable: ") + reason); }

// The multiarray module moved from numpy.core to numpy._core in NumPy 2.
const char* multiarray_module_name() {
  PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  if (!numpy) numpy_unavailable();
  PyRef version = PyRef::steal(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) numpy_unavailable();
  PyRef lib = PyRef::steal(PyImport_ImportModule("numpy.lib"));
  if (!lib) numpy_unavailable();
  PyRef parsed = PyRef::steal(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
  if (!parsed) numpy_unavailable();
  PyRef major_obj = PyRef::steal(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major_obj) numpy_unavailable();
  const long major = PyLong_AsLong(major_obj.get());
  if (major == -1 && PyErr_Occurred()) numpy_unavailable();
  return major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
}

}  // namespace

PyArray_Descr* builtin_descriptor(ElementType type) {
  static PyArray_Descr* cached[5] = {};  // one reference each, never released
  PyArray_Descr*& slot = cached[static_cast<int>(type)];
  if (slot == nullptr) {
    slot = PyArray_DescrFromType(numpy_type(type));
    if (slot == nullptr) throw PythonError{};
  }
  return slot;
}

bool numpy_loaded() noexcept { return PyArray_API != nullptr; }

void require_numpy() {
  if (PyArray_API != nullptr) return;
  PyRef multiarray = PyRef::steal(PyImport_ImportModule(multiarray_module_name()));
  if (!multiarray) numpy_unavailable();
  PyRef capsule = PyRef::steal(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) numpy_unavailable();
  if (!PyCapsule_CheckExact(capsule.get())) numpy_unusable("_ARRAY_API is not a capsule");
  void** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (table == nullptr) numpy_unavailable();

  // Same compatibility checks as NumPy's own import: the ABI must be the one
  // compiled against, and the running C-API at least the targeted feature level.
  void** const previous = PyArray_API;
  PyArray_API = table;
  if (NPY_VERSION < PyArray_GetNDArrayCVersion()) {
    PyArray_API = previous;
    numpy_unusable("module compiled against an older NumPy ABI");
  }
  const int runtime = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
  if (NPY_FEATURE_VERSION > runtime) {
    PyArray_API = previous;
    numpy_unusable("the running NumPy is older than the C-API this module targets");
  }
  PyArray_RUNTIME_VERSION = runtime;
}

}  // namespace ak::frame
