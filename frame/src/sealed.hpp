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
