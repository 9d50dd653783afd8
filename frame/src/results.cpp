// Python 3.13.0 declares these two in cpython/tracemalloc.h without C
// linkage when compiled as C++; declared here first with it, the header's
// later declarations keep C linkage (and agree with headers that fixed it).
// No header may come before Python.h (its pyconfig.h sets the feature macros
// that the C library's headers read), so the compiler's own names for
// uintptr_t and size_t are used: a mismatch would be a compile error.
extern "C" int PyTraceMalloc_Track(unsigned int domain, __UINTPTR_TYPE__ ptr, __SIZE_TYPE__ size);
extern "C" int PyTraceMalloc_Untrack(unsigned int domain, __UINTPTR_TYPE__ ptr);

#include "results.hpp"

#include <cstring>
#include <new>

#include "failure.hpp"
#include "huge_pages.hpp"
#include "numpy_api.hpp"

namespace ak::frame {
namespace {

// The holder: a minimal object that owns the data of a result array, either
// one malloc'd buffer (freed with it) or, for a small result, the bytes it
// carries itself (one allocation instead of two).
struct BufferHolder {
  PyObject_VAR_HEAD
  void* buffer;                           // the data: a malloc'd block, or inline_data
  alignas(16) unsigned char inline_data[1];  // ob_size bytes
};

void holder_dealloc(PyObject* self) {
  auto* holder = reinterpret_cast<BufferHolder*>(self);
  if (holder->buffer != holder->inline_data) {
    // Untracked before the free, so the address cannot be reused while still traced.
    PyTraceMalloc_Untrack(kBufferTraceDomain, reinterpret_cast<std::uintptr_t>(holder->buffer));
    std::free(holder->buffer);
  }
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot holder_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(holder_dealloc)},
    {Py_tp_doc, const_cast<char*>("Owns the data buffer of a result array.")},
    {0, nullptr},
};

PyType_Spec holder_spec = {
    "atomkernels.BufferHolder", static_cast<int>(offsetof(BufferHolder, inline_data)), 1,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, holder_slots,
};

// The holder type, made at import (prepare_results) and kept for the life of
// the process: every call after that only reads it.
PyObject* holder_type = nullptr;

// A new holder with room for `inline_bytes` of its own.
BufferHolder* new_holder(std::size_t inline_bytes) {
  auto* holder = PyObject_NewVar(BufferHolder, reinterpret_cast<PyTypeObject*>(holder_type),
                                 static_cast<Py_ssize_t>(inline_bytes));
  if (holder == nullptr) throw PythonError{};
  holder->buffer = holder->inline_data;
  return holder;
}

// The descriptor of an element type (a new reference).
PyRef descriptor(ElementType type) {
  require_numpy();
  return PyRef::borrow(reinterpret_cast<PyObject*>(builtin_descriptor(type)));
}

// A new C-ordered rows x cols array over the holder's buffer, with the holder
// as its base.
PyRef array_over(PyRef holder, PyRef descr, std::size_t rows, std::size_t cols) {
  void* data = reinterpret_cast<BufferHolder*>(holder.get())->buffer;
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
  // No strides: NumPy lays out C order itself, and knows the flags without
  // working them out from given strides. The descriptor is stolen.
  PyRef array = PyRef::steal(check(PyArray_NewFromDescr(&PyArray_Type,
                                                        reinterpret_cast<PyArray_Descr*>(descr.release()), 2, dims,
                                                        nullptr, data, NPY_ARRAY_WRITEABLE, nullptr)));
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), holder.release()) < 0) {
    throw PythonError{};
  }
  return array;
}

}  // namespace

PyRef text_result(std::string_view utf8) {
  return PyRef::steal(check(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()))));
}

