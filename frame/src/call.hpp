// The call boundary of every exported function: binding of the fast-call
// argument vector to named parameters, conversion in parameter order with the
// "argument 'NAME': " prefix on TypeErrors, and the mapping of every outcome
// of the work to Python:
//   value                -> the converted result
//   ak::Failure          -> ValueError(message)
//   ak::Panic            -> PanicException(message)
//   std::bad_alloc       -> MemoryError
//   PythonError          -> the exception already set
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "failure.hpp"
#include "intake.hpp"
#include "py_ref.hpp"

namespace ak::frame {

inline constexpr std::size_t kMaxParams = 6;

// Parameter list of one exported function.
struct Signature {
  const char* function;  // name, e.g. "parse_xyz_block_rs"
  std::array<const char*, kMaxParams> params;
  std::size_t n_params;
  std::size_t n_required;
};

// The arguments of one call after binding, each converted on request. Index i
// is the i-th parameter; conversions are asked for in parameter order.
class Args {
 public:
  Args(const Signature& signature, PyObject* const* slots) : signature_(signature), slots_(slots) {}

  bool present(std::size_t i) const noexcept { return slots_[i] != nullptr; }
  // The bound object itself (borrowed; null when the optional parameter is absent).
  PyObject* slot(std::size_t i) const noexcept { return slots_[i]; }

  StringList strings(std::size_t i) const { return guarded(i, [&] { return take_string_list(slots_[i]); }); }
  std::vector<std::uint8_t> bytes(std::size_t i) const { return guarded(i, [&] { return take_byte_list(slots_[i]); }); }
  bool boolean(std::size_t i) const { return guarded(i, [&] { return take_bool(slots_[i]); }); }
  std::uint64_t uint64(std::size_t i) const { return guarded(i, [&] { return take_uint64(slots_[i]); }); }
  template <class T>
  BorrowedArray<T> array(std::size_t i, ElementType type) const {
    return guarded(i, [&] { return take_array<T>(slots_[i], type); });
  }

 private:
  // Runs one conversion; a TypeError (exactly that type) it raises is
  // replaced by one whose message names the parameter.
  template <class F>
  auto guarded(std::size_t i, F&& convert) const -> decltype(convert()) {
    try {
      return convert();
    } catch (const PythonError&) {
      prefix_type_error(signature_.params[i]);
      throw;
    }
  }
  static void prefix_type_error(const char* name);

  const Signature& signature_;
  PyObject* const* slots_;
};

// Fails the work with a ValueError carrying `message`.
struct ValueErrorRaised {
  std::string message;
};

// Unwraps a work result: its value, or the ValueError of its failure.
template <class T>
T take(Result<T>&& result) {
  if (!result.ok()) throw ValueErrorRaised{result.error()};
  return std::move(result.value());
}

namespace detail {
// Binds args/kwnames to slots; returns false with a TypeError set on failure.
bool bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** slots);
// Sets the Python exception for the C++ exception being handled.
void raise_current_exception();
}  // namespace detail

// Runs one call: binds, then `body(Args&)` which returns a new reference.
template <class Body>
PyObject* run_call(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, Body&& body) {
  PyObject* slots[kMaxParams] = {};
  if (!detail::bind(signature, args, nargs, kwnames, slots)) return nullptr;
  try {
    Args bound(signature, slots);
    return body(bound);
  } catch (...) {
    detail::raise_current_exception();
    return nullptr;
  }
}

// Declares the fast-call entry point `name` of an exported function whose
// work is `body(Args&) -> PyObject*`.
#define AK_FASTCALL_ENTRY(name, signature, body)                                             \
  static PyObject* name(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) { \
    return ::ak::frame::run_call(signature, args, nargs, kwnames, body);                        \
  }

// The method-table entry of an exported function whose fast-call entry point
// was declared with AK_FASTCALL_ENTRY; `doc` starts with the text signature.
#define AK_METHOD(name, entry, doc)                                                         \
  PyMethodDef {                                                                             \
    name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),               \
        METH_FASTCALL | METH_KEYWORDS, doc                                                  \
  }

}  // namespace ak::frame
