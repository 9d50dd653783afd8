// Conversion of argument objects into native values. Each function either
// returns the value or throws PythonError with a Python exception set; the
// caller (Args in call.hpp) adds the "argument 'NAME': " prefix to TypeErrors.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "py_ref.hpp"
#include "strided.hpp"

namespace ak::frame {

// The lines argument of a reader: a str sequence whose items are read in
// place while the work parses them, one chunk of lines at a time, so the
// list is walked once and nothing is kept per line beyond the chunk.
//
// An exact list or tuple is read directly: no Python code runs while the
// call reads it, so it cannot change (pin() covers the one conversion that
// could run code before the read). Any other sequence is iterated once into
// a new list, item errors raised as they come, exactly as it is consumed.
class LineList {
 public:
  // Lines per chunk: the views of a chunk stay in the first-level cache.
  static constexpr std::size_t kChunk = 64;

  LineList(PyObject* object, const char* name);

  std::size_t size() const noexcept { return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items_.get())); }

  // Calls consume(std::span<const std::string_view> chunk, std::size_t
  // first_line) -> bool for the lines in order, one chunk at a time, until
  // it returns false; returns whether every chunk was consumed. The views
  // are CPython's own UTF-8 buffers of the items. An item that is not a str,
  // or whose text has no UTF-8 form, raises (PythonError; a TypeError with
  // the argument prefix) before its chunk is consumed; after a stop, the
  // items not yet read are still checked, because an argument error wins
  // over a failure of the work in an earlier line.
  template <class Consume>
  bool read(Consume&& consume) const {
    const std::size_t n = size();
    std::string_view views[kChunk];
    for (std::size_t first = 0; first < n; first += kChunk) {
      const std::size_t count = std::min(kChunk, n - first);
      take_views_prefixed(first, count, views);
      if (!consume(std::span<const std::string_view>(views, count), first)) {
        check_items(first + count);
        return false;
      }
    }
    return true;
  }

  // Checks the items from `first` on as read() would, raising the first
  // error; reads nothing.
  void check_items(std::size_t first) const;

  // Replaces a list by a tuple of its items, so that Python code run before
  // the read (by a later argument's conversion) cannot change what is read.
  void pin();

  // Stores the views of items first .. first + count - 1; an item error is
  // raised as it is, without the argument prefix.
  void take_views(std::size_t first, std::size_t count, std::string_view* views) const;

 private:
  void take_views_prefixed(std::size_t first, std::size_t count, std::string_view* views) const;

  PyRef items_;  // exact list or tuple
  const char* name_;
};

// UTF-8 views of all the items of a string sequence (a writer's symbols),
// taken in one walk. The views point into CPython's own buffers of the items,
// which the sequence keeps alive; no Python code runs while a call holds them,
// so the sequence cannot change under them.
class StringList {
 public:
  explicit StringList(PyObject* object);

  const std::vector<std::string_view>& views() const noexcept { return views_; }

 private:
  LineList items_;
  std::vector<std::string_view> views_;
};

// Replaces a pending TypeError (exactly that type) by one whose message is
// "argument 'NAME': " followed by the original text, keeping its cause.
void prefix_type_error(const char* name);

std::vector<std::uint8_t> take_byte_list(PyObject* object);
// Whether take_byte_list(object) could run Python code: anything but bytes,
// bytearray and an exact list or tuple of exact ints.
bool may_run_code_when_taken_as_bytes(PyObject* object) noexcept;
bool take_bool(PyObject* object);
std::uint64_t take_uint64(PyObject* object);

// Element types an array argument may have.
enum class ElementType { float64, int64, uint32, uint8, boolean };

// A read-only view of an argument array plus the strong reference that keeps
// the array alive while the view is in use.
template <class T>
struct BorrowedArray {
  PyRef owner;
  StridedView<T> view;
};

// Checks the object is a 2-D ndarray (or subclass) of the element type (or an
// equivalent dtype) and returns its geometry; never converts or copies.
PyRef take_array_object(PyObject* object, ElementType type, const char** data,
                        std::size_t (&extents)[2], std::ptrdiff_t (&strides)[2]);

template <class T>
BorrowedArray<T> take_array(PyObject* object, ElementType type) {
  BorrowedArray<T> result;
  std::size_t extents[2];
  std::ptrdiff_t strides[2];
  result.owner = take_array_object(object, type, &result.view.data, extents, strides);
  result.view.rows = extents[0];
  result.view.cols = extents[1];
  result.view.stride0 = strides[0];
  result.view.stride1 = strides[1];
  return result;
}

}  // namespace ak::frame
