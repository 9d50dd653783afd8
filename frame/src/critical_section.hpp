// Locks of arguments that another thread may change during a call, on a
// build without the interpreter lock (the rule is in sealed.hpp).
//
// AK_SNAPSHOT_ARGUMENTS selects the copying paths: on a free-threaded build,
// and on the interleaving test build (interleave.hpp), which must take the
// paths a free-threaded build takes. A build with the lock reads in place.
#pragma once

#include <Python.h>

#include "interleave.hpp"

#if defined(Py_GIL_DISABLED) || defined(AK_SIMULATE_FREE_THREADING)
#define AK_SNAPSHOT_ARGUMENTS 1
#else
#define AK_SNAPSHOT_ARGUMENTS 0
#endif

namespace ak::frame {

// The object's critical section for the scope: other threads' changes made
// through the object's own methods wait for its end. Nothing with the lock.
class CriticalSection {
 public:
  explicit CriticalSection([[maybe_unused]] PyObject* object) noexcept {
#if defined(Py_GIL_DISABLED)
    PyCriticalSection_Begin(&section_, object);
#endif
#if defined(AK_SIMULATE_FREE_THREADING)
    enter_critical_section();
#endif
  }
  ~CriticalSection() {
#if defined(AK_SIMULATE_FREE_THREADING)
    leave_critical_section();
#endif
#if defined(Py_GIL_DISABLED)
    PyCriticalSection_End(&section_);
#endif
  }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
#if defined(Py_GIL_DISABLED)
  PyCriticalSection section_;
#endif
};

}  // namespace ak::frame
