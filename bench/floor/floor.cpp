// The floor of each benchmarked function: the unavoidable part of the same
// work, done alone on the same data, against which bench/ measures the real
// functions. Built only for the benchmarks (see the Makefile's bench target);
// never installed.
//
// Each floor does what its function must do and nothing else:
//   - walk the list and take each str's UTF-8 buffer (compact ASCII data);
//   - cut the tokens (the project's tokenizer: for the XYZ and atom lines on
//     the vector path, the line's whitespace mask, as the readers do);
//   - convert the numbers with the fastest exact conversion at hand, chosen by
//     the caller: 0 = the project's parser (on the XYZ and atom lines, the
//     vector path's scan where the reader takes it), 1 = std::from_chars
//     (both exact);
//   - build the results: NumPy-allocated arrays, and for symbol or string
//     columns one str per distinct raw token, found through a small
//     direct-mapped table and shared by all its rows.
// It checks nothing (the input is known to be well formed), normalises no
// symbol, builds no message and keeps no line numbers. The writers' floors
// format the same fields with the fastest exact formatter (the project's own,
// on the best code path) into one str sized for the longest rows; the
// supercell floor fills a new array of the output's size once.
#include <Python.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL akfloor_ARRAY_API  // shared with paths.cpp
#include <numpy/arrayobject.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "huge_pages.hpp"
#include "simd_path.hpp"
#include "text/float_parse.hpp"
#include "text/number_format.hpp"
#include "text/row_tokens.hpp"
#include "text/tokenizer.hpp"

namespace {

using ak::text::skip_space;
using ak::text::token_end;

template <int Converter>
inline const char* number(const char* p, const char* end, const char* begin, double& out) {
  if constexpr (Converter == 0) {
    return ak::text::scan_float(p, end, begin, out).end;
  } else {
    // from_chars wants no leading '+'; the data here has none.
    return std::from_chars(p, end, out).ptr;
  }
}

inline std::string_view utf8(PyObject* item) {
  return {static_cast<const char*>(PyUnicode_DATA(item)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(item))};
}

// One str per distinct raw token of up to eight bytes.
class TokenStrings {
 public:
  ~TokenStrings() {
    for (PyObject* o : made_) Py_DECREF(o);
  }
  PyObject* get(const char* p, std::size_t n) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, n <= 8 ? n : 8);
    Slot& slot = slots_[((word ^ n) * 0x9E3779B97F4A7C15ull) >> 57];
    if (slot.word == word && slot.size == n) return slot.object;
    PyObject* o = PyUnicode_FromStringAndSize(p, static_cast<Py_ssize_t>(n));
    made_.push_back(o);
    slot = Slot{word, n, o};
    return o;
  }

 private:
  struct Slot {
    std::uint64_t word = 0;
    std::size_t size = 0;
    PyObject* object = nullptr;
  };
  Slot slots_[128] = {};
  std::vector<PyObject*> made_;
};

PyObject* new_array(std::size_t rows, std::size_t cols, int type) {
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
  return PyArray_SimpleNew(2, dims, type);
}

template <int Converter>
PyObject* poscar(PyObject* list) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  PyObject* positions = new_array(static_cast<std::size_t>(n), 3, NPY_FLOAT64);
  PyObject* flags = new_array(static_cast<std::size_t>(n), 3, NPY_BOOL);
  auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(positions)));
  auto* frozen = static_cast<std::uint8_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(flags)));
  for (Py_ssize_t i = 0; i < n; ++i, out += 3, frozen += 3) {
    const std::string_view line = utf8(PyList_GET_ITEM(list, i));
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    const char* q = begin;
    for (int j = 0; j < 3; ++j) q = number<Converter>(skip_space(q, end), end, begin, out[j]);
    for (int j = 0; j < 3; ++j) {
      const char* p = skip_space(q, end);
      frozen[j] = *p == 'F';
      q = p + 1;
    }
  }
  return Py_BuildValue("(NN)", positions, flags);
}

template <int Converter>
PyObject* xdatcar(PyObject* list) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  PyObject* positions = new_array(static_cast<std::size_t>(n), 3, NPY_FLOAT64);
  auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(positions)));
  for (Py_ssize_t i = 0; i < n; ++i, out += 3) {
    const std::string_view line = utf8(PyList_GET_ITEM(list, i));
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    const char* q = begin;
    for (int j = 0; j < 3; ++j) q = number<Converter>(skip_space(q, end), end, begin, out[j]);
  }
  return positions;
}