namespace {

// Storage of text_result_buffer(): the handle is the caller's TextScratch.
// Its bytes serve until the text outgrows them; then the block is a compact
// str of 1-byte characters (maximum 127) whose length is the capacity. Until
// text_result() trims it, the str never leaves this file.
char* scratch_resize(void** handle, std::size_t used, std::size_t capacity) {
  auto* scratch = static_cast<TextScratch*>(*handle);
  if (scratch->block == nullptr && capacity <= TextScratch::kBytes) return scratch->bytes;
  // Never zero characters: that would be the shared empty str.
  const std::size_t length = capacity != 0 ? capacity : 1;
  if (length > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
  if (scratch->block == nullptr) {
    PyObject* block = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (block == nullptr) {
      PyErr_Clear();
      throw std::bad_alloc();
    }
    std::memcpy(PyUnicode_DATA(block), scratch->bytes, used);
    scratch->block = block;
  } else if (PyUnicode_Resize(&scratch->block, static_cast<Py_ssize_t>(length)) < 0) {
    // The old block is still ours and unchanged.
    PyErr_Clear();
    throw std::bad_alloc();
  }
  char* data = static_cast<char*>(PyUnicode_DATA(scratch->block));
  advise_huge_pages(data, length);
  return data;
}

void scratch_release(void* handle) noexcept {
  auto* scratch = static_cast<TextScratch*>(handle);
  Py_CLEAR(scratch->block);
}

constexpr TextStorage kScratchStorage{scratch_resize, scratch_release};

}  // namespace

TextBuffer text_result_buffer(TextScratch& scratch) noexcept {
  scratch.block = nullptr;
  return TextBuffer(kScratchStorage, &scratch);
}

PyRef text_result(TextBuffer&& text) {
  if (&text.storage() != &kScratchStorage || text.may_hold_non_ascii()) {
    PyRef result = text_result(text.view());
    text = TextBuffer();
    return result;
  }
  const auto size = static_cast<Py_ssize_t>(text.size());
  const char* const bytes = text.data();
  auto* scratch = static_cast<TextScratch*>(text.release_block());
  if (scratch == nullptr || scratch->block == nullptr) {
    PyRef result = PyRef::steal(check(PyUnicode_New(size, 127)));
    std::memcpy(PyUnicode_DATA(result.get()), bytes, static_cast<std::size_t>(size));
    return result;
  }
  // On failure the block is unchanged and still ours: the PyRef frees it.
  PyRef result = PyRef::steal(std::exchange(scratch->block, nullptr));
  PyObject* trimmed = result.get();
  if (PyUnicode_Resize(&trimmed, size) < 0) throw PythonError{};
  result.release();
  return PyRef::steal(trimmed);
}

InternedStrings::~InternedStrings() {
  for (PyObject* object : objects_) Py_DECREF(object);
}

void InternedStrings::update(const text::TokenInterner& interner) {
  objects_.reserve(interner.size());
  for (std::size_t id = objects_.size(); id < interner.size(); ++id) {
    const std::string_view text = interner.text(static_cast<std::uint32_t>(id));
    objects_.push_back(check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))));
  }
}

void InternedStrings::fill(PyObject* list, std::size_t first, const std::uint32_t* ids, std::size_t count,
                           std::size_t id_stride) const noexcept {
  PyObject** items = PySequence_Fast_ITEMS(list) + first;
  for (std::size_t k = 0; k < count; ++k) items[k] = Py_NewRef(objects_[ids[k * id_stride]]);
}

DictShape::DictShape(std::initializer_list<const char*> keys) noexcept {
  for (const char* key : keys) {
    if (n_ < kMaxKeys) keys_[n_++] = key;
  }
}

PyObject* DictShape::key(std::size_t i) {
  PyObject* known = key_objects_[i].load(std::memory_order_acquire);
  if (known != nullptr) [[likely]] return known;
  // Two threads may make the same key at once: one is kept, the other dropped.
  PyObject* made = check(PyUnicode_InternFromString(keys_[i]));
  if (key_objects_[i].compare_exchange_strong(known, made, std::memory_order_acq_rel)) return made;
  Py_DECREF(made);
  return known;
}

