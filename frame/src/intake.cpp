#include "intake.hpp"

#include <climits>
#include <cstring>

#include "numpy_api.hpp"

namespace ak::frame {
namespace {

// `'TYPE' object cannot be converted to 'TARGET'`, TYPE being the qualified
// name of the object's type.
[[noreturn]] void cannot_convert(PyObject* object, const char* target) {
  PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!qualname) throw_python_error();
  PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname.get(), target);
  throw_python_error();
}

// The sequence rule shared by string and byte sequences: a str is refused, and
// so is anything without the sequence protocol.
void require_sequence(PyObject* object) {
  if (PyUnicode_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    throw_python_error();
  }
  if (!PySequence_Check(object)) cannot_convert(object, "Sequence");
}

// Length as a capacity hint only: a failing __len__ is ignored (unless it
// was interrupted), and a first reservation from it is capped, so a length
// that claims more than the items really given costs nothing.
constexpr std::size_t kMaxLengthHint = 1 << 14;

std::size_t length_hint(PyObject* object) {
  const Py_ssize_t n = PySequence_Size(object);
  if (n < 0) {
    if (pending_exception_is_urgent()) throw_python_error();
    PyErr_Clear();
    return 0;
  }
  return std::min(static_cast<std::size_t>(n), kMaxLengthHint);
}

// Calls visit(item) for each item the iterator protocol gives (a borrowed
// reference, valid during the visit).
template <class Visit>
void for_each_item(PyObject* object, Visit&& visit) {
  PyRef iterator = PyRef::steal(PyObject_GetIter(object));
  if (!iterator) throw_python_error();
  while (true) {
    PyRef item = PyRef::steal(PyIter_Next(iterator.get()));
    if (!item) {
      if (PyErr_Occurred()) throw_python_error();
      return;
    }
    visit(item.get());
  }
}

// The UTF-8 text of a str item, in CPython's own buffer (valid while the
// item lives): the data of a compact ASCII str, else its cached UTF-8 form.
inline std::string_view item_utf8(PyObject* item) {
  if (!PyUnicode_Check(item)) [[unlikely]] cannot_convert(item, "PyString");
  if (PyUnicode_IS_COMPACT_ASCII(item)) [[likely]] {
    // The characters follow the object header (what PyUnicode_DATA finds
    // after testing the same two flags again).
    return {reinterpret_cast<const char*>(reinterpret_cast<const PyASCIIObject*>(item) + 1),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(item))};
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
  if (utf8 == nullptr) throw_python_error();
  return {utf8, static_cast<std::size_t>(size)};
}

}  // namespace

void prefix_type_error(const char* name) {
  PyRef raised = PyRef::steal(PyErr_GetRaisedException());
  if (!raised) return;
  if (Py_TYPE(raised.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(raised.release());
    return;
  }
  PyRef text = PyRef::steal(PyObject_Str(raised.get()));
  if (!text) {
    // Its text cannot be made (a failing __str__ of its argument): the
    // stand-in CPython prints in a traceback then.
    if (pending_exception_is_urgent()) return;
    PyErr_Clear();
    text = PyRef::steal(PyUnicode_FromString("<exception str() failed>"));
    if (!text) return;
  }
  PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) return;
  PyRef replacement = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!replacement) return;
  PyRef cause = PyRef::steal(PyException_GetCause(raised.get()));
  if (cause) PyException_SetCause(replacement.get(), cause.release());
  PyErr_SetRaisedException(replacement.release());
}

bool pending_exception_is_urgent() noexcept {
  if (PyErr_Occurred() == nullptr) return false;
  return !PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError) ||
         PyErr_ExceptionMatches(PyExc_RecursionError);
}

LineList::LineList(PyObject* object, const char* name) : name_(name) {
  if (PyTuple_CheckExact(object)) {
    items_ = PyRef::borrow(object);
    return;
  }
  if (PyList_CheckExact(object)) {
#if AK_SNAPSHOT_ARGUMENTS
    // Copied under the list's lock (PyList_AsTuple takes it), with a strong
    // reference to every item.
    items_ = PyRef::steal(PyList_AsTuple(object));
    if (!items_) throw_python_error();
#else
    items_ = PyRef::borrow(object);
    callers_list_ = true;
#endif
    return;
  }
  require_sequence(object);
  // The length only sizes the list up front; the items are what the
  // iteration gives, and the unfilled tail is cut off at the end.
  const std::size_t hint = length_hint(object);
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(hint)));
  if (!list) throw_python_error();
  std::size_t n = 0;
  for_each_item(object, [&](PyObject* item) {
    item_utf8(item);  // the item's error, raised as it comes; the view is not kept
    if (n < hint) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(n), Py_NewRef(item));
    } else if (PyList_Append(list.get(), item) < 0) {
      throw_python_error();
    }
    ++n;
  });
  if (n < hint && PyList_SetSlice(list.get(), static_cast<Py_ssize_t>(n), static_cast<Py_ssize_t>(hint), nullptr) < 0) {
    throw_python_error();
  }
  items_ = std::move(list);
}

