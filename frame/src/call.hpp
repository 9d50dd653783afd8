// The call boundary of every exported function: binding of the fast-call
// argument vector to named parameters, conversion in parameter order with the
// "argument 'NAME': " prefix on TypeErrors, and the mapping of every outcome
// of the work to Python:
//   result               -> the new reference it holds
//   ak::Failure          -> ValueError(message)
//   ak::Panic            -> PanicException(message)
//   std::bad_alloc       -> MemoryError
//   PythonError          -> the exception already set
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "failure.hpp"
#include "function.hpp"
#include "intake.hpp"
#include "py_ref.hpp"

namespace ak::frame {

// The arguments of one call after binding, each converted on request. Index i
// is the i-th parameter; conversions are asked for in parameter order.
class Args {
 public:
  Args(const Function& function, PyObject* const* slots) : function_(function), slots_(slots) {}

  // Whether an optional argument was given (and is not None).
  bool given(std::size_t i) const noexcept { return slots_[i] != nullptr && slots_[i] != Py_None; }

  // A reader's lines. Its items are checked while they are read, so a later
  // argument that fails first has the items checked before its own error
  // stands: conversions keep parameter order.
  const LineList& lines(std::size_t i) {
    return lines_.emplace(guarded(i, [&] { return LineList(slots_[i], function_.params[i].name); }));
  }
  StringList strings(std::size_t i) const { return guarded(i, [&] { return StringList(slots_[i]); }); }
  std::vector<std::uint8_t> bytes(std::size_t i) {
    // Items with __index__ (or a sequence of our caller's making) run Python
    // code while converted, which could change the lines read later.
    if (lines_ && may_run_code_when_taken_as_bytes(slots_[i])) lines_->pin();
    return guarded(i, [&] { return take_byte_list(slots_[i]); });
  }
  bool boolean(std::size_t i) const { return guarded(i, [&] { return take_bool(slots_[i]); }); }
  std::uint64_t uint64(std::size_t i) const { return guarded(i, [&] { return take_uint64(slots_[i]); }); }
  template <class T>
  BorrowedArray<T> array(std::size_t i, ElementType type) const {
    return guarded(i, [&] { return take_array<T>(slots_[i], type); });
  }

 private:
  // Runs one conversion; a TypeError (exactly that type) it raises is
  // replaced by one whose message names the parameter. Lines taken before
  // are checked first: their item errors come earlier in parameter order.
  template <class F>
  auto guarded(std::size_t i, F&& convert) const -> decltype(convert()) {
    try {
      return convert();
    } catch (const PythonError&) {
      prefix_type_error(function_.params[i].name);
      if (lines_) check_lines_before_raising();
      throw;
    }
  }
  void check_lines_before_raising() const;

  const Function& function_;
  PyObject* const* slots_;
  std::optional<LineList> lines_;
};

namespace detail {
// Binds args/kwnames to slots; returns false with a TypeError set on failure.
bool bind(const Function& function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** slots) noexcept;
// Runs the body on the bound slots and converts its outcome; null with an
// exception set on any failure.
PyObject* run_body(const Function& function, PyObject* const* slots) noexcept;
}  // namespace detail

// The fast-call entry point of `F` (METH_FASTCALL | METH_KEYWORDS).
template <const Function& F>
PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static_assert(F.well_formed(), "required parameters must come before those with defaults");
  PyObject* slots[kMaxParams] = {};
  if (!detail::bind(F, args, nargs, kwnames, slots)) return nullptr;
  return detail::run_body(F, slots);
}

}  // namespace ak::frame