PyRef dict_result(DictShape& shape, std::initializer_list<PyRef*> values) {
  if (values.size() != shape.size()) panic(kInternalFailure);
  PyRef dict = PyRef::steal(check(PyDict_New()));
  std::size_t i = 0;
  for (PyRef* value : values) {
    if (PyDict_SetItem(dict.get(), shape.key(i++), value->get()) < 0) throw PythonError{};
    *value = PyRef();
  }
  return dict;
}

bool prepare_results() noexcept {
  if (holder_type == nullptr) holder_type = PyType_FromSpec(&holder_spec);
  return holder_type != nullptr;
}

PyRef tuple_result(std::initializer_list<PyRef*> members) {
  PyRef tuple = PyRef::steal(check(PyTuple_New(static_cast<Py_ssize_t>(members.size()))));
  Py_ssize_t i = 0;
  for (PyRef* member : members) PyTuple_SET_ITEM(tuple.get(), i++, member->release());
  return tuple;
}

namespace {

// Results up to this size live inside their holder: the holder stays a small
// object of the interpreter's own allocator.
constexpr std::size_t kInlineBytes = 448;

void* result_allocate(std::size_t bytes, bool zeroed, void** handle) {
  if (bytes <= kInlineBytes) {
    BufferHolder* holder = new_holder(bytes);
    if (zeroed) std::memset(holder->inline_data, 0, bytes);
    *handle = holder;
    return holder->inline_data;
  }
  PyRef owner = PyRef::steal(reinterpret_cast<PyObject*>(new_holder(0)));
  void* buffer = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
  if (buffer == nullptr) throw std::bad_alloc();
  advise_huge_pages(buffer, bytes);
  reinterpret_cast<BufferHolder*>(owner.get())->buffer = buffer;
  // A failure to record the trace (tracing off, or no memory for it)
  // changes nothing else.
  PyTraceMalloc_Track(kBufferTraceDomain, reinterpret_cast<std::uintptr_t>(buffer), bytes);
  *handle = owner.release();
  return buffer;
}

void result_release(void* handle) noexcept { Py_DECREF(static_cast<PyObject*>(handle)); }

}  // namespace

const ArrayStorage kResultArrays{result_allocate, result_release};

PyRef holder_array(void* holder, std::size_t rows, std::size_t cols, ElementType type) {
  PyRef owner = PyRef::steal(static_cast<PyObject*>(holder));
  return array_over(std::move(owner), descriptor(type), rows, cols);
}

PyRef adopt_array(void* buffer, std::size_t rows, std::size_t cols, ElementType type) {
  // The holder takes the buffer first, so every later failure frees it.
  BufferHolder* holder;
  try {
    holder = new_holder(0);
  } catch (...) {
    std::free(buffer);
    throw;
  }
  holder->buffer = buffer;
  PyRef owner = PyRef::steal(reinterpret_cast<PyObject*>(holder));
  PyRef descr = descriptor(type);
  const auto item = static_cast<std::size_t>(PyDataType_ELSIZE(reinterpret_cast<PyArray_Descr*>(descr.get())));
  PyTraceMalloc_Track(kBufferTraceDomain, reinterpret_cast<std::uintptr_t>(buffer),
                      (rows * cols != 0 ? rows * cols : 1) * item);
  return array_over(std::move(owner), std::move(descr), rows, cols);
}

PyRef small_array_result(const void* data, std::size_t rows, std::size_t cols, ElementType type) {
  PyRef descr = descriptor(type);
  const std::size_t bytes =
      rows * cols * static_cast<std::size_t>(PyDataType_ELSIZE(reinterpret_cast<PyArray_Descr*>(descr.get())));
  PyRef owner = PyRef::steal(reinterpret_cast<PyObject*>(new_holder(bytes)));
  std::memcpy(reinterpret_cast<BufferHolder*>(owner.get())->inline_data, data, bytes);
  return array_over(std::move(owner), std::move(descr), rows, cols);
}

}  // namespace ak::frame
