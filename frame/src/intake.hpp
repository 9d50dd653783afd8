// Conversion of argument objects into native values. Each function either
// returns the value or throws PythonError with a Python exception set; the
// caller (Args in call.hpp) adds the "argument 'NAME': " prefix to TypeErrors.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "py_ref.hpp"
#include "strided.hpp"

namespace ak::frame {

// UTF-8 views of the items of a string sequence. The views point into the
// item objects, which this holds strong references to until it is destroyed,
// so the text stays valid for the whole call even if the caller's list changes.
class StringList {
 public:
  StringList() = default;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  StringList(StringList&&) noexcept = default;
  StringList& operator=(StringList&&) noexcept = default;

  const std::vector<std::string_view>& views() const noexcept { return views_; }

 private:
  friend StringList take_string_list(PyObject* object);
  std::vector<PyRef> owners_;
  std::vector<std::string_view> views_;
};

StringList take_string_list(PyObject* object);
std::vector<std::uint8_t> take_byte_list(PyObject* object);
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
