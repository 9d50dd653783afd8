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

namespace ak::frame {

// Loads NumPy's API table if not done yet. A missing or unusable NumPy is a
// broken invariant of the host environment: throws ak::Panic with its reason.
void require_numpy();

}  // namespace ak::frame
