// The writers and the supercell on a named code path (simd_path.hpp), for
// the benchmarks: each supported path is timed beside the module's own call
// (which takes the best one) and its result checked against it, so every
// path is shown to give the same text and bits. Part of the floors' module;
// the text is copied into a new str, unlike the module's own result.
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NO_IMPORT_ARRAY
#define PY_ARRAY_UNIQUE_SYMBOL akfloor_ARRAY_API
#include <numpy/arrayobject.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "simd_path.hpp"
#include "supercell.hpp"
#include "vasp.hpp"
#include "writer.hpp"
#include "xyz.hpp"

namespace {

template <class T>
ak::StridedView<T> view_of(PyObject* object) {
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  ak::StridedView<T> v;
  v.data = static_cast<const char*>(PyArray_DATA(array));
  v.rows = static_cast<std::size_t>(PyArray_DIM(array, 0));
  v.cols = static_cast<std::size_t>(PyArray_DIM(array, 1));
  v.stride0 = PyArray_STRIDE(array, 0);
  v.stride1 = PyArray_STRIDE(array, 1);
  return v;
}

bool path_named(const char* name, ak::SimdPath& path) {
  for (const ak::SimdPath p : ak::WritePaths::list) {
    if (std::strcmp(name, ak::simd_path_name(p)) == 0 && ak::simd_path_supported(p)) {
      path = p;
      return true;
    }
  }
  PyErr_Format(PyExc_ValueError, "no supported path named %s", name);
  return false;
}

PyObject* text_of(const ak::TextBuffer& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace

// The names of the supported paths with code of their own in these
// functions, narrowest first.
PyObject* floor_paths(PyObject*, PyObject*) {
  PyObject* list = PyList_New(0);
  for (const ak::SimdPath p : ak::WritePaths::list) {
    if (ak::simd_path_supported(p)) {
      PyObject* name = PyUnicode_FromString(ak::simd_path_name(p));
      PyList_Append(list, name);
      Py_DECREF(name);
    }
  }
  return list;
}

// (path, symbols list of str, positions)
PyObject* floor_format_xyz_on(PyObject*, PyObject* args) {
  const char* name;
  PyObject *symbols, *positions;
  ak::SimdPath path;
  if (!PyArg_ParseTuple(args, "sO!O", &name, &PyList_Type, &symbols, &positions) || !path_named(name, path)) {
    return nullptr;
  }
  std::vector<std::string_view> views;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(symbols); ++i) {
    Py_ssize_t n;
    const char* s = PyUnicode_AsUTF8AndSize(PyList_GET_ITEM(symbols, i), &n);
    views.emplace_back(s, static_cast<std::size_t>(n));
  }
  auto text = ak::coordtext::format_xyz_block(views, view_of<double>(positions), ak::TextBuffer(), path);
  return text_of(text.value());
}

// (path, positions, flags)
PyObject* floor_format_poscar_on(PyObject*, PyObject* args) {
  const char* name;
  PyObject *positions, *flags;
  ak::SimdPath path;
  if (!PyArg_ParseTuple(args, "sOO", &name, &positions, &flags) || !path_named(name, path)) return nullptr;
  const auto flag_view = view_of<std::uint8_t>(flags);
  auto text = ak::coordtext::format_poscar_positions(view_of<double>(positions), &flag_view, ak::TextBuffer(), path);
  return text_of(text.value());
}

// (path, positions, index)
PyObject* floor_format_xdatcar_on(PyObject*, PyObject* args) {
  const char* name;
  PyObject* positions;
  unsigned long long index;
  ak::SimdPath path;
  if (!PyArg_ParseTuple(args, "sOK", &name, &positions, &index) || !path_named(name, path)) return nullptr;
  return text_of(ak::coordtext::format_xdatcar_config(view_of<double>(positions), index, ak::TextBuffer(), path));
}

// (path, sym_codepoints, sym_width, floats, ints, bools, col_types bytes)
PyObject* floor_write_atoms_on(PyObject*, PyObject* args) {
  const char* name;
  PyObject *codepoints, *floats, *ints, *bools;
  unsigned long long width;
  const char* codes;
  Py_ssize_t ncodes;
  ak::SimdPath path;
  if (!PyArg_ParseTuple(args, "sOKOOOy#", &name, &codepoints, &width, &floats, &ints, &bools, &codes, &ncodes) ||
      !path_named(name, path)) {
    return nullptr;
  }
  const std::span<const std::uint8_t> types(reinterpret_cast<const std::uint8_t*>(codes), static_cast<std::size_t>(ncodes));
  return text_of(ak::atomlines::write_atom_block(view_of<std::uint32_t>(codepoints), width, view_of<double>(floats),
                                                 view_of<std::int64_t>(ints), view_of<std::uint8_t>(bools), types,
                                                 ak::TextBuffer(), path));
}

// (path, prim_positions, lattice_points, cell_major): a new (N, 3) array.
PyObject* floor_supercell_on(PyObject*, PyObject* args) {
  const char* name;
  PyObject *prim, *lattice;
  int cell_major;
  ak::SimdPath path;
  if (!PyArg_ParseTuple(args, "sOOp", &name, &prim, &lattice, &cell_major) || !path_named(name, path)) return nullptr;
  auto positions = ak::cellgeom::make_supercell_positions(view_of<double>(prim), view_of<double>(lattice),
                                                          cell_major != 0, ak::kHeapArrays, path);
  npy_intp dims[2] = {static_cast<npy_intp>(positions.rows()), 3};
  PyObject* result = PyArray_SimpleNew(2, dims, NPY_FLOAT64);
  if (result != nullptr && positions.size() != 0) {
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result)), positions.data(),
                positions.size() * sizeof(double));
  }
  return result;
}
