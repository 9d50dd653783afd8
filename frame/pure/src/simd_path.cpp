#include "simd_path.hpp"

#if AK_X86_PATHS
#include <cpuid.h>
#endif

namespace ak {

// The instructions by CPUID; the register state the wider paths need (YMM,
// and the opmask and ZMM state) by XGETBV, which is there when CPUID says
// OSXSAVE. Each path also needs every instruction set of the paths below it.
SimdPath detect_simd_path() noexcept {
#if AK_X86_PATHS
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return SimdPath::sse2;
  const bool ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1;
  if (!ssse3 || !sse41) return SimdPath::sse2;
  const bool osxsave = (c >> 27) & 1, popcnt = (c >> 23) & 1;
  if (!osxsave || !popcnt) return SimdPath::sse4;
  unsigned xcr0_lo, xcr0_hi;
  __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  const bool ymm_state = (xcr0_lo & 0x6) == 0x6;    // SSE and AVX state
  const bool zmm_state = (xcr0_lo & 0xe6) == 0xe6;  // plus opmask, ZMM0-15 high halves, ZMM16-31
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return SimdPath::sse4;
  const bool bmi1 = (b >> 3) & 1, avx2 = (b >> 5) & 1, bmi2 = (b >> 8) & 1;
  const bool avx512f = (b >> 16) & 1, avx512dq = (b >> 17) & 1, avx512ifma = (b >> 21) & 1;
  const bool avx512bw = (b >> 30) & 1, avx512vl = (b >> 31) & 1, avx512vbmi = (c >> 1) & 1;
  unsigned ea, eb, ec, ed;
  const bool lzcnt = __get_cpuid(0x80000001, &ea, &eb, &ec, &ed) != 0 && ((ec >> 5) & 1);
  if (!(ymm_state && avx2 && bmi1 && bmi2 && lzcnt)) return SimdPath::sse4;
  if (zmm_state && avx512f && avx512dq && avx512bw && avx512vl && avx512ifma && avx512vbmi) return SimdPath::avx512;
  return SimdPath::avx2;
#else
  return SimdPath::portable;
#endif
}

}  // namespace ak
