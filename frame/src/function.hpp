// One declaration per exported function: its name, its parameters (names and
// defaults), its docstring body and its body. The module's function table,
// the `__text_signature__` line and the argument binding are all derived from
// this one record, so they cannot drift apart.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "failure.hpp"
#include "py_ref.hpp"

namespace ak::frame {

inline constexpr std::size_t kMaxParams = 6;

// A positional-or-keyword parameter. A parameter with a default may be
// omitted (it is then absent); `default_text` is what the text signature
// shows after '='. Parameters with defaults come after all required ones.
struct Param {
  const char* name = nullptr;
  const char* default_text = nullptr;
};

class Args;

// What a function body hands back: a new reference to the result, or the
// failure of its work (raised as ValueError with the failure's message).
using Outcome = Result<PyRef>;
using Body = Outcome (*)(Args&);

struct Function {
  const char* name;
  std::array<Param, kMaxParams> params;
  const char* doc;  // docstring body; its first line is the summary
  Body body;

  constexpr std::size_t arity() const noexcept {
    std::size_t n = 0;
    while (n < kMaxParams && params[n].name != nullptr) ++n;
    return n;
  }
  constexpr std::size_t required() const noexcept {
    std::size_t n = 0;
    while (n < arity() && params[n].default_text == nullptr) ++n;
    return n;
  }
  // Required parameters first, then those with defaults.
  constexpr bool well_formed() const noexcept {
    for (std::size_t i = required(); i < arity(); ++i) {
      if (params[i].default_text == nullptr) return false;
    }
    return true;
  }
};

}  // namespace ak::frame
