// The one rule that keeps a call sound while Python code runs in its middle.
//
// Converting an argument can run Python code: an `__index__` or `__bool__`,
// a sequence's `__len__`/`__getitem__`/`__iter__`, the NumPy import on the
// first array call, a destructor. Such code can resize an argument array
// (its data pointer moves), change its shape or dtype, or empty a list (its
// items are freed). So:
//
//   No raw data pointer, UTF-8 view or borrowed item of an argument is used
//   after a point where Python code can run.
//
// It holds by construction. Conversions take only strong references and
// owned values (LineList, ArrayArg, scalars, byte lists). Every view of an
// argument's memory needs a Sealed, and only Args::seal() makes one: after
// the last conversion of the call and after NumPy's table is loaded, the
// last point where Python code can run. From then until the body returns,
// the frame calls only C API functions that run no Python code (creating
// str, list, tuple, dict and array objects of built-in types), so every view
// taken after the seal stays valid.
//
// A list argument viewed after the seal is pinned (replaced by a tuple of its
// items) before any later conversion that may run code, so what is read is
// the list as it was when converted; an array is checked again at the seal
// (two dimensions, its element type), since code may have reshaped it.
//
// Without the interpreter lock (a free-threaded interpreter) another thread
// may change an argument at any moment, not only where Python code runs. The
// second rule:
//
//   An argument another thread can change is read only under its lock, or
//   through a copy of our own; no item is used without a strong reference.
//
// So, on such a build (critical_section.hpp, AK_SNAPSHOT_ARGUMENTS):
//   - a caller's list is copied at conversion into a tuple of its items, in
//     one step under the list's lock, with a strong reference to every item:
//     a call reads the list as it was at one instant;
//   - a bytearray is copied, and a caller's list of ints walked, under the
//     object's lock;
//   - an array is held by a strong reference for the whole call (NumPy
//     refuses to resize an array in use) and its geometry read once, at the
//     seal. Resizing it without that check, setting its shape or strides, or
//     writing its elements while a call reads it is the caller's race, as it
//     is for NumPy's own functions;
//   - per-process state is made at import, or made once and published
//     complete with atomic operations (numpy_api.cpp, results.cpp).
// With the lock the copies are not needed: the list is read in place.
#pragma once

namespace ak::frame {

class Args;

// Proof that a call's conversions are over: the argument views it unlocks
// stay valid until the body returns.
class Sealed {
 private:
  friend class Args;
  Sealed() = default;
};

}  // namespace ak::frame