// A float of a row: on Converter 0 the float scan of the row's token path
// (text/row_tokens.hpp: the vector scan where the readers take it).
template <int Converter, class Tokens>
[[gnu::always_inline]] inline const char* row_float(const char* p, const char* end, const char* begin, double& out) {
  if constexpr (Converter == 0) return Tokens::scan_float(p, end, begin, out).end;
  return number<Converter>(p, end, begin, out);
}

// A row's first token, stored at list[i] as the shared str of its text;
// returns the token's end.
template <class Tokens>
[[gnu::always_inline]] inline const char* first_token(Tokens& tokens, const char* begin, const char* end,
                                                      TokenStrings& strings, PyObject* list, Py_ssize_t i) {
  const char* const p = tokens.next(begin);
  const char* const q = token_end(p + 1, end);
  PyList_SET_ITEM(list, i, Py_NewRef(strings.get(p, static_cast<std::size_t>(q - p))));
  return q;
}

// Lines "s f f f f f f i b": a symbol, six floats, an integer, a boolean.
template <int Converter, class Tokens>
[[gnu::always_inline]] inline PyObject* atomlines_rows(PyObject* list) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  const auto rows = static_cast<std::size_t>(n);
  PyObject* column = PyList_New(n);
  PyObject* floats = new_array(rows, 6, NPY_FLOAT64);
  PyObject* ints = new_array(rows, 1, NPY_INT64);
  PyObject* bools = new_array(rows, 1, NPY_UINT8);
  auto* f = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(floats)));
  auto* k = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ints)));
  auto* b = static_cast<std::uint8_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(bools)));
  TokenStrings strings;
  for (Py_ssize_t i = 0; i < n; ++i, f += 6) {
    const std::string_view line = utf8(PyList_GET_ITEM(list, i));
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    Tokens tokens(begin, end);
    const char* q = first_token(tokens, begin, end, strings, column, i);
    for (int j = 0; j < 6; ++j) q = row_float<Converter, Tokens>(tokens.next(q), end, begin, f[j]);
    q = std::from_chars(tokens.next(q), end, k[i]).ptr;
    b[i] = *tokens.next(q) == 'T';
  }
  PyObject* result = PyDict_New();
  PyDict_SetItemString(result, "floats", floats);
  PyDict_SetItemString(result, "ints", ints);
  PyDict_SetItemString(result, "bools", bools);
  PyObject* strs = Py_BuildValue("[N]", column);
  PyDict_SetItemString(result, "strs", strs);
  Py_DECREF(floats);
  Py_DECREF(ints);
  Py_DECREF(bools);
  Py_DECREF(strs);
  return result;
}

// Lines "symbol x y z".
template <int Converter, class Tokens>
[[gnu::always_inline]] inline PyObject* xyz_rows(PyObject* list) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  PyObject* symbols = PyList_New(n);
  PyObject* positions = new_array(static_cast<std::size_t>(n), 3, NPY_FLOAT64);
  auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(positions)));
  TokenStrings strings;
  for (Py_ssize_t i = 0; i < n; ++i, out += 3) {
    const std::string_view line = utf8(PyList_GET_ITEM(list, i));
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    Tokens tokens(begin, end);
    const char* q = first_token(tokens, begin, end, strings, symbols, i);
    for (int j = 0; j < 3; ++j) q = row_float<Converter, Tokens>(tokens.next(q), end, begin, out[j]);
  }
  return Py_BuildValue("(NN)", symbols, positions);
}

template <int Converter>
PyObject* xyz(PyObject* list) {
  return ak::text::run_rows(ak::best_simd_path(), [list]<ak::SimdPath Path>() {
    return xyz_rows<Converter, ak::text::TokensOn<Path>>(list);
  });
}

template <int Converter>
PyObject* atomlines(PyObject* list) {
  return ak::text::run_rows(ak::best_simd_path(), [list]<ak::SimdPath Path>() {
    return atomlines_rows<Converter, ak::text::TokensOn<Path>>(list);
  });
}

PyObject* read_floor(PyObject* args, PyObject* (*fn0)(PyObject*), PyObject* (*fn1)(PyObject*)) {
  PyObject* list;
  int converter = 0;
  if (!PyArg_ParseTuple(args, "O!|i", &PyList_Type, &list, &converter)) return nullptr;
  return converter == 0 ? fn0(list) : fn1(list);
}

PyObject* py_xyz(PyObject*, PyObject* args) { return read_floor(args, xyz<0>, xyz<1>); }
PyObject* py_poscar(PyObject*, PyObject* args) { return read_floor(args, poscar<0>, poscar<1>); }
PyObject* py_xdatcar(PyObject*, PyObject* args) { return read_floor(args, xdatcar<0>, xdatcar<1>); }
PyObject* py_atomlines(PyObject*, PyObject* args) { return read_floor(args, atomlines<0>, atomlines<1>); }