void LineList::take_views(std::size_t first, std::size_t n, std::string_view* views) const {
  PyObject* const* items = PySequence_Fast_ITEMS(items_.get()) + first;
  try {
    for (std::size_t k = 0; k < n; ++k) views[k] = item_utf8(items[k]);
  } catch (const PythonError&) {
    prefix_type_error(name_);
    throw;
  }
}

std::vector<std::string_view> LineList::views(const Sealed&) const {
  std::vector<std::string_view> all(count());
  take_views(0, all.size(), all.data());
  return all;
}

void LineList::check_items(std::size_t first) const {
  PyObject* const* items = PySequence_Fast_ITEMS(items_.get());
  const std::size_t n = count();
  try {
    for (std::size_t k = first; k < n; ++k) item_utf8(items[k]);
  } catch (const PythonError&) {
    prefix_type_error(name_);
    throw;
  }
}

void LineList::pin() {
  if (!callers_list_) return;
  PyRef tuple = PyRef::steal(PyList_AsTuple(items_.get()));
  if (!tuple) throw_python_error();
  items_ = std::move(tuple);
  callers_list_ = false;
}

ByteList take_byte_list(PyObject* object) {
  require_sequence(object);
  ByteList bytes;
  const auto copy = [&bytes](const char* data, Py_ssize_t size) {
    bytes.resize(static_cast<std::size_t>(size));
    if (size != 0) std::memcpy(bytes.data(), data, static_cast<std::size_t>(size));
  };
  if (PyBytes_CheckExact(object)) {
    copy(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object));
    return bytes;
  }
  if (PyByteArray_CheckExact(object)) {
    interleave_point();
    const CriticalSection section(object);  // another thread may resize it
    copy(PyByteArray_AS_STRING(object), PyByteArray_GET_SIZE(object));
    return bytes;
  }
  bytes.reserve(length_hint(object));
  // Items may run Python code (__index__), so iterate through the protocol
  // with owned references rather than borrowed item pointers.
  PyRef iterator = PyRef::steal(PyObject_GetIter(object));
  if (!iterator) throw_python_error();
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    interleave_point();
    const long value = PyLong_AsLong(item.get());
    if (value == -1 && PyErr_Occurred()) throw_python_error();
    if (value < 0 || value > 255) {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
      throw_python_error();
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  if (PyErr_Occurred()) throw_python_error();
  return bytes;
}

bool may_run_code_when_taken_as_bytes(PyObject* object) noexcept {
  if (PyBytes_CheckExact(object) || PyByteArray_CheckExact(object)) return false;
  if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) return true;
  interleave_point();
  const CriticalSection section(object);  // another thread may change the list
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(object);
  PyObject* const* items = PySequence_Fast_ITEMS(object);
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!PyLong_CheckExact(items[i])) return true;
  }
  return false;
}

bool take_bool(PyObject* object) {
  if (object == Py_True) return true;
  if (object == Py_False) return false;
  // NumPy's boolean scalar, recognised by name so NumPy need not be loaded.
  PyTypeObject* type = Py_TYPE(object);
  PyRef module = PyRef::steal(PyType_GetModuleName(type));
  if (!module) {
    PyErr_Clear();
  } else if (PyUnicode_Check(module.get()) &&
             PyUnicode_EqualToUTF8AndSize(module.get(), "numpy", 5)) {
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) throw_python_error();
    if (PyUnicode_EqualToUTF8AndSize(name.get(), "bool_", 5) ||
        PyUnicode_EqualToUTF8AndSize(name.get(), "bool", 4)) {
      const int truth = PyObject_IsTrue(object);
      if (truth < 0) throw_python_error();
      return truth != 0;
    }
  }
  cannot_convert(object, "PyBool");
}

std::uint64_t take_uint64(PyObject* object) {
  PyRef index;
  if (!PyLong_Check(object)) {
    index = PyRef::steal(PyNumber_Index(object));
    if (!index) throw_python_error();
    object = index.get();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
  return value;
}

void check_array(PyObject* object, ElementType type) {
  require_numpy();
  if (!PyArray_Check(object)) cannot_convert(object, "PyArray<T, D>");
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (PyArray_NDIM(array) != 2) cannot_convert(object, "PyArray<T, D>");
  PyArray_Descr* const wanted = builtin_descriptor(type);
  PyArray_Descr* const actual = PyArray_DESCR(array);
  if (actual != wanted && !PyArray_EquivTypes(actual, wanted)) cannot_convert(object, "PyArray<T, D>");
}

const char* array_geometry(PyObject* object, std::size_t (&extents)[2], std::ptrdiff_t (&strides)[2]) noexcept {
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  extents[0] = static_cast<std::size_t>(PyArray_DIM(array, 0));
  extents[1] = static_cast<std::size_t>(PyArray_DIM(array, 1));
  strides[0] = PyArray_STRIDE(array, 0);
  strides[1] = PyArray_STRIDE(array, 1);
  return static_cast<const char*>(PyArray_DATA(array));
}

}  // namespace ak::frame
