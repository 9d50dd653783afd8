#include "recursion_guard.hpp"

#include <cstddef>
#include <cstdint>

#include "py_ref.hpp"

#if PY_VERSION_HEX < 0x030E0000 && (defined(__linux__) || defined(__APPLE__))
#define AK_OWN_STACK_CHECK 1
#include <pthread.h>
#endif

namespace ak::frame {
namespace {

// Where CPython's message places the recursion.
constexpr const char* kWhere = " while converting arguments";

#ifdef AK_OWN_STACK_CHECK
// CPython 3.14 and later check the stack pointer against the thread's real
// stack bounds in Py_EnterRecursiveCall. CPython 3.13 counts levels only, and
// a level of a re-entered call takes more stack than most, so before 3.14 the
// stack is checked here, the same way.

// The stack kept free below a call that is about to run Python code: room for
// the interpreter's frames and ours up to the next check (about 2 KB a level
// of ours, a few KB of CPython's), with a wide margin; a small stack keeps a
// quarter of itself.
constexpr std::size_t kStackMargin = 128 * 1024;

struct StackBounds {
  std::uintptr_t low = 0;   // 0: unknown (no check)
  std::uintptr_t high = 0;
  std::size_t margin = 0;
};

StackBounds find_stack_bounds() noexcept {
  StackBounds bounds;
  void* base = nullptr;
  std::size_t size = 0;
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return bounds;
  const bool known = pthread_attr_getstack(&attr, &base, &size) == 0;
  pthread_attr_destroy(&attr);
  if (!known) return bounds;
  bounds.low = reinterpret_cast<std::uintptr_t>(base);
#else
  // macOS gives the top of the stack.
  base = pthread_get_stackaddr_np(pthread_self());
  size = pthread_get_stacksize_np(pthread_self());
  bounds.low = reinterpret_cast<std::uintptr_t>(base) - size;
#endif
  bounds.high = bounds.low + size;
  bounds.margin = size / 4 < kStackMargin ? size / 4 : kStackMargin;
  return bounds;
}

void check_stack_left() {
  thread_local const StackBounds bounds = find_stack_bounds();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (bounds.low == 0 || here < bounds.low || here > bounds.high) return;
  if (here - bounds.low >= bounds.margin) return;
  // CPython 3.14's text for the same refusal.
  PyErr_Format(PyExc_RecursionError, "Stack overflow (used %d kB)%s", static_cast<int>((bounds.high - here) / 1024),
               kWhere);
  throw_python_error();
}
#endif

}  // namespace

void RecursionGuard::enter_first() {
  if (Py_EnterRecursiveCall(kWhere) != 0) throw_python_error();
  entered_ = true;
#ifdef AK_OWN_STACK_CHECK
  check_stack_left();
#endif
}

}  // namespace ak::frame
