// The two ways a reader steps through the tokens of one line, behind one
// interface, so that a reader's row loop is written once (as a template) and
// instantiated for each of the readers' code paths (ScanPaths below):
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
// A reader runs its row loop by run_rows(path, body), body taking the path
// P and stepping with TokensOn<P>.
#pragma once

#include <type_traits>

#include "simd_path.hpp"
#include "text/float_parse.hpp"
#include "text/line_tokens.hpp"
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

#if AK_X86_PATHS
struct VectorTokens : LineTokens {
  AK_TARGET_SSE4 VectorTokens(const char* begin, const char* end) noexcept : LineTokens(begin, end) {}
  static ScanResult scan_float(const char* p, const char* end, const char* begin, double& out) noexcept {
    return scan_float_vector(p, end, begin, out);
  }
};
#endif

// The readers' code paths: the vector scans need SSSE3 and SSE4.1 and gain
// nothing from wider instructions, so every path from sse4 up runs them;
// the portable and sse2 paths run the word-at-a-time scans.
using ScanPaths = CodePaths<SimdPath::portable, SimdPath::sse4>;

namespace detail {
template <SimdPath Path, bool Vector = AK_X86_PATHS && Path >= SimdPath::sse4>
struct TokensFor {
  using type = PortableTokens;
};
#if AK_X86_PATHS
template <SimdPath Path>
struct TokensFor<Path, true> {
  using type = VectorTokens;
};
#endif
}  // namespace detail

// The token type of a row loop compiled for `Path`.
template <SimdPath Path>
using TokensOn = typename detail::TokensFor<Path>::type;

// Runs a reader's row loop on `path` (run_on over ScanPaths): calls
// body.template operator()<P>(), body stepping with TokensOn<P>, and
// returns its result. The body is copied into the path's function (a few
// captured words, kept in registers across the scans it calls).
template <class Body>
decltype(auto) run_rows(SimdPath path, Body&& body) {
  return run_on<ScanPaths, BodyPass::copy>(path, static_cast<Body&&>(body));
}

}  // namespace ak::text
