// The interleaving test build's points (compiled only in that build).
#include "interleave.hpp"

#include <Python.h>
#include <sched.h>

#include <cstdint>

namespace ak::frame {
namespace {

thread_local unsigned critical_depth = 0;
thread_local std::uint64_t random_state = 0;

// A cheap per-thread random stream (xorshift64), seeded from the thread's
// address space so that threads differ.
std::uint32_t next_random() noexcept {
  if (random_state == 0) random_state = reinterpret_cast<std::uintptr_t>(&random_state) | 1;
  random_state ^= random_state << 13;
  random_state ^= random_state >> 7;
  random_state ^= random_state << 17;
  return static_cast<std::uint32_t>(random_state >> 32);
}

}  // namespace

void enter_critical_section() noexcept { ++critical_depth; }

void leave_critical_section() noexcept { --critical_depth; }

void interleave_point() noexcept {
  if (critical_depth != 0) return;
  // Only a thread that holds the lock can hand it over.
  if (PyThreadState_GetUnchecked() == nullptr) return;
  // Most points hand the lock over at once; some yield the processor a few
  // times first, so that a waiting thread gets through more of its code, and
  // one in eight keeps running, so calls also see stretches without a switch.
  const std::uint32_t draw = next_random();
  if ((draw & 7) == 0) return;
  PyThreadState* const state = PyEval_SaveThread();
  for (std::uint32_t k = (draw >> 3) & 3; k != 0; --k) sched_yield();
  sched_yield();
  PyEval_RestoreThread(state);
}

}  // namespace ak::frame
