#include "recursion_guard.hpp"

#include <cstddef>
#include <cstdint>

#include "py_ref.hpp"

#if PY_VERSION_HEX < 0x030E0000 && (defined(__linux__) || defined(__APPLE__))
#define AK_OWN_STACK_CHECK 1
#if defined(__linux__)
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>
#else
#include <pthread.h>
#endif
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
// the interpreter's frames and ours up to the next check (about 1 KB a level
// of ours, a few KB of CPython's), with a wide margin; a small stack keeps a
// quarter of itself.
constexpr std::size_t kStackMargin = 128 * 1024;

struct StackBounds {
  std::uintptr_t low = 0;   // 0: unknown (no check)
  std::uintptr_t high = 0;
  std::size_t margin = 0;
};

#if defined(__linux__)
// The thread's stack is the mapping of /proc/self/maps that holds the stack
// pointer: a thread's own (its guard page is a mapping apart), or the main
// thread's "[stack]", which grows down to its limit (RLIMIT_STACK) below its
// top. (pthread_getattr_np would say the same, but its symbol versions of
// recent C libraries would raise the oldest one the modules load with.)
std::string read_maps() {
  std::string text;
  int fd;
  do fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return text;
  char chunk[512];  // small: the first check of a thread may come with little stack left
  while (true) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return text;
}

// The hexadecimal number at the front of `text`, which it leaves after it.
std::uintptr_t take_hex(std::string_view& text) noexcept {
  std::uintptr_t value = 0;
  std::size_t k = 0;
  for (; k < text.size(); ++k) {
    const char c = text[k];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) break;
    value = value * 16 + static_cast<std::uintptr_t>(digit);
  }
  text.remove_prefix(k);
  return value;
}

StackBounds find_stack_bounds(std::uintptr_t here) {
  StackBounds bounds;
  const std::string maps = read_maps();
  std::string_view rest = maps;
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
    const std::uintptr_t start = take_hex(line);
    if (line.empty() || line[0] != '-') continue;
    line.remove_prefix(1);
    const std::uintptr_t end = take_hex(line);
    if (here < start || here >= end) continue;
    bounds.high = end;
    if (line.ends_with("[stack]")) {
      rlimit limit;
      if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= end) break;
      bounds.low = end - limit.rlim_cur;
    } else {
      bounds.low = start;
    }
    break;
  }
  if (bounds.low == 0) return StackBounds{};
  const std::size_t size = bounds.high - bounds.low;
  bounds.margin = size / 4 < kStackMargin ? size / 4 : kStackMargin;
  return bounds;
}
#else
StackBounds find_stack_bounds(std::uintptr_t) {
  // macOS gives the top of the stack and its size.
  StackBounds bounds;
  const auto size = static_cast<std::size_t>(pthread_get_stacksize_np(pthread_self()));
  bounds.high = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(pthread_self()));
  bounds.low = bounds.high - size;
  bounds.margin = size / 4 < kStackMargin ? size / 4 : kStackMargin;
  return bounds;
}
#endif

void check_stack_left() {
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  thread_local const StackBounds bounds = find_stack_bounds(here);
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
