// The code paths of the hot loops, the one this processor can take, and the
// call that runs a loop's code for a path.
//
// Paths are tiers: each needs every instruction set of the tiers below it,
// so a processor that can take one path can take every narrower one. Every
// path of a loop produces the same bytes. The paths past the x86-64
// baseline are compiled into the same binary (functions marked
// AK_TARGET_SSE4 / AK_TARGET_AVX2 / AK_TARGET_AVX512) and chosen at run
// time from what the processor and the operating system support, so the
// modules run on any x86-64 (whose baseline is SSE2); on other processors
// the portable path is the only one. Entry points take the path as an
// argument, defaulting to best_simd_path(); tests and fuzz harnesses pass
// each supported path in turn.
#pragma once

#include <cstdint>
#include <type_traits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define AK_X86_PATHS 1
#include <immintrin.h>
// Functions compiled for one path. A path's entry function is also marked
// flatten, so that the generic templates it calls, and the path's own
// helpers they call in turn, are inlined into it and run with its
// instruction set.
#define AK_TARGET_SSE4 __attribute__((target("ssse3,sse4.1")))
#define AK_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2,lzcnt,popcnt")))
#define AK_TARGET_AVX512 \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512ifma,avx512vbmi,avx2,bmi,bmi2,lzcnt,popcnt")))
#else
#define AK_X86_PATHS 0
#endif

namespace ak {

enum class SimdPath : std::uint8_t {
  portable,  // plain C++: the path on processors other than x86-64
  sse2,      // x86-64 baseline
  sse4,      // plus SSSE3 and SSE4.1 (Penryn, Bulldozer and later)
  avx2,      // plus AVX2 with BMI1/2 and LZCNT (Haswell, Zen 1 and later)
  avx512,    // plus AVX-512 F/BW/VL/DQ with IFMA and VBMI (Ice Lake, Zen 4 and later)
};

inline constexpr SimdPath kSimdPaths[] = {SimdPath::portable, SimdPath::sse2, SimdPath::sse4, SimdPath::avx2,
                                          SimdPath::avx512};

constexpr const char* simd_path_name(SimdPath path) noexcept {
  switch (path) {
    case SimdPath::portable: return "portable";
    case SimdPath::sse2: return "sse2";
    case SimdPath::sse4: return "sse4";
    case SimdPath::avx2: return "avx2";
    case SimdPath::avx512: return "avx512";
  }
  return "?";
}

// The widest path the processor and the operating system support, found
// from CPUID and XGETBV (simd_path.cpp); portable off x86-64.
SimdPath detect_simd_path() noexcept;

// The widest supported path: detected on the first call, the same for the
// life of the process.
inline SimdPath best_simd_path() noexcept {
#if AK_X86_PATHS
  static const SimdPath best = detect_simd_path();
  return best;
#else
  return SimdPath::portable;
#endif
}

// Whether `path` can run here: the portable path always; on x86-64 every
// path up to the best one.
inline bool simd_path_supported(SimdPath path) noexcept {
  return path == SimdPath::portable || (AK_X86_PATHS && path <= best_simd_path());
}

// The paths a loop has code of its own for, narrowest first (the portable
// path always among them). On any other path the loop runs the code of the
// widest of these that the path includes.
template <SimdPath... Paths>
struct CodePaths {
  static constexpr SimdPath list[] = {Paths...};
  static constexpr bool has(SimdPath path) noexcept { return ((path == Paths) || ...); }
};

// The writers and the supercell: their loops have no code that needs SSSE3
// or SSE4.1, so the sse4 path runs their SSE2 code.
using WritePaths = CodePaths<SimdPath::portable, SimdPath::sse2, SimdPath::avx2, SimdPath::avx512>;

// How run_on hands the body to the path's function: as the caller's object
// (in_place), or as a copy of its own (copy), whose address is never passed
// on, so that its captures stay in registers across the out-of-line calls
// the loop makes (the readers' row loops: a few captured words, and a scan
// call per token).
enum class BodyPass : std::uint8_t { in_place, copy };

// run_on<Paths>(path, body) calls body.template operator()<P>() and returns
// its result, P being the path of Paths that `path` runs, compiled for P's
// instructions: body is typically a generic lambda holding a row loop,
// which then runs with every helper inlined for the path. Paths past the
// portable one are compiled on x86-64 only. The caller makes sure the path
// is supported.
namespace detail {
template <class Passed>
__attribute__((flatten)) decltype(auto) run_portable(Passed body) {
  return body.template operator()<SimdPath::portable>();
}
#if AK_X86_PATHS
template <class Passed>
__attribute__((flatten)) decltype(auto) run_sse2(Passed body) {
  return body.template operator()<SimdPath::sse2>();
}
template <class Passed>
AK_TARGET_SSE4 __attribute__((flatten)) decltype(auto) run_sse4(Passed body) {
  return body.template operator()<SimdPath::sse4>();
}
template <class Passed>
AK_TARGET_AVX2 __attribute__((flatten)) decltype(auto) run_avx2(Passed body) {
  return body.template operator()<SimdPath::avx2>();
}
template <class Passed>
AK_TARGET_AVX512 __attribute__((flatten)) decltype(auto) run_avx512(Passed body) {
  return body.template operator()<SimdPath::avx512>();
}
#endif
}  // namespace detail

template <class Paths = WritePaths, BodyPass Pass = BodyPass::in_place, class Body>
decltype(auto) run_on(SimdPath path, Body&& body) {
  static_assert(Paths::has(SimdPath::portable), "every loop has portable code");
  using Passed = std::conditional_t<Pass == BodyPass::copy, std::remove_cvref_t<Body>, std::remove_reference_t<Body>&>;
#if AK_X86_PATHS
  if constexpr (Paths::has(SimdPath::avx512)) {
    if (path >= SimdPath::avx512) return detail::run_avx512<Passed>(body);
  }
  if constexpr (Paths::has(SimdPath::avx2)) {
    if (path >= SimdPath::avx2) return detail::run_avx2<Passed>(body);
  }
  if constexpr (Paths::has(SimdPath::sse4)) {
    if (path >= SimdPath::sse4) return detail::run_sse4<Passed>(body);
  }
  if constexpr (Paths::has(SimdPath::sse2)) {
    if (path >= SimdPath::sse2) return detail::run_sse2<Passed>(body);
  }
#else
  (void)path;
#endif
  return detail::run_portable<Passed>(body);
}

}  // namespace ak
