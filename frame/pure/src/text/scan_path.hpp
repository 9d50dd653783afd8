// Which code the readers' scans run: the portable word-at-a-time code, or
// the vector code for processors that have SSSE3 and SSE4.1 (x86-64 only,
// where AK_SCAN_VECTOR is defined). The vector path is chosen once, at load,
// from what the processor reports; both give the same result for every
// input.
//
// force_scan_path() exists for the harnesses that run every input down each
// path; nothing in the modules calls it.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define AK_SCAN_VECTOR 1
// The instruction sets the vector path is compiled for.
#define AK_SCAN_VECTOR_TARGET gnu::target("ssse3,sse4.1")
#endif

namespace ak::text {

enum class ScanPath { portable, vector };

// The path the scans take now.
ScanPath scan_path() noexcept;

// Whether this processor (and build) can take `path`.
bool scan_path_available(ScanPath path) noexcept;

// Makes the scans take `path` from now on; false (and nothing changed) when
// it is not available. Not thread-safe: for single-threaded harnesses.
bool force_scan_path(ScanPath path) noexcept;

}  // namespace ak::text
