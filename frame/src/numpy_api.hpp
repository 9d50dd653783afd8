// Access to NumPy's C API. Every frame file that touches arrays includes this
// header; the API table itself is defined once, in numpy_api.cpp, and taken
// lazily on first use so that importing a module does not import NumPy.
#pragma once

#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL ak_frame_ARRAY_API
#ifndef AK_NUMPY_API_DEFINITION
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include "intake.hpp"

namespace ak::frame {

// NumPy's type number for an element type.
constexpr int numpy_type(ElementType type) noexcept {
  switch (type) {
    case ElementType::float64: return NPY_FLOAT64;
    case ElementType::int64: return NPY_INT64;
    case ElementType::uint32: return NPY_UINT32;
    case ElementType::uint8: return NPY_UINT8;
    case ElementType::boolean: return NPY_BOOL;
  }
  return NPY_NOTYPE;
}

// Loads NumPy's API table if not done yet. A missing or unusable NumPy is a
// broken invariant of the host environment: throws ak::Panic with its reason.
void require_numpy();

// NumPy's own descriptor of an element type (borrowed; kept for the life of
// the process). Needs the table loaded (made with it).
PyArray_Descr* builtin_descriptor(ElementType type) noexcept;

}  // namespace ak::frame
