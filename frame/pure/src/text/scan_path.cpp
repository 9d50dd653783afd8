#include "text/scan_path.hpp"

namespace ak::text {

namespace {

bool vector_supported() noexcept {
#if defined(AK_SCAN_VECTOR)
  __builtin_cpu_init();  // this runs from a static initializer, maybe before the runtime's own
  return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
#else
  return false;
#endif
}

const bool kVectorSupported = vector_supported();
bool vector_taken = kVectorSupported;

}  // namespace

ScanPath scan_path() noexcept { return vector_taken ? ScanPath::vector : ScanPath::portable; }

bool scan_path_available(ScanPath path) noexcept { return path == ScanPath::portable || kVectorSupported; }

bool force_scan_path(ScanPath path) noexcept {
  if (!scan_path_available(path)) return false;
  vector_taken = path == ScanPath::vector;
  return true;
}

}  // namespace ak::text
