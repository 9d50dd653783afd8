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

// The feature level of the running NumPy behind `table`, after the same
// compatibility checks as NumPy's own import: the ABI must be the one
// compiled against, and the running C-API at least the targeted level.
int checked_feature_version(void** const table) {
  // NumPy's macros read the table through this name: here, the one being
  // checked, not the published one.
  void** const PyArray_API = table;
  if (NPY_VERSION < PyArray_GetNDArrayCVersion()) numpy_unusable("module compiled against an older NumPy ABI");
  const int runtime = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
  if (NPY_FEATURE_VERSION > runtime) numpy_unusable("the running NumPy is older than the C-API this module targets");
  return runtime;
}

// NumPy's own descriptors of the element types, one reference each, kept for
// the life of the process. Written once, before the table is published, and
// read only after it is seen published.
PyArray_Descr* descriptors[5] = {};

void make_descriptors(void** const table) {
  void** const PyArray_API = table;  // as in checked_feature_version
  for (const ElementType type :
       {ElementType::float64, ElementType::int64, ElementType::uint32, ElementType::uint8, ElementType::boolean}) {
    PyArray_Descr*& slot = descriptors[static_cast<int>(type)];
    if (slot == nullptr) slot = PyArray_DescrFromType(numpy_type(type));
    if (slot == nullptr) throw PythonError{};
  }
}

// Serialises the publication: threads that imported NumPy at the same time
// publish once. It is only ever held while no Python code runs.
PyMutex publication{};

class PublicationLock {
 public:
  PublicationLock() noexcept { PyMutex_Lock(&publication); }
  ~PublicationLock() { PyMutex_Unlock(&publication); }
  PublicationLock(const PublicationLock&) = delete;
  PublicationLock& operator=(const PublicationLock&) = delete;
};

}  // namespace

PyArray_Descr* builtin_descriptor(ElementType type) noexcept { return descriptors[static_cast<int>(type)]; }

bool numpy_loaded() noexcept { return __atomic_load_n(&PyArray_API, __ATOMIC_ACQUIRE) != nullptr; }

void require_numpy() {
  if (numpy_loaded()) [[likely]] return;
  // NumPy itself first, then its multiarray module, where NumPy 2 keeps the table.
  PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  if (!numpy) numpy_unavailable();
  PyRef multiarray = PyRef::steal(PyImport_ImportModule("numpy._core.multiarray"));
  if (!multiarray) numpy_unavailable();
  PyRef capsule = PyRef::steal(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) numpy_unavailable();
  if (!PyCapsule_CheckExact(capsule.get())) numpy_unusable("_ARRAY_API is not a capsule");
  void** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (table == nullptr) numpy_unavailable();
  const int runtime = checked_feature_version(table);

  // The table is published complete: the descriptors and the runtime
  // version are set before it, and a thread that sees it (numpy_loaded's
  // acquiring load) sees them.
  const PublicationLock lock;
  if (numpy_loaded()) return;
  make_descriptors(table);
  PyArray_RUNTIME_VERSION = runtime;
  __atomic_store_n(&PyArray_API, table, __ATOMIC_RELEASE);
}

}  // namespace ak::frame
