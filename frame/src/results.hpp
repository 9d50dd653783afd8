// Conversion of work results into new Python objects. Every function returns
// a new reference or throws (PythonError with an exception set, or
// std::bad_alloc).
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "intake.hpp"
#include "owned_array.hpp"
#include "py_ref.hpp"
#include "text/interner.hpp"
#include "text_buffer.hpp"

namespace ak::frame {

// A str holding the UTF-8 text.
PyRef text_result(std::string_view utf8);

// An empty TextBuffer whose memory is a str under construction, so that the
// text written into it becomes the result of text_result(TextBuffer&&)
// without a copy. Needs the GIL whenever it grows or is destroyed.
TextBuffer text_result_buffer() noexcept;

// A str holding the UTF-8 text of `text`. For a buffer from
// text_result_buffer() whose bytes are all ASCII (none noted otherwise) this
// is the buffer's own memory, trimmed to size; any other text is decoded
// into a new str. The buffer is left empty either way.
PyRef text_result(TextBuffer&& text);

// One str per distinct text of a TokenInterner, made as its ids appear and
// shared by every row that has the id.
class InternedStrings {
 public:
  // Makes the str of every id the interner has given out since last time.
  void update(const text::TokenInterner& interner);
  // Stores the str of ids[k] at list[first + k] for k < count (the list's
  // items there are empty).
  void fill(PyObject* list, std::size_t first, const std::uint32_t* ids, std::size_t count,
            std::size_t id_stride = 1) const noexcept;

 private:
  std::vector<PyRef> objects_;
};

// A tuple of the given objects, in order (the references are consumed).
PyRef tuple_result(std::initializer_list<PyRef*> members);

// tracemalloc domain of the adopted result buffers ("ak"): they are native
// allocations, so they are reported by hand, apart from the interpreter's
// own domain 0 and NumPy's domain.
inline constexpr unsigned int kBufferTraceDomain = 0x616B;

// A new C-ordered 2-D array of `type` that adopts `buffer` without copying;
// a holder object frees the buffer when the array goes away. The buffer is
// reported to tracemalloc (kBufferTraceDomain) for as long as it lives.
PyRef adopt_array(void* buffer, std::size_t rows, std::size_t cols, ElementType type);

// A new C-ordered 2-D array of `type` holding a copy of rows x cols elements
// at `data`, stored in the holder object itself: for small results, one
// allocation instead of a buffer and a holder.
PyRef small_array_result(const void* data, std::size_t rows, std::size_t cols, ElementType type);

template <class T>
PyRef array_result(OwnedArray<T>&& array, ElementType type) {
  const std::size_t rows = array.rows();
  const std::size_t cols = array.cols();
  // An empty array still gets a (one-element) buffer of its own, so every
  // result has the same ownership: base is the holder.
  void* buffer = array.size() != 0 ? static_cast<void*>(array.release()) : std::calloc(1, sizeof(T));
  if (buffer == nullptr) throw std::bad_alloc();
  return adopt_array(buffer, rows, cols, type);
}

}  // namespace ak::frame