// --- writers: the same fields, exact formatter, one str of the exact size ---

struct Rows {
  const double* data;
  std::size_t n;
};

bool c_rows(PyObject* object, Rows& rows) {
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (!PyArray_Check(object) || PyArray_TYPE(array) != NPY_FLOAT64 || !PyArray_IS_C_CONTIGUOUS(array) ||
      PyArray_NDIM(array) != 2 || PyArray_DIM(array, 1) != 3) {
    PyErr_SetString(PyExc_TypeError, "a C-contiguous (n, 3) float64 array");
    return false;
  }
  rows = {static_cast<const double*>(PyArray_DATA(array)), static_cast<std::size_t>(PyArray_DIM(array, 0))};
  return true;
}

// Formats straight into a str sized for the longest rows, then trims it to
// the length written. The rows run on the best code path, as the module's
// writers do: row.template operator()<Path>(p, i) writes row i at p. A large
// block gets the huge-page advice the module's text blocks get; without it,
// faulting its pages in costs about as much as formatting them.
template <class Row>
PyObject* write_rows(std::size_t n, std::size_t room, Row&& row) {
  PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(n * room + 1), 127);
  if (text == nullptr) return nullptr;
  char* const begin = static_cast<char*>(PyUnicode_DATA(text));
  ak::advise_huge_pages(begin, n * room + 1);  // as the module's own text blocks
  char* p = begin;
  ak::run_on(ak::best_simd_path(), [&]<ak::SimdPath Path>() {
    for (std::size_t i = 0; i < n; ++i) p = row.template operator()<Path>(p, i);
  });
  if (PyUnicode_Resize(&text, p - begin) < 0) return nullptr;
  return text;
}

PyObject* py_format_xyz(PyObject*, PyObject* args) {
  PyObject *symbols, *positions;
  Rows rows;
  if (!PyArg_ParseTuple(args, "O!O", &PyList_Type, &symbols, &positions) || !c_rows(positions, rows)) return nullptr;
  return write_rows(rows.n, 80, [&]<ak::SimdPath Path>(char* p, std::size_t i) {
    const std::string_view s = utf8(PyList_GET_ITEM(symbols, i));
    std::memcpy(p, "  ", 2);
    std::memcpy(p, s.data(), s.size());
    p += s.size() < 2 ? 2 : s.size();
    for (int j = 0; j < 3; ++j) {
      *p++ = ' ';
      p = ak::text::write_fixed<22, 15, Path>(p, rows.data[3 * i + j]);
    }
    *p++ = '\n';
    return p;
  });
}

PyObject* py_format_poscar(PyObject*, PyObject* args) {
  PyObject *positions, *flags;
  Rows rows;
  if (!PyArg_ParseTuple(args, "OO", &positions, &flags) || !c_rows(positions, rows)) return nullptr;
  const auto* frozen = static_cast<const std::uint8_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(flags)));
  return write_rows(rows.n, 80, [&]<ak::SimdPath Path>(char* p, std::size_t i) {
    for (int j = 0; j < 3; ++j) {
      *p++ = ' ';
      p = ak::text::write_fixed<19, 16, Path>(p, rows.data[3 * i + j]);
    }
    for (int j = 0; j < 3; ++j) {
      std::memcpy(p, frozen[3 * i + j] ? "   F" : "   T", 4);
      p += 4;
    }
    *p++ = '\n';
    return p;
  });
}

PyObject* py_format_xdatcar(PyObject*, PyObject* args) {
  PyObject* positions;
  Rows rows;
  if (!PyArg_ParseTuple(args, "O", &positions) || !c_rows(positions, rows)) return nullptr;
  return write_rows(rows.n, 48, [&]<ak::SimdPath Path>(char* p, std::size_t i) {
    *p++ = ' ';
    for (int j = 0; j < 3; ++j) {
      *p++ = ' ';
      p = ak::text::write_fixed<11, 8, Path>(p, rows.data[3 * i + j]);
    }
    *p++ = '\n';
    return p;
  });
}

