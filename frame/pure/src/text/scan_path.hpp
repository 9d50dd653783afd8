// Which code the number scans run: the portable word-at-a-time code, or the
// vector code for processors that have SSSE3 and SSE4.1 (x86-64 only). The
// vector path is chosen once, at load, from what the processor reports; both
// give the same result for every input, and the vector code hands every
// token it does not gather itself to the portable code.
//
// force_scan_path() exists for the harnesses that run every input down each
// path and compare; nothing in the modules calls it.
#pragma once

namespace ak::text {

enum class ScanPath { portable, vector };

// The path the scans take now.
ScanPath scan_path() noexcept;

// Whether this processor (and build) can take `path`.
bool scan_path_available(ScanPath path) noexcept;

// Makes the scans take `path` from now on; false (and nothing changed) when
// it is not available. Not thread-safe: for single-threaded harnesses.
bool force_scan_path(ScanPath path) noexcept;

namespace detail {
// True when the scans take the vector path; set once at load.
extern bool scan_vector;
}  // namespace detail

}  // namespace ak::text
