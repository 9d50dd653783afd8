#!/usr/bin/env bash
# Succeeds when CXX (default clang++) compiles, links and runs a C++20
# program against libc++; as root with apt-get it first installs what is
# missing (clang, libc++-dev, libc++abi-dev). Otherwise it says why and fails.
#
#   tools/ensure_libcxx.sh [CXX]
set -uo pipefail
cxx=${1:-clang++}

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
# C++20 that needs the library's own headers and runtime: a libstdc++
# fallback or a missing libc++.so.1 fails the build or the run.
cat >"$probe/p.cpp" <<'EOF'
#include <span>
#include <string>
#include <vector>
int main() {
#ifndef _LIBCPP_VERSION
  return 1;
#else
  std::vector<std::string> v{"libc++"};
  return std::span(v).size() == 1 ? 0 : 1;
#endif
}
EOF
works() {
  command -v "$cxx" >/dev/null 2>&1 &&
    "$cxx" -std=c++20 -stdlib=libc++ "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1 && "$probe/p"
}

works && exit 0
if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "libc++: $cxx cannot build against libc++, and not root to install clang, libc++-dev and libc++abi-dev"
  exit 1
fi
echo "installing clang, libc++-dev and libc++abi-dev"
{ apt-get update -qq -o DPkg::Lock::Timeout=600 &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 clang libc++-dev libc++abi-dev; } >"$probe/apt.log" 2>&1 || {
  cat "$probe/apt.log"; echo "libc++: apt-get install failed"; exit 1; }
works || { echo "libc++: $cxx still cannot build and run a program against libc++"; exit 1; }