// Symbol (as code points, a 0 ending it; ASCII here), six floats, an integer
// and a boolean per row.
PyObject* py_write_atoms(PyObject*, PyObject* args) {
  PyObject *codepoints, *floats, *ints, *bools;
  if (!PyArg_ParseTuple(args, "OOOO", &codepoints, &floats, &ints, &bools)) return nullptr;
  const auto* cp = static_cast<const std::uint32_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(codepoints)));
  const auto width = static_cast<std::size_t>(PyArray_DIM(reinterpret_cast<PyArrayObject*>(codepoints), 1));
  const auto* f = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(floats)));
  const auto* k = static_cast<const std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ints)));
  const auto* b = static_cast<const std::uint8_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(bools)));
  const auto n = static_cast<std::size_t>(PyArray_DIM(reinterpret_cast<PyArrayObject*>(codepoints), 0));
  return write_rows(n, 160, [&]<ak::SimdPath Path>(char* p, std::size_t i) {
    std::memcpy(p, "  ", 2);
    std::size_t len = 0;
    for (const std::uint32_t* c = cp + i * width; len < width && c[len] != 0; ++len) p[len] = static_cast<char>(c[len]);
    p += len < 2 ? 2 : len;
    for (int j = 0; j < 6; ++j) {
      *p++ = ' ';
      p = ak::text::write_fixed<16, 8, Path>(p, f[6 * i + j]);
    }
    *p++ = ' ';
    p = ak::text::write_int<8, Path>(p, k[i]);
    std::memcpy(p, b[i] ? "  T" : "  F", 3);
    p += 3;
    *p++ = '\n';
    return p;
  });
}

// A new (n, 3) float64 array, every element written once, front to back.
PyObject* py_fill(PyObject*, PyObject* args) {
  Py_ssize_t n;
  if (!PyArg_ParseTuple(args, "n", &n)) return nullptr;
  PyObject* result = new_array(static_cast<std::size_t>(n), 3, NPY_FLOAT64);
  auto* out = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result)));
  for (Py_ssize_t i = 0; i < 3 * n; ++i) out[i] = 0.5;
  return result;
}

}  // namespace

// The writers and the supercell on a named code path (paths.cpp).
PyObject* floor_paths(PyObject*, PyObject*);
PyObject* floor_format_xyz_on(PyObject*, PyObject* args);
PyObject* floor_format_poscar_on(PyObject*, PyObject* args);
PyObject* floor_format_xdatcar_on(PyObject*, PyObject* args);
PyObject* floor_write_atoms_on(PyObject*, PyObject* args);
PyObject* floor_supercell_on(PyObject*, PyObject* args);

namespace {

PyMethodDef methods[] = {
    {"xyz", py_xyz, METH_VARARGS, "parse_xyz_block_rs floor (lines, converter)"},
    {"poscar", py_poscar, METH_VARARGS, "parse_poscar_positions_rs floor, selective (lines, converter)"},
    {"xdatcar", py_xdatcar, METH_VARARGS, "parse_xdatcar_coords_rs floor (lines, converter)"},
    {"atomlines", py_atomlines, METH_VARARGS, "read_atom_lines_rs floor for b'sffffffib' (lines, converter)"},
    {"format_xyz", py_format_xyz, METH_VARARGS, "format_xyz_block_rs floor (symbols, positions)"},
    {"format_poscar", py_format_poscar, METH_VARARGS, "format_poscar_positions_rs floor (positions, flags)"},
    {"format_xdatcar", py_format_xdatcar, METH_VARARGS, "format_xdatcar_config_rs floor, rows only (positions)"},
    {"write_atoms", py_write_atoms, METH_VARARGS, "write_atoms_rs floor (sym_codepoints, floats, ints, bools)"},
    {"fill", py_fill, METH_VARARGS, "a new (n, 3) float64 array filled once (n)"},
    {"paths", floor_paths, METH_NOARGS, "names of the code paths supported here"},
    {"format_xyz_on", floor_format_xyz_on, METH_VARARGS, "format_xyz_block on a path (path, symbols, positions)"},
    {"format_poscar_on", floor_format_poscar_on, METH_VARARGS, "format_poscar_positions on a path (path, positions, flags)"},
    {"format_xdatcar_on", floor_format_xdatcar_on, METH_VARARGS, "format_xdatcar_config on a path (path, positions, index)"},
    {"write_atoms_on", floor_write_atoms_on, METH_VARARGS,
     "write_atom_block on a path (path, sym_codepoints, sym_width, floats, ints, bools, col_types)"},
    {"supercell_on", floor_supercell_on, METH_VARARGS,
     "make_supercell_positions on a path (path, prim_positions, lattice_points, cell_major)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT, "_akfloor", "Floors of the benchmarked functions.", -1, methods,
                      nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__akfloor(void) {
  import_array();
  return PyModule_Create(&module);
}
