// A call that runs Python code in its middle (an argument's `__index__`,
// `__bool__` or sequence methods, the NumPy import) can be re-entered by that
// code, level upon level. Each level is counted against the interpreter's
// recursion limit, as a call of Python code is, and a level is refused with
// RecursionError when its thread's stack is nearly spent, so deep re-entry
// ends in an exception, never in a crash. A call that runs no Python code
// cannot be re-entered and pays nothing.
#pragma once

#include <Python.h>

namespace ak::frame {

class RecursionGuard {
 public:
  RecursionGuard() noexcept = default;
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;
  ~RecursionGuard() {
    if (entered_) Py_LeaveRecursiveCall();
  }

  // Before the call first runs Python code: counts it once, or throws
  // PythonError with RecursionError set.
  void enter() {
    if (!entered_) enter_first();
  }

 private:
  void enter_first();
  bool entered_ = false;
};

}  // namespace ak::frame
