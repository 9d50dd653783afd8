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
  constexpr Function(const char* name_, std::array<Param, kMaxParams> params_, const char* doc_, Body body_) noexcept
      : name(name_), params(params_), doc(doc_), body(body_), arity_(count_params(params_)),
        required_(count_required(params_)) {}

  const char* name;
  std::array<Param, kMaxParams> params;
  const char* doc;  // docstring body; its first line is the summary
  Body body;

  constexpr std::size_t arity() const noexcept { return arity_; }
  constexpr std::size_t required() const noexcept { return required_; }
  // Required parameters first, then those with defaults.
  constexpr bool well_formed() const noexcept {
    for (std::size_t i = required(); i < arity(); ++i) {
      if (params[i].default_text == nullptr) return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t count_params(const std::array<Param, kMaxParams>& params) noexcept {
    std::size_t n = 0;
    while (n < kMaxParams && params[n].name != nullptr) ++n;
    return n;
  }
  static constexpr std::size_t count_required(const std::array<Param, kMaxParams>& params) noexcept {
    std::size_t n = 0;
    while (n < count_params(params) && params[n].default_text == nullptr) ++n;
    return n;
  }

  // Counted once, where the record is made, not on every call.
  std::size_t arity_;
  std::size_t required_;
};

}  // namespace ak::frame
