// The code paths of the hot loops that use vector instructions, and the one
// this processor can take.
//
// Every path of a loop produces the same bytes. The wider paths are compiled
// into the same binary (functions marked AK_TARGET_AVX2 / AK_TARGET_AVX512)
// and chosen at run time from what the processor and the operating system
// support, so the modules run on any x86-64 (whose baseline is SSE2) and
// the plain C++ code stays the path on other processors. Entry points take
// the path as an argument, defaulting to best_simd_path(); tests and fuzz
// harnesses pass each supported path in turn.
#pragma once

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define AK_X86_PATHS 1
#include <cpuid.h>
#include <immintrin.h>
// Functions compiled for one path. A path's entry function is also marked
// [[gnu::flatten]], so that the generic templates it calls, and the
// path's own helpers they call in turn, are inlined into it and run with its
// instruction set.
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
  avx2,      // AVX2 with BMI1/2 and LZCNT (Haswell, Zen 1 and later)
  avx512,    // AVX-512 F/BW/VL/DQ with IFMA and VBMI (Ice Lake, Zen 4 and later)
};

inline constexpr SimdPath kSimdPaths[] = {SimdPath::portable, SimdPath::sse2, SimdPath::avx2, SimdPath::avx512};

constexpr const char* simd_path_name(SimdPath path) noexcept {
  switch (path) {
    case SimdPath::portable: return "portable";
    case SimdPath::sse2: return "sse2";
    case SimdPath::avx2: return "avx2";
    case SimdPath::avx512: return "avx512";
  }
  return "?";
}

namespace detail {

#if AK_X86_PATHS
// The widest path the processor and the operating system both support: the
// instructions by CPUID, the register state (YMM, and the opmask and ZMM
// state) by XGETBV, which is enabled when CPUID says OSXSAVE.
inline SimdPath detect_simd_path() noexcept {
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return SimdPath::sse2;
  const bool osxsave = (c >> 27) & 1, popcnt = (c >> 23) & 1;
  if (!osxsave || !popcnt) return SimdPath::sse2;
  unsigned xcr0_lo, xcr0_hi;
  __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  const bool ymm_state = (xcr0_lo & 0x6) == 0x6;    // SSE and AVX state
  const bool zmm_state = (xcr0_lo & 0xe6) == 0xe6;  // plus opmask, ZMM0-15 high halves, ZMM16-31
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return SimdPath::sse2;
  const bool bmi1 = (b >> 3) & 1, avx2 = (b >> 5) & 1, bmi2 = (b >> 8) & 1;
  const bool avx512f = (b >> 16) & 1, avx512dq = (b >> 17) & 1, avx512ifma = (b >> 21) & 1;
  const bool avx512bw = (b >> 30) & 1, avx512vl = (b >> 31) & 1, avx512vbmi = (c >> 1) & 1;
  unsigned ea, eb, ec, ed;
  const bool lzcnt = __get_cpuid(0x80000001, &ea, &eb, &ec, &ed) != 0 && ((ec >> 5) & 1);
  if (!(ymm_state && avx2 && bmi1 && bmi2 && lzcnt)) return SimdPath::sse2;
  if (zmm_state && avx512f && avx512dq && avx512bw && avx512vl && avx512ifma && avx512vbmi) return SimdPath::avx512;
  return SimdPath::avx2;
}
#endif

}  // namespace detail

// The widest supported path, found once per process.
inline SimdPath best_simd_path() noexcept {
#if AK_X86_PATHS
  static const SimdPath best = detail::detect_simd_path();
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

// run_on(path, body) calls body.template operator()<P>() with P = path,
// compiled for that path's instructions: body is typically a generic lambda
// holding a writer's row loop, which then runs with every helper inlined
// for the path. A path that is not compiled here (any but the portable one
// off x86-64) runs the portable code. The caller makes sure the path is
// supported.
namespace detail {
template <class Body>
__attribute__((flatten)) void run_portable(Body& body) {
  body.template operator()<SimdPath::portable>();
}
#if AK_X86_PATHS
template <class Body>
__attribute__((flatten)) void run_sse2(Body& body) {
  body.template operator()<SimdPath::sse2>();
}
template <class Body>
AK_TARGET_AVX2 __attribute__((flatten)) void run_avx2(Body& body) {
  body.template operator()<SimdPath::avx2>();
}
template <class Body>
AK_TARGET_AVX512 __attribute__((flatten)) void run_avx512(Body& body) {
  body.template operator()<SimdPath::avx512>();
}
#endif
}  // namespace detail

template <class Body>
void run_on(SimdPath path, Body&& body) {
#if AK_X86_PATHS
  switch (path) {
    case SimdPath::avx512: return detail::run_avx512(body);
    case SimdPath::avx2: return detail::run_avx2(body);
    case SimdPath::sse2: return detail::run_sse2(body);
    case SimdPath::portable: break;
  }
#else
  (void)path;
#endif
  detail::run_portable(body);
}

}  // namespace ak
