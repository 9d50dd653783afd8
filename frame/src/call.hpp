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
#include "recursion_guard.hpp"
#include "sealed.hpp"

namespace ak::frame {

// The arguments of one call after binding, each converted on request, in
// parameter order (index i is the i-th parameter), then sealed: see
// sealed.hpp for the rule this class keeps. Every parameter is converted
// exactly once before seal(), and none after it.
class Args {
 public:
  Args(const Function& function, PyObject* const* slots) noexcept : function_(function), slots_(slots) {}

  // Whether an optional argument was given (and is not None).
  bool given(std::size_t i) const noexcept { return slots_[i] != nullptr && slots_[i] != Py_None; }

  // A string sequence (a reader's lines, a writer's symbols); at most one
  // per call. Its items are checked while they are read, so a later argument
  // that fails first has the items checked before its own error stands:
  // conversions keep parameter order.
  const LineList& lines(std::size_t i) {
    before_conversion(i, !LineList::read_in_place(slots_[i]));
    if (sequence_) panic(kTwoSequences);
    return sequence_.emplace(guarded(i, [&] { return LineList(slots_[i], function_.params[i].name); }));
  }
  ByteList bytes(std::size_t i) {
    before_conversion(i, may_run_code_when_taken_as_bytes(slots_[i]));
    return guarded(i, [&] { return take_byte_list(slots_[i]); });
  }
  bool boolean(std::size_t i) {
    before_conversion(i, may_run_code_when_taken_as_bool(slots_[i]));
    return guarded(i, [&] { return take_bool(slots_[i]); });
  }
  std::uint64_t uint64(std::size_t i) {
    before_conversion(i, may_run_code_when_taken_as_uint64(slots_[i]));
    return guarded(i, [&] { return take_uint64(slots_[i]); });
  }
  template <class T>
  ArrayArg<T> array(std::size_t i, ElementType type) {
    before_conversion(i, !numpy_loaded());  // the first array call imports NumPy
    guarded(i, [&] { check_array(slots_[i], type); });
    arrays_[n_arrays_++] = {static_cast<std::uint8_t>(i), type};
    return ArrayArg<T>(slots_[i]);
  }
  // An optional array: absent when not given or None.
  template <class T>
  std::optional<ArrayArg<T>> optional_array(std::size_t i, ElementType type) {
    if (given(i)) return array<T>(i, type);
    before_conversion(i, false);
    return std::nullopt;
  }

  // Ends the conversions: loads NumPy's table if no conversion did (every
  // function makes or reads arrays), checks again any array that Python code
  // run since its conversion may have reshaped, and hands out the proof that
  // views may now be taken. Item errors of the sequence win over a failure
  // to load NumPy, as argument errors come first.
  Sealed seal();

 private:
  // Marks parameter i converted; before a conversion that may run Python
  // code, counts the call against the recursion limit and pins the sequence
  // taken earlier.
  void before_conversion(std::size_t i, bool may_run_code) {
    if (sealed_) [[unlikely]] panic(kConvertedAfterSeal);
    converted_ |= 1u << i;
    if (may_run_code) {
      recursion_.enter();
      code_may_have_run_ = true;
      if (sequence_) sequence_->pin();
    }
  }

  // Runs one conversion; a TypeError (exactly that type) it raises is
  // replaced by one whose message names the parameter. The sequence taken
  // before is checked first: its item errors come earlier in parameter order.
  template <class F>
  auto guarded(std::size_t i, F&& convert) const -> decltype(convert()) {
    try {
      return convert();
    } catch (const PythonError&) {
      prefix_type_error(function_.params[i].name);
      if (sequence_) check_sequence_before_raising();
      throw;
    }
  }
  void check_sequence_before_raising() const;

  struct ArrayParam {
    std::uint8_t index;
    ElementType type;
  };

  const Function& function_;
  PyObject* const* slots_;
  RecursionGuard recursion_;  // left last, once every reference below is released
  std::optional<LineList> sequence_;
  ArrayParam arrays_[kMaxParams];
  std::size_t n_arrays_ = 0;
  unsigned converted_ = 0;  // bit i: parameter i converted
  bool code_may_have_run_ = false;
  bool sealed_ = false;
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
  // The usual call gives every parameter by position: the vector is the slots.
  if (kwnames == nullptr && static_cast<std::size_t>(nargs) == F.arity()) [[likely]] return detail::run_body(F, args);
  PyObject* slots[kMaxParams] = {};
  if (!detail::bind(F, args, nargs, kwnames, slots)) return nullptr;
  return detail::run_body(F, slots);
}

}  // namespace ak::frame
