// Shared pieces of the libFuzzer harnesses: cutting the input into lines,
// an independent whitespace tokenizer, exact reference texts for the number
// fields, and a UTF-8 decoder. Every harness aborts on the first disagreement,
// so libFuzzer keeps the input that shows it.
#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "simd_path.hpp"
#include "strided.hpp"

namespace fuzzkit {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "MISMATCH: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void require(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// Lines as the host package hands them over: each item keeps its line feed,
// the last one may lack it.
inline std::vector<std::string_view> split_lines(std::string_view data) {
  std::vector<std::string_view> lines;
  while (!data.empty()) {
    std::size_t end = data.find('\n');
    end = end == std::string_view::npos ? data.size() : end + 1;
    lines.push_back(data.substr(0, end));
    data.remove_prefix(end);
  }
  return lines;
}

// The lines of `data` as split_lines cuts them, each copied into a heap
// block of exactly its size, so that AddressSanitizer sees a load past a
// line's end or before its start.
struct OwnedLines {
  std::vector<std::unique_ptr<char[]>> blocks;
  std::vector<std::string_view> views;
  explicit OwnedLines(std::string_view data) {
    for (const std::string_view line : split_lines(data)) {
      blocks.push_back(std::make_unique<char[]>(line.size()));
      std::memcpy(blocks.back().get(), line.data(), line.size());
      views.emplace_back(blocks.back().get(), line.size());
    }
  }
};

// Runs check(path) for every path of Paths (ak::CodePaths) this processor
// supports: each of a loop's own codes once.
template <class Paths, class Check>
void for_each_path(Check&& check) {
  for (const ak::SimdPath path : Paths::list) {
    if (ak::simd_path_supported(path)) check(path);
  }
}

// The separators of every reader: TAB, LF, FF, CR and SPACE, nothing else.
inline bool is_sep(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

inline std::vector<std::string_view> tokens_of(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_sep(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !is_sep(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

inline bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Fixed float field by std::to_chars (exact, ties to even), with the field
// rules around it: "NaN", "inf", "-inf", right-aligned to `width`.
inline std::string ref_fixed(double x, unsigned width, unsigned precision) {
  std::string body;
  if (std::isnan(x)) {
    body = "NaN";
  } else if (std::isinf(x)) {
    body = x < 0 ? "-inf" : "inf";
  } else {
    char buf[1400];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, static_cast<int>(precision));
    if (r.ec != std::errc()) fail("to_chars failed");
    body.assign(buf, r.ptr);
    // to_chars writes -0.000 for negative zero already; a negative value that
    // rounds to zero keeps its '-' as well.
  }
  if (body.size() < width) body.insert(0, width - body.size(), ' ');
  return body;
}

inline std::string ref_int(long long v, unsigned width) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%*lld", static_cast<int>(width), v);
  return std::string(buf, static_cast<std::size_t>(n));
}

inline std::string ref_uint(unsigned long long v, unsigned width) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%*llu", static_cast<int>(width), v);
  return std::string(buf, static_cast<std::size_t>(n));
}

// Strict UTF-8 decoding (no surrogates, no overlongs, nothing past U+10FFFF).
// Returns false on the first malformed sequence.
inline bool decode_utf8(std::string_view s, std::vector<char32_t>* out) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    std::size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      len = 4;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    if (out != nullptr) out->push_back(cp);
    i += len;
  }
  return true;
}

// A C-ordered rows x cols view over a vector.
template <class T>
ak::StridedView<T> c_view(const std::vector<T>& v, std::size_t rows, std::size_t cols) {
  ak::StridedView<T> view;
  view.data = reinterpret_cast<const char*>(v.data());
  view.rows = rows;
  view.cols = cols;
  view.stride0 = static_cast<std::ptrdiff_t>(cols * sizeof(T));
  view.stride1 = static_cast<std::ptrdiff_t>(sizeof(T));
  return view;
}

// Reads the fuzz input front to back; past its end every read gives zeros.
struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t u8() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  template <class T>
  T take() {
    T v{};
    unsigned char raw[sizeof(T)] = {};
    for (auto& b : raw) b = u8();
    std::memcpy(&v, raw, sizeof(T));
    return v;
  }
  std::string_view rest() const { return {reinterpret_cast<const char*>(p), n}; }
};

}  // namespace fuzzkit
