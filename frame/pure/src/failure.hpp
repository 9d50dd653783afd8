// Failure kinds of the work code. No interpreter types here: the call boundary
// of the frame maps them to Python exceptions.
//
//   Failure (returned in a Result) -> ValueError(message)   malformed text, inconsistent sizes
//   Panic        -> PanicException(message)    a broken invariant (index out of bounds, ...)
//   std::bad_alloc -> MemoryError
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace ak {

// A caller error that breaks an internal invariant. Thrown, never returned.
class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] inline void panic(std::string message) { throw Panic(std::move(message)); }

// The fixed texts of broken invariants, raised as PanicException.
inline constexpr const char* kIndexOutOfBounds = "ndarray: index out of bounds";
inline constexpr const char* kUnwrapNone = "called `Option::unwrap()` on a `None` value";
inline constexpr const char* kShapeTooLarge = "ndarray: Shape too large, product of non-zero axis lengths overflows isize";
inline constexpr const char* kCapacityOverflow = "capacity overflow";
inline constexpr const char* kFormatArgumentOutOfRange = "Formatting argument out of range";
// The frame's own: faults of this code, not of a caller.
inline constexpr const char* kLostPythonError = "a Python exception was lost";
inline constexpr const char* kInternalFailure = "internal failure";
inline constexpr const char* kTwoSequences = "a call takes at most one string sequence";
inline constexpr const char* kConvertedAfterSeal = "an argument was converted after the call was sealed";
inline constexpr const char* kSealedTooEarly = "a parameter was not converted before the seal";

// A failure of the work itself: one fully built message, raised as ValueError.
struct Failure {
  std::string message;
};

// A Failure whose message is the pieces joined: texts as they are, unsigned
// numbers in decimal with no fill. Each module builds all its messages with
// it, in its messages.cpp, and only when a call fails.
template <class... Pieces>
[[gnu::cold]] Failure failure(const Pieces&... pieces) {
  std::string message;
  const auto append = [&message](const auto& piece) {
    if constexpr (std::is_integral_v<std::decay_t<decltype(piece)>>) {
      message += std::to_string(piece);
    } else {
      message += std::string_view(piece);
    }
  };
  (append(pieces), ...);
  return Failure{std::move(message)};
}

// What a work routine returns: its value, or the failure that ended it.
// (Broken invariants are thrown as Panic; exhausted memory as std::bad_alloc.)
template <class T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  T& value() noexcept { return *std::get_if<0>(&state_); }
  const std::string& error() const noexcept { return std::get_if<1>(&state_)->message; }
  // The failure itself, moved out (only when !ok()).
  Failure failure() && noexcept { return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, Failure> state_;
};

}  // namespace ak
