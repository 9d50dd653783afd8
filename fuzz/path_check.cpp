// The code paths (simd_path.hpp): the path found for this processor against
// the compiler's own feature detection, and which code each path runs.
//
//   ./path_check     prints the best path; exits non-zero on any mismatch
//
// On x86-64 the best path must be exactly the widest tier whose every
// instruction set the compiler's run-time check (CPUID and, for AVX and
// AVX-512, the operating system's register state) reports; so the readers'
// vector scans run wherever SSSE3 and SSE4.1 are there. Then every supported
// path is dispatched through the writers' and the readers' path sets.

#include <cstdio>
#include <type_traits>

#include "simd_path.hpp"
#include "text/row_tokens.hpp"

namespace {

using ak::SimdPath;

int g_failures = 0;

void expect(bool ok, const char* what, SimdPath path) {
  if (ok) return;
  ++g_failures;
  std::printf("MISMATCH %s (path %s, best %s)\n", what, ak::simd_path_name(path),
              ak::simd_path_name(ak::best_simd_path()));
}

#if AK_X86_PATHS
// The tier the compiler's detection gives, tier by tier as simd_path.hpp
// defines them.
SimdPath compiler_tier() {
  __builtin_cpu_init();
  const bool sse4 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
#if defined(__clang__)
  const bool lzcnt = true;  // not a feature name clang knows; every AVX2 processor has it
#else
  const bool lzcnt = __builtin_cpu_supports("lzcnt");
#endif
  const bool avx2 = sse4 && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("avx2") &&
                    __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") && lzcnt;
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                      __builtin_cpu_supports("avx512ifma") && __builtin_cpu_supports("avx512vbmi");
  return avx512 ? SimdPath::avx512 : avx2 ? SimdPath::avx2 : sse4 ? SimdPath::sse4 : SimdPath::sse2;
}
#endif

// Records the path it was compiled for and how often it ran.
struct Probe {
  int runs = 0;
  template <SimdPath Path>
  SimdPath operator()() {
    ++runs;
    return Path;
  }
};

// The code each path runs: the widest of a set's paths that the path includes.
constexpr SimdPath write_code(SimdPath p) {
  if (!AK_X86_PATHS) return SimdPath::portable;
  return p == SimdPath::sse4 ? SimdPath::sse2 : p;
}
constexpr SimdPath scan_code(SimdPath p) {
  if (!AK_X86_PATHS) return SimdPath::portable;
  return p >= SimdPath::sse4 ? SimdPath::sse4 : SimdPath::portable;
}

void check_dispatch(SimdPath path) {
  Probe probe;
  expect(ak::run_on(path, probe) == write_code(path), "writers' code for the path", path);
  expect(probe.runs == 1, "writers' body runs once, on the caller's object", path);

  Probe copied;
  expect(ak::run_on<ak::text::ScanPaths, ak::BodyPass::copy>(path, copied) == scan_code(path),
         "readers' code for the path", path);
  expect(copied.runs == 0, "a copied body leaves the caller's object alone", path);

  int ran = 0;
  ak::text::run_rows(path, [&ran]<SimdPath Path>() { ran = static_cast<int>(Path) + 1; });
  expect(ran == static_cast<int>(scan_code(path)) + 1, "run_rows runs the readers' code", path);
}

// The token type of each reader path.
static_assert(std::is_same_v<ak::text::TokensOn<SimdPath::portable>, ak::text::PortableTokens>);
static_assert(std::is_same_v<ak::text::TokensOn<SimdPath::sse2>, ak::text::PortableTokens>);
#if AK_X86_PATHS
static_assert(std::is_same_v<ak::text::TokensOn<SimdPath::sse4>, ak::text::VectorTokens>);
static_assert(std::is_same_v<ak::text::TokensOn<SimdPath::avx512>, ak::text::VectorTokens>);
#endif

}  // namespace

int main() {
  const SimdPath best = ak::best_simd_path();
#if AK_X86_PATHS
  expect(best == compiler_tier(), "detected path against the compiler's detection", best);
#else
  expect(best == SimdPath::portable, "only the portable path off x86-64", best);
#endif
  expect(best == ak::detect_simd_path(), "the best path is the one detected", best);
  for (const SimdPath path : ak::kSimdPaths) {
    expect(ak::simd_path_supported(path) == (path == SimdPath::portable || (AK_X86_PATHS && path <= best)),
           "supported exactly up to the best path", path);
    if (ak::simd_path_supported(path)) check_dispatch(path);
  }
  std::printf("path_check: best path %s, %s\n", ak::simd_path_name(best),
              g_failures == 0 ? "detection and dispatch agree" : "MISMATCHES");
  return g_failures == 0 ? 0 : 1;
}
