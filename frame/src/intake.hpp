// Conversion of argument objects into native values. Each function either
// returns the value or throws PythonError with a Python exception set; the
// caller (Args in call.hpp) adds the "argument 'NAME': " prefix to TypeErrors.
//
// Conversions keep strong references and owned values only; views of an
// argument's memory are taken once the call is sealed (sealed.hpp).
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "critical_section.hpp"
#include "failure.hpp"
#include "py_ref.hpp"
#include "sealed.hpp"
#include "small_vector.hpp"
#include "strided.hpp"

namespace ak::frame {

// A string sequence argument (a reader's lines, a writer's symbols), read in
// place once the call is sealed: the views are CPython's own UTF-8 buffers of
// the items, taken one chunk of lines at a time, so the sequence is walked
// once and nothing is kept per line beyond the chunk.
//
// An exact tuple is kept as it is. An exact list is kept as it is on a build
// with the interpreter lock; on one without it, where another thread may
// change the list at any moment, it is copied at conversion into a tuple of
// its items, in one step under the list's lock (critical_section.hpp). Any
// other sequence is iterated once, at conversion, into a new list of our own
// (item errors raised as they come, exactly as it is consumed), which no
// other code can reach.
class LineList {
 public:
  // Lines per chunk: the views of a chunk stay in the first-level cache.
  static constexpr std::size_t kChunk = 64;

  LineList(PyObject* object, const char* name);

  // Whether `object` is taken without running its Python code (an exact list
  // or tuple); any other sequence is iterated at conversion.
  static bool read_in_place(PyObject* object) noexcept {
    return PyList_CheckExact(object) || PyTuple_CheckExact(object);
  }

  std::size_t size(const Sealed&) const noexcept { return count(); }

  // Feeds the lines in order to read_chunk(std::span<const std::string_view>
  // chunk, std::size_t first_line) -> std::optional<Failure>, one chunk at a
  // time, until it fails; returns that failure, or nothing once every chunk
  // is read. This is the one place a reader reads its lines. An item that is
  // not a str, or whose text has no UTF-8 form, raises (PythonError; a
  // TypeError with the argument prefix) before its chunk is read; after a
  // failure the items not yet read are still checked, because an argument
  // error wins over a failure of the work in an earlier line.
  template <class ReadChunk>
  std::optional<Failure> feed(const Sealed&, ReadChunk&& read_chunk) const {
    const std::size_t n = count();
    ChunkViews views;
    for (std::size_t first = 0; first < n; first += kChunk) {
      const std::size_t chunk = std::min(kChunk, n - first);
      take_views(first, chunk, views.at);
      interleave_point();
      if (std::optional<Failure> failure = read_chunk(std::span<const std::string_view>(views.at, chunk), first)) {
        check_items(first + chunk);
        return failure;
      }
    }
    return std::nullopt;
  }

  // The views of all the items at once (a writer's symbols), with read()'s
  // item errors.
  std::vector<std::string_view> views(const Sealed&) const;

  // Checks the items from `first` on as read() would, raising the first
  // error; keeps no view.
  void check_items(std::size_t first) const;

  // Replaces a caller's list by a tuple of its items, so that Python code run
  // by a later conversion cannot change what is read. Nothing to do for a
  // tuple, for a list of our own, or for a list already copied.
  void pin();

 private:
  std::size_t count() const noexcept { return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items_.get())); }
  // Stores the views of items first .. first + n - 1, raising an item error
  // with the argument prefix.
  void take_views(std::size_t first, std::size_t n, std::string_view* views) const;

  // Room for the views of one chunk, left unset: a small block would
  // otherwise pay for clearing all of it. A view is set before it is read.
  union ChunkViews {
    ChunkViews() noexcept {}
    std::string_view at[kChunk];
  };

  PyRef items_;  // exact list or tuple
  const char* name_;
  bool callers_list_ = false;  // items_ is the caller's own list: pin() copies it
};

// Replaces a pending TypeError (exactly that type) by one whose message is
// "argument 'NAME': " followed by the original text, keeping its cause.
void prefix_type_error(const char* name);

// Whether the pending exception is one that no conversion may swallow or
// turn into another: anything that is not an Exception (KeyboardInterrupt,
// SystemExit), and exhausted memory or recursion; false when none is
// pending. Such an exception, raised by code that runs during a call, comes
// out of the call as it is.
bool pending_exception_is_urgent() noexcept;

// The codes of a byte sequence; the usual few are kept inline.
using ByteList = SmallVector<std::uint8_t, 64>;
ByteList take_byte_list(PyObject* object);
// Whether take_byte_list(object) could run Python code: anything but bytes,
// bytearray and an exact list or tuple of exact ints.
bool may_run_code_when_taken_as_bytes(PyObject* object) noexcept;
bool take_bool(PyObject* object);
// Whether take_bool(object) could run Python code: anything but True and False.
inline bool may_run_code_when_taken_as_bool(PyObject* object) noexcept {
  return object != Py_True && object != Py_False;
}
std::uint64_t take_uint64(PyObject* object);
// Whether take_uint64(object) could run Python code (its __index__).
inline bool may_run_code_when_taken_as_uint64(PyObject* object) noexcept { return !PyLong_Check(object); }

// Element types an array argument may have.
enum class ElementType { float64, int64, uint32, uint8, boolean };

// Checks the object is a 2-D ndarray (or subclass) of the element type (or an
// equivalent dtype), else raises the conversion TypeError; never converts or
// copies. Loads NumPy's table first.
void check_array(PyObject* object, ElementType type);

// Whether NumPy's table is loaded, so that check_array runs no Python code.
bool numpy_loaded() noexcept;

// The data pointer, extents and byte strides of an array check_array accepted.
const char* array_geometry(PyObject* array, std::size_t (&extents)[2], std::ptrdiff_t (&strides)[2]) noexcept;

// An array argument: the strong reference that keeps it alive for the call
// (NumPy refuses to resize an array while it is held). Its geometry (data
// pointer, extents, strides) is read only once the call is sealed, since
// Python code run by a later conversion may resize it, and then only once.
template <class T>
class ArrayArg {
 public:
  explicit ArrayArg(PyObject* array) noexcept : array_(PyRef::borrow(array)) {}

  StridedView<T> view(const Sealed&) const noexcept {
    StridedView<T> v;
    std::size_t extents[2];
    std::ptrdiff_t strides[2];
    v.data = array_geometry(array_.get(), extents, strides);
    v.rows = extents[0];
    v.cols = extents[1];
    v.stride0 = strides[0];
    v.stride1 = strides[1];
    interleave_point();
    return v;
  }

 private:
  PyRef array_;
};

}  // namespace ak::frame
