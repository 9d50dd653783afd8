// Conversion of work results into new Python objects. Every function returns
// a new reference or throws (PythonError with an exception set, or
// std::bad_alloc).
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "intake.hpp"
#include "owned_array.hpp"
#include "small_vector.hpp"
#include "py_ref.hpp"
#include "text/interner.hpp"
#include "text_buffer.hpp"

namespace ak::frame {

// A str holding the UTF-8 text.
PyRef text_result(std::string_view utf8);

// Room for a short text on the caller's stack. A text that outgrows it
// moves into a str under construction, which becomes the result without a
// second copy; a short one is copied once into a str of its exact size, so a
// small result costs no allocation beyond the str itself.
struct TextScratch {
  static constexpr std::size_t kBytes = 4096;
  PyObject* block = nullptr;  // the str under construction, once the text outgrew `bytes`
  char bytes[kBytes];
};

// An empty TextBuffer over `scratch` (which must outlive it). Needs the GIL
// whenever it grows or is destroyed.
TextBuffer text_result_buffer(TextScratch& scratch) noexcept;

// A str holding the UTF-8 text of `text`. For a buffer from
// text_result_buffer() whose bytes are all ASCII (none noted otherwise) this
// is the str it was written into, trimmed to size, or an exact copy of the
// scratch bytes; any other text is decoded into a new str. The buffer is
// left empty either way.
PyRef text_result(TextBuffer&& text);

// One str per distinct text of a TokenInterner, made as its ids appear and
// shared by every row that has the id.
class InternedStrings {
 public:
  InternedStrings() = default;
  InternedStrings(const InternedStrings&) = delete;
  InternedStrings& operator=(const InternedStrings&) = delete;
  ~InternedStrings();

  // Makes the str of every id the interner has given out since last time.
  void update(const text::TokenInterner& interner);
  // Stores the str of ids[k] at list[first + k] for k < count (the list's
  // items there are empty).
  void fill(PyObject* list, std::size_t first, const std::uint32_t* ids, std::size_t count,
            std::size_t id_stride = 1) const noexcept;

 private:
  SmallVector<PyObject*, 16> objects_;  // new references
};

// Makes the per-process state of results (the holder type), at import,
// before any call; false with an exception set if it cannot.
bool prepare_results() noexcept;

// A tuple of the given objects, in order (the references are consumed).
PyRef tuple_result(std::initializer_list<PyRef*> members);

// The keys of a result dict, in order: their str objects are made and
// interned on first use and kept, so a dict costs only its insertions.
class DictShape {
 public:
  static constexpr std::size_t kMaxKeys = 8;
  // `keys` are C strings of static storage.
  DictShape(std::initializer_list<const char*> keys) noexcept;

  std::size_t size() const noexcept { return n_; }
  // The interned str of key i (borrowed), made on first use.
  PyObject* key(std::size_t i);

 private:
  const char* keys_[kMaxKeys] = {};
  std::size_t n_ = 0;
  std::atomic<PyObject*> key_objects_[kMaxKeys] = {};  // kept for the life of the process
};

// A dict of `shape` whose values are `values`, in order (the references are
// consumed).
PyRef dict_result(DictShape& shape, std::initializer_list<PyRef*> values);

// tracemalloc domain of the adopted result buffers ("ak"): they are native
// allocations, so they are reported by hand, apart from the interpreter's
// own domain 0 and NumPy's domain.
inline constexpr unsigned int kBufferTraceDomain = 0x616B;

// Storage for the arrays a call returns: each block is a holder object that
// frees the data when the array goes away. A small block carries its data
// inside the holder (one allocation); a large one owns a malloc'd buffer,
// reported to tracemalloc (kBufferTraceDomain) for as long as it lives.
// Needs the GIL.
extern const ArrayStorage kResultArrays;

// A new C-ordered 2-D array of `type` over a block of kResultArrays (the
// handle, consumed), with the holder as its base.
PyRef holder_array(void* holder, std::size_t rows, std::size_t cols, ElementType type);

// The same for a malloc'd buffer (consumed), which a new holder adopts.
PyRef adopt_array(void* buffer, std::size_t rows, std::size_t cols, ElementType type);

// A new C-ordered 2-D array of `type` holding a copy of rows x cols elements
// at `data`, stored in the holder object itself.
PyRef small_array_result(const void* data, std::size_t rows, std::size_t cols, ElementType type);

// The array of an OwnedArray, without a copy: best made over kResultArrays.
template <class T>
PyRef array_result(OwnedArray<T>&& array, ElementType type) {
  const std::size_t rows = array.rows();
  const std::size_t cols = array.cols();
  const bool in_holder = &array.storage() == &kResultArrays;
  void* block = array.release_block();
  return in_holder ? holder_array(block, rows, cols, type) : adopt_array(block, rows, cols, type);
}

}  // namespace ak::frame
