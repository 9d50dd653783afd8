#!/usr/bin/env bash
# Succeeds when the fuzzing compiler is there (installing clang with apt-get
# first when it is missing and we are root); otherwise says why and fails, so
# that the fuzz targets can skip.
cxx=${1:-clang++}
if ! command -v "$cxx" >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing clang for the fuzz harnesses"
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang; } >/dev/null || {
      echo "fuzz: apt-get install clang failed; skipping"; exit 1; }
  else
    echo "fuzz: $cxx not found and not root to install clang; skipping"
    exit 1
  fi
fi
# libFuzzer ships with clang; refuse compilers that cannot link it.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' >"$probe/p.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
  echo "fuzz: $cxx cannot build libFuzzer harnesses (-fsanitize=fuzzer); skipping"
  exit 1
fi
