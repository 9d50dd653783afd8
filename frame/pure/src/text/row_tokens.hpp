// The two ways a reader steps through the tokens of one line, behind one
// interface, so that a reader's row loop is written once (as a template) and
// instantiated for each scan path (text/scan_path.hpp):
//
//   Tokens tokens(begin, end);          // the line [begin, end)
//   p = tokens.next(after);             // start of the next token, or end
//   Tokens::scan_float(p, end, begin, out)
//
// `after` is where the token handed out last ends (the line's start for the
// first). PortableTokens finds each start from it; VectorTokens knows every
// start from one whitespace mask of the line (text/line_tokens.hpp), so a
// row's scans do not wait on each other, and gathers floats with vectors.
// Both hand out the same starts and the same values.
//
// on_scan_path() runs a row loop with the token type of the path taken now,
// compiled for that path's instructions.
#pragma once

#include "text/float_parse.hpp"
#include "text/line_tokens.hpp"
#include "text/scan_path.hpp"
#include "text/tokenizer.hpp"

namespace ak::text {

struct PortableTokens {
  const char* end;
  PortableTokens(const char* /*begin*/, const char* end_) noexcept : end(end_) {}
  const char* next(const char* after) const noexcept { return skip_space(after, end); }
  static ScanResult scan_float(const char* p, const char* end, const char* begin, double& out) noexcept {
    return text::scan_float(p, end, begin, out);
  }
};

#if defined(AK_SCAN_VECTOR)
struct VectorTokens : LineTokens {
  [[AK_SCAN_VECTOR_TARGET]] VectorTokens(const char* begin, const char* end) noexcept : LineTokens(begin, end) {}
  static ScanResult scan_float(const char* p, const char* end, const char* begin, double& out) noexcept {
    return scan_float_vector(p, end, begin, out);
  }
};
#endif

namespace detail {
#if defined(AK_SCAN_VECTOR)
template <class Body>
[[AK_SCAN_VECTOR_TARGET, gnu::flatten]] auto run_vector_tokens(Body body) {
  return body.template operator()<VectorTokens>();
}
#endif
}  // namespace detail

// Calls body.template operator()<Tokens>() with Tokens the token type of the
// scan path taken now (scan_path()) and returns its result. On the vector
// path the call is compiled for that path with everything it calls in this
// unit inlined: body is typically a generic lambda holding a reader's row
// loop, as with run_on() for the writers' code paths. The body is taken by
// value (a few captured words): a copy whose address is never passed on
// keeps its captures in registers across the scans it calls.
template <class Body>
auto on_scan_path(Body body) {
#if defined(AK_SCAN_VECTOR)
  if (scan_path() == ScanPath::vector) return detail::run_vector_tokens(body);
#endif
  return body.template operator()<PortableTokens>();
}

}  // namespace ak::text
