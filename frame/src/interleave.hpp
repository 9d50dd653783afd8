// Points where another thread could run in the middle of a call on a build
// without the interpreter lock. A normal build compiles them to nothing; the
// interleaving test build (AK_SIMULATE_FREE_THREADING) lets every other
// thread run there, by releasing and retaking the lock, so that a race a
// free-threaded interpreter could hit shows up under the sanitizers of an
// ordinary one.
#pragma once

namespace ak::frame {

#if defined(AK_SIMULATE_FREE_THREADING)
// Lets other threads run (unless inside a CriticalSection of ours).
void interleave_point() noexcept;
// Bracket a CriticalSection of ours: other threads' changes to the object
// wait for its end on a free-threaded build, so no point lets them in there.
void enter_critical_section() noexcept;
void leave_critical_section() noexcept;
#else
inline void interleave_point() noexcept {}
#endif

}  // namespace ak::frame
