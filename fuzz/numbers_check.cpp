// Differential checker for the number text rules.
//
//   write_fixed  against std::to_chars (fixed, exact) and, for finite values,
//                snprintf("%*.*f") as a second exact reference;
//   write_fixed<W, P, Path> (the inline form) against write_fixed, and its
//                digit groups on every eight-digit value, on every code path
//                the processor supports (simd_path.hpp);
//   parse_float  against strtod (C locale) on grammar-valid tokens, and the
//                accept/refuse decision against a plain statement of the grammar;
//   scan_float   and, on x86-64, scan_float_vector against parse_float on
//                tokens of every generator placed inside lines;
//   parse_int64  against a reference that finds the first bad digit and the
//                first overflowing prefix separately;
//   write_int / write_uint against snprintf, write_int<W, Path> against
//                write_int on every path.
// Then times the functions (ns per call).
//
// Standalone:
//   g++ -std=c++20 -O2 -Iframe/pure/src fuzz/numbers_check.cpp frame/pure/src/text/float_parse.cpp
//       frame/pure/src/text/int_parse.cpp frame/pure/src/text/number_format.cpp -o numbers_check
//   ./numbers_check [scale [seed]]   (scale multiplies the case counts, default 1;
//                                     below 0.5 the timings are skipped and the
//                                     eight-digit groups are sampled, not all
//                                     checked: `make check-numbers` runs 0.02)
// As a libFuzzer harness:
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -DAK_LIBFUZZER ...
// Exits non-zero on any mismatch.

#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/float_parse.hpp"
#include "text/int_parse.hpp"
#include "simd_path.hpp"
#include "text/number_format.hpp"

namespace {

using ak::SimdPath;
using ak::text::fixed_max_len;
using ak::text::int_max_len;

// Calls f.template operator()<P>() for every code path P of the number
// writers (ak::WritePaths) supported here.
template <class F, SimdPath... P>
void for_each_path_of(F& f, ak::CodePaths<P...>) {
  ((ak::simd_path_supported(P) ? f.template operator()<P>() : void()), ...);
}
template <class F>
void for_each_path(F&& f) {
  for_each_path_of(f, ak::WritePaths{});
}

// ---------------------------------------------------------------- references

// Exact fixed text by std::to_chars, with the field rules applied around it.
std::size_t ref_fixed(char* out, double x, unsigned width, unsigned precision) {
  char buf[1600];
  std::size_t n;
  if (std::isnan(x)) {
    n = 3;
    std::memcpy(buf, "NaN", 3);
  } else if (std::isinf(x)) {
    n = std::signbit(x) ? 4 : 3;
    std::memcpy(buf, std::signbit(x) ? "-inf" : "inf", n);
  } else {
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed,
                           static_cast<int>(precision));
    if (r.ec != std::errc()) std::abort();
    n = static_cast<std::size_t>(r.ptr - buf);
  }
  std::size_t pad = n < width ? width - n : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, buf, n);
  return pad + n;
}

// The grammar, stated plainly: what a token must look like to be accepted.
bool ref_grammar(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  std::string word;
  for (std::size_t j = i; j < n; ++j)
    word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[j]))));
  if (word == "inf" || word == "infinity" || word == "nan") return true;
  auto digits = [&](std::size_t from) {
    std::size_t k = from;
    while (k < n && s[k] >= '0' && s[k] <= '9') ++k;
    return k - from;
  };
  const std::size_t before = digits(i);
  i += before;
  std::size_t after = 0;
  if (i < n && s[i] == '.') {
    after = digits(++i);
    i += after;
  }
  if (before + after == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t exp_digits = digits(i);
    if (exp_digits == 0) return false;
    i += exp_digits;
  }
  return i == n;
}

// Reference integer parse: the first non-digit position and the first prefix
// whose value leaves the range are found separately; the earlier one decides.
const char* ref_int(std::string_view s, std::int64_t& out) {
  if (s.empty()) return ak::text::kIntEmpty;
  bool neg = false;
  std::size_t i = 0;
  if (s[0] == '+' || s[0] == '-') {
    neg = s[0] == '-';
    i = 1;
    if (s.size() == 1) return ak::text::kIntInvalidDigit;
  }
  std::size_t bad = std::string_view::npos;
  for (std::size_t j = i; j < s.size(); ++j) {
    if (s[j] < '0' || s[j] > '9') {
      bad = j;
      break;
    }
  }
  const std::string_view bound = neg ? "9223372036854775808" : "9223372036854775807";
  std::size_t overflow = std::string_view::npos;
  std::string sig;  // significant digits of the prefix so far
  for (std::size_t j = i; j < s.size() && j != bad; ++j) {
    if (sig.empty() && s[j] == '0') continue;
    sig.push_back(s[j]);
    if (sig.size() > bound.size() || (sig.size() == bound.size() && sig > bound)) {
      overflow = j;
      break;
    }
  }
  if (bad != std::string_view::npos && (overflow == std::string_view::npos || bad <= overflow))
    return ak::text::kIntInvalidDigit;
  if (overflow != std::string_view::npos)
    return neg ? ak::text::kIntTooSmall : ak::text::kIntTooLarge;
  std::string copy(s);
  errno = 0;
  out = std::strtoll(copy.c_str(), nullptr, 10);
  if (errno != 0) std::abort();
  return nullptr;
}

bool same_double(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// ---------------------------------------------------------------- bookkeeping

struct Tally {
  const char* name;
  std::uint64_t cases = 0;
  std::uint64_t mismatches = 0;
};

int g_reported = 0;
void report(Tally& t, const std::string& what) {
  ++t.mismatches;
  if (g_reported++ < 40) std::printf("MISMATCH %s: %s\n", t.name, what.c_str());
}

std::string shown(const char* p, std::size_t n) { return "[" + std::string(p, n) + "]"; }

std::string hex(double x) {
  char b[64];
  std::snprintf(b, sizeof b, "%a (%016llx)", x,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(x)));
  return b;
}

// ---------------------------------------------------------------- checks

bool check_fixed_one(Tally& t, double x, unsigned width, unsigned precision, bool with_printf) {
  static std::vector<char> got(4096), want(4096);
  ++t.cases;
  char* end = ak::text::write_fixed(got.data(), x, width, precision);
  auto n = static_cast<std::size_t>(end - got.data());
  std::size_t m = ref_fixed(want.data(), x, width, precision);
  bool ok = n == m && n <= fixed_max_len(width, precision) && std::memcmp(got.data(), want.data(), n) == 0;
  if (ok && with_printf && std::isfinite(x)) {
    int k = std::snprintf(want.data(), want.size(), "%*.*f", static_cast<int>(width),
                          static_cast<int>(precision), x);
    ok = static_cast<std::size_t>(k) == n && std::memcmp(got.data(), want.data(), n) == 0;
    m = static_cast<std::size_t>(k);
  }
  if (!ok) {
    report(t, hex(x) + " w=" + std::to_string(width) + " p=" + std::to_string(precision) +
                  " got " + shown(got.data(), n) + " want " + shown(want.data(), m));
  }
  return ok;
}

// The inline write_fixed<W, P, Path> against the run-time form (itself
// checked against the references above), byte for byte and in length. The
// bytes after the field are filled first, to catch a writer that returns
// the right end but leaves part of its field unwritten.
template <unsigned W, unsigned P, SimdPath Path>
bool check_fixed_inline_one(Tally& t, double x) {
  static std::vector<char> got(4096), want(4096);
  ++t.cases;
  std::memset(got.data(), '#', 400);
  char* end = ak::text::write_fixed<W, P, Path>(got.data(), x);
  auto n = static_cast<std::size_t>(end - got.data());
  auto m = static_cast<std::size_t>(ak::text::write_fixed(want.data(), x, W, P) - want.data());
  const bool ok = n == m && std::memcmp(got.data(), want.data(), n) == 0;
  if (!ok) {
    report(t, hex(x) + " inline w=" + std::to_string(W) + " p=" + std::to_string(P) + " path " +
                  ak::simd_path_name(Path) + " got " + shown(got.data(), n) + " want " + shown(want.data(), m));
  }
  return ok;
}

template <unsigned W, unsigned P, SimdPath Path>
void check_fixed_inline_both_signs(Tally& t, double x) {
  check_fixed_inline_one<W, P, Path>(t, x);
  check_fixed_inline_one<W, P, Path>(t, -x);
}

// Every inline format a writer uses, and some around the digit-group edges
// and the limits of the AVX-512 form (at most 25 columns, at least 3 more
// than the precision), on every path.
void check_fixed_inline(Tally& t, double x) {
  for_each_path([&]<SimdPath Path>() {
    check_fixed_inline_both_signs<22, 15, Path>(t, x);
    check_fixed_inline_both_signs<19, 16, Path>(t, x);
    check_fixed_inline_both_signs<11, 8, Path>(t, x);
    check_fixed_inline_both_signs<16, 8, Path>(t, x);
    check_fixed_inline_both_signs<0, 1, Path>(t, x);
    check_fixed_inline_both_signs<12, 7, Path>(t, x);
    check_fixed_inline_both_signs<3, 9, Path>(t, x);
    check_fixed_inline_both_signs<30, 14, Path>(t, x);
    check_fixed_inline_both_signs<25, 16, Path>(t, x);
    check_fixed_inline_both_signs<18, 15, Path>(t, x);
    check_fixed_inline_both_signs<4, 1, Path>(t, x);
  });
}

bool check_parse_one(Tally& t, std::string_view token) {
  ++t.cases;
  double got = 12345.0;
  const char* err = ak::text::parse_float(token, got);
  std::string copy(token);
  const bool valid = ref_grammar(token);
  if (token.empty()) {
    if (err != ak::text::kFloatEmpty) {
      report(t, "empty token");
      return false;
    }
    return true;
  }
  if (!valid) {
    if (err != ak::text::kFloatInvalid) {
      report(t, "accepted invalid token " + shown(token.data(), token.size()));
      return false;
    }
    return true;
  }
  if (err != nullptr) {
    report(t, "refused valid token " + shown(token.data(), token.size()) + ": " + err);
    return false;
  }
  double want = std::strtod(copy.c_str(), nullptr);
  if (!same_double(got, want)) {
    report(t, "token " + copy + " got " + hex(got) + " want " + hex(want));
    return false;
  }
  return true;
}

bool check_int_one(Tally& t, std::string_view token) {
  ++t.cases;
  std::int64_t got = 0x5a5a, want = 0x5a5a;
  const char* e1 = ak::text::parse_int64(token, got);
  const char* e2 = ref_int(token, want);
  bool ok = (e1 == nullptr) == (e2 == nullptr) &&
            (e1 == nullptr ? got == want : std::strcmp(e1, e2) == 0);
  if (!ok) {
    report(t, "token " + shown(token.data(), token.size()) + " got " +
                  (e1 ? e1 : std::to_string(got)) + " want " + (e2 ? e2 : std::to_string(want)));
  }
  return ok;
}

bool check_write_int_one(Tally& t, std::uint64_t bits, unsigned width) {
  ++t.cases;
  char got[64], want[64];
  char* e = ak::text::write_int(got, static_cast<std::int64_t>(bits), width);
  int k = std::snprintf(want, sizeof want, "%*lld", static_cast<int>(width),
                        static_cast<long long>(static_cast<std::int64_t>(bits)));
  bool ok = e - got == k && std::memcmp(got, want, static_cast<std::size_t>(k)) == 0 &&
            static_cast<std::size_t>(k) <= int_max_len(width);
  e = ak::text::write_uint(got, bits, width);
  int k2 = std::snprintf(want + 32, 32, "%*llu", static_cast<int>(width),
                         static_cast<unsigned long long>(bits));
  ok = ok && e - got == k2 && std::memcmp(got, want + 32, static_cast<std::size_t>(k2)) == 0;
  if (!ok) report(t, "integer " + std::to_string(bits) + " w=" + std::to_string(width));
  return ok;
}

// The inline form for the atom-line writer's width, and a wider one, against
// the general form, on every path.
template <unsigned W>
bool check_write_int_inline_one(Tally& t, std::int64_t value) {
  bool ok = true;
  for_each_path([&]<SimdPath Path>() {
    ++t.cases;
    char inl[64], gen[64];
    std::memset(inl, '#', sizeof inl);
    char* ei = ak::text::write_int<W, Path>(inl, value);
    char* eg = ak::text::write_int(gen, value, W);
    if (ei - inl != eg - gen || std::memcmp(inl, gen, static_cast<std::size_t>(eg - gen)) != 0) {
      ok = false;
      report(t, "inline integer " + std::to_string(value) + " w=" + std::to_string(W) + " path " +
                    ak::simd_path_name(Path) + " got " + shown(inl, static_cast<std::size_t>(ei - inl)));
    }
  });
  return ok;
}

bool check_write_int_inline(Tally& t, std::int64_t value) {
  const bool eight = check_write_int_inline_one<8>(t, value);  // both run, whatever the first found
  const bool twelve = check_write_int_inline_one<12>(t, value);
  return eight && twelve;
}


// The token scans inside a line: the token starts at `start` and runs to the
// first ASCII whitespace byte (TAB, LF, FF, CR, SPACE) or the line's end, by
// a plain byte loop. scan_float / scan_int64 must find that end, and give
// exactly what parse_float / parse_int64 give for that token, leaving the
// output alone on failure. The line lives in an exact-size heap block, so
// AddressSanitizer sees any load outside [readable, end).
bool is_separator(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }

bool check_scan_line(Tally& t, const std::string& text, std::size_t start, std::size_t readable_from) {
  if (start >= text.size() || is_separator(text[start])) return true;
  ++t.cases;
  const std::size_t n = text.size();
  std::unique_ptr<char[]> block(new char[n]);
  std::memcpy(block.get(), text.data(), n);
  const char* const line = block.get();
  const char* const end = line + n;
  const char* const p = line + start;
  const char* const readable = line + (readable_from <= start ? readable_from : start);
  std::size_t stop = start;
  while (stop < n && !is_separator(text[stop])) ++stop;
  const std::string_view token(p, stop - start);

  bool ok = true;
  std::string why;
  {
    const double sentinel = -7.25;
    double want = sentinel, got = sentinel;
    const char* err = ak::text::parse_float(token, want);
    const ak::text::ScanResult r = ak::text::scan_float(p, end, readable, got);
    if (r.end != line + stop) {
      ok = false;
      why = "scan_float end " + std::to_string(r.end - line) + " want " + std::to_string(stop);
    } else if (r.ok != (err == nullptr)) {
      ok = false;
      why = std::string("scan_float ok=") + (r.ok ? "1" : "0") + " parse_float " + (err ? err : "ok");
    } else if (r.ok ? !same_double(got, want) : !same_double(got, sentinel)) {
      ok = false;
      why = "scan_float value " + hex(got) + " want " + hex(r.ok ? want : sentinel);
    } else if (err != nullptr && err != ak::text::kFloatInvalid) {
      ok = false;
      why = "parse_float failure text";
    }
#if AK_X86_PATHS
    if (ok && ak::simd_path_supported(ak::SimdPath::sse4)) {
      double vgot = sentinel;
      const ak::text::ScanResult v = ak::text::scan_float_vector(p, end, readable, vgot);
      if (v.end != r.end || v.ok != r.ok || !same_double(vgot, got)) {
        ok = false;
        why = "scan_float_vector end " + std::to_string(v.end - line) + " ok=" + (v.ok ? "1" : "0") + " value " +
              hex(vgot) + ", scan_float " + std::to_string(r.end - line) + " ok=" + (r.ok ? "1" : "0") + " " + hex(got);
      }
    }
#endif
  }
  if (ok) {
    std::int64_t want = 0x5a5a, got = 0x5a5a;
    const char* err = ak::text::parse_int64(token, want);
    const ak::text::IntScanResult r = ak::text::scan_int64(p, end, readable, got);
    if (r.end != line + stop) {
      ok = false;
      why = "scan_int64 end " + std::to_string(r.end - line) + " want " + std::to_string(stop);
    } else if (r.error != err || got != want) {
      ok = false;
      why = std::string("scan_int64 ") + (r.error ? r.error : std::to_string(got)) + " want " +
            (err ? err : std::to_string(want));
    }
  }
  if (!ok) {
    std::string shown_line;
    for (char c : text) {
      char b[8];
      if (c >= 0x21 && c < 0x7f) {
        shown_line.push_back(c);
      } else {
        std::snprintf(b, sizeof b, "\\x%02x", static_cast<unsigned char>(c));
        shown_line += b;
      }
    }
    report(t, "line [" + shown_line + "] at " + std::to_string(start) + ": " + why);
  }
  return ok;
}

#ifndef AK_LIBFUZZER

// Faster variant for tokens built to be valid: skips the regular expression.
bool check_parse_valid(Tally& t, const char* token, std::size_t n) {
  ++t.cases;
  double got = 12345.0;
  const char* err = ak::text::parse_float(std::string_view(token, n), got);
  if (err != nullptr) {
    report(t, "refused valid token " + shown(token, n) + ": " + err);
    return false;
  }
  std::string copy(token, n);
  double want = std::strtod(copy.c_str(), nullptr);
  if (!same_double(got, want)) {
    report(t, "token " + copy + " got " + hex(got) + " want " + hex(want));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- generators

struct Rng {
  std::uint64_t s;
  std::uint64_t next() {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
  bool coin() { return (next() & 1) != 0; }
};

double random_double(Rng& r) {
  switch (r.below(10)) {
    case 0:  // any bit pattern
      return std::bit_cast<double>(r.next());
    case 1:  // typical coordinates
      return (r.unit() * 2 - 1) * 100.0;
    case 2:  // typical range with a random scale
      return (r.unit() * 2 - 1) * std::pow(10.0, static_cast<int>(r.below(41)) - 20);
    case 3: {  // dyadic values k / 2^n: many exact ties at the rounding digit
      const auto k = static_cast<double>(r.next() >> r.below(64));
      return std::ldexp(r.coin() ? k : -k, -static_cast<int>(r.below(80)));
    }
    case 4: {  // near a decimal tie (d + 1/2) * 10^-p, a few ulps either way
      const int p = static_cast<int>(r.below(18));
      double x = (static_cast<double>(r.below(2000000)) + 0.5) / std::pow(10.0, p);
      for (auto s = r.below(5); s > 0; --s) x = std::nextafter(x, r.coin() ? 0.0 : 1e300);
      return r.coin() ? x : -x;
    }
    case 5: {  // powers of ten and their neighbours
      double x = std::pow(10.0, static_cast<int>(r.below(60)) - 30);
      if (r.coin()) x = std::nextafter(x, r.coin() ? 0.0 : 1e300);
      return r.coin() ? x : -x;
    }
    case 6:  // subnormals and tiny values
      return std::bit_cast<double>((r.next() & 0x800fffffffffffffull) |
                                   (r.below(4) == 0 ? 0 : (r.below(40) << 52)));
    case 7: {  // large values, around 2^63 and beyond
      const int e = 1023 + 50 + static_cast<int>(r.below(r.coin() ? 20 : 975));
      return std::bit_cast<double>((r.next() & 0x800fffffffffffffull) |
                                   (static_cast<std::uint64_t>(e) << 52));
    }
    case 8: {  // integers and half-integers
      const double x = static_cast<double>(r.below(100000)) + (r.coin() ? 0.5 : 0.0);
      return r.coin() ? x : -x;
    }
    default: {  // small negatives that round to zero, and signed zeros
      if (r.below(8) == 0) return r.coin() ? 0.0 : -0.0;
      return -std::ldexp(r.unit(), -static_cast<int>(r.below(70)));
    }
  }
}

// A grammar-valid decimal token with random shape.
std::size_t random_token(Rng& r, char* out) {
  char* p = out;
  switch (r.below(3)) {
    case 1: *p++ = '-'; break;
    case 2: if (r.below(4) == 0) *p++ = '+'; break;
    default: break;
  }
  // Lengths favour the short and the just-past-19-digit shapes.
  auto length = [&r]() -> std::size_t {
    switch (r.below(4)) {
      case 0: return r.below(4);
      case 1: return r.below(12);
      case 2: return 15 + r.below(8);
      default: return r.below(40);
    }
  };
  std::size_t ni = length(), nf = length();
  const bool point = r.below(4) != 0;
  if (!point) nf = 0;
  if (ni + nf == 0) ni = 1;
  const int digit_kind = static_cast<int>(r.below(4));  // all random, 0/9 runs, leading zeros
  auto digit = [&r, digit_kind](std::size_t i) -> char {
    if (digit_kind == 1) return r.below(3) == 0 ? '9' : (r.coin() ? '0' : '9');
    if (digit_kind == 2 && i < 6) return '0';
    if (digit_kind == 3) return r.below(4) == 0 ? static_cast<char>('0' + r.below(10)) : '0';
    return static_cast<char>('0' + r.below(10));
  };
  for (std::size_t i = 0; i < ni; ++i) *p++ = digit(i);
  if (point) *p++ = '.';
  for (std::size_t i = 0; i < nf; ++i) *p++ = digit(ni + i);
  if (r.below(3) != 0) {
    *p++ = r.coin() ? 'e' : 'E';
    switch (r.below(3)) {
      case 0: *p++ = '-'; break;
      case 1: *p++ = '+'; break;
      default: break;
    }
    long e;
    switch (r.below(4)) {
      case 0: e = static_cast<long>(r.below(30)); break;
      case 1: e = static_cast<long>(r.below(400)); break;
      case 2: e = 280 + static_cast<long>(r.below(80)); break;
      default: e = static_cast<long>(r.below(100000000000ull)); break;
    }
    if (r.below(8) == 0) *p++ = '0';
    p += std::snprintf(p, 32, "%ld", e);
  }
  return static_cast<std::size_t>(p - out);
}

// Tokens from printed doubles: shortest-ish, many digits, and exact midpoints
// between neighbouring doubles (printed exactly from long double) with
// neighbours just above and below.
std::size_t printed_token(Rng& r, char* out, std::size_t cap) {
  double x = random_double(r);
  if (!std::isfinite(x)) x = 1.5;
  switch (r.below(4)) {
    case 0:
      return static_cast<std::size_t>(std::snprintf(out, cap, "%.17g", x));
    case 1:
      return static_cast<std::size_t>(
          std::snprintf(out, cap, "%.*e", static_cast<int>(r.below(30)), x));
    case 2: {
      const double ax = std::fabs(x);
      if (ax > 1e30 || ax < 1e-30) return static_cast<std::size_t>(std::snprintf(out, cap, "%.20e", x));
      return static_cast<std::size_t>(
          std::snprintf(out, cap, "%.*f", static_cast<int>(r.below(40)), x));
    }
    default: {
      const double y = std::nextafter(x, r.coin() ? 0.0 : HUGE_VAL);
      if (!std::isfinite(y)) return static_cast<std::size_t>(std::snprintf(out, cap, "%.17g", x));
      long double mid = (static_cast<long double>(x) + static_cast<long double>(y)) / 2;
      const auto shift = r.below(3);
      if (shift == 1) mid = std::nextafter(mid, 0.0L);
      if (shift == 2) mid = std::nextafter(mid, HUGE_VALL);
      // 800 significant digits print any long double between these bounds exactly.
      return static_cast<std::size_t>(std::snprintf(out, cap, "%.800Le", mid));
    }
  }
}

// A random short string over the characters that matter to the grammar.
std::size_t junk_token(Rng& r, char* out) {
  static const char alphabet[] = "0123456789+-.eE.dDxXp_ infINFnaNtyY()\t";
  const std::size_t n = r.below(10);
  for (std::size_t i = 0; i < n; ++i) out[i] = alphabet[r.below(sizeof alphabet - 1)];
  return n;
}

std::size_t int_token(Rng& r, char* out) {
  char* p = out;
  switch (r.below(4)) {
    case 0: *p++ = '-'; break;
    case 1: *p++ = '+'; break;
    default: break;
  }
  const int kind = static_cast<int>(r.below(4));
  if (kind == 0) {  // around the range bounds
    static const char* bounds[] = {"9223372036854775807", "9223372036854775808",
                                   "9223372036854775806", "9223372036854775809",
                                   "9223372036854775810", "92233720368547758070",
                                   "18446744073709551616", "0009223372036854775808"};
    const char* b = bounds[r.below(8)];
    std::size_t n = std::strlen(b);
    std::memcpy(p, b, n);
    p += n;
  } else {
    std::size_t n = kind == 1 ? r.below(6) : r.below(24);
    for (std::size_t i = 0; i < n; ++i) *p++ = static_cast<char>('0' + r.below(10));
  }
  if (r.below(3) == 0 && p != out) {  // one bad byte somewhere
    static const char bad[] = ".eE x+-_/:";
    out[r.below(static_cast<std::uint64_t>(p - out))] = bad[r.below(sizeof bad - 1)];
  }
  if (r.below(5) == 0) *p++ = "x.9"[r.below(3)];
  return static_cast<std::size_t>(p - out);
}


// ---------------------------------------------------------------- halfway tokens

// Exact decimal of the midpoint between x (finite, >= 0) and the next double
// up (2^1024 after the largest): its significant digits and the decimal
// exponent of the first. The midpoint (2m + 1) * 2^(e - 1) has a 54-bit
// odd factor, exact in a long double, which glibc prints exactly.
void midpoint_digits(double x, std::string& digits, int& exp10) {
  long double mid;
  if (x == std::numeric_limits<double>::max()) {
    mid = static_cast<long double>(x) + ::ldexpl(1.0L, 970);
  } else {
    const double y = std::nextafter(x, HUGE_VAL);
    mid = (static_cast<long double>(x) + static_cast<long double>(y)) / 2;
  }
  char buf[1000];
  std::snprintf(buf, sizeof buf, "%.800Le", mid);
  const char* e = std::strchr(buf, 'e');
  exp10 = std::atoi(e + 1);
  digits.clear();
  for (const char* c = buf; c != e; ++c) {
    if (*c >= '0' && *c <= '9') digits.push_back(*c);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

// Adds delta (-9..9) to the decimal integer in `digits` (no sign), keeping
// its length unless a carry adds a digit; a result below zero stays "0".
void add_to_last(std::string& digits, int delta) {
  int carry = delta;
  for (std::size_t i = digits.size(); i-- > 0 && carry != 0;) {
    int d = digits[i] - '0' + carry;
    carry = 0;
    while (d < 0) {
      d += 10;
      --carry;
    }
    while (d > 9) {
      d -= 10;
      ++carry;
    }
    digits[i] = static_cast<char>('0' + d);
  }
  if (carry > 0) digits.insert(digits.begin(), static_cast<char>('0' + carry));
  if (carry < 0) digits = "0";
}

// Writes the value 0.d1d2d3... * 10^(exp10 + 1) (digits = d1d2d3..., exp10
// the exponent of d1) in one of several equivalent shapes: scientific with
// the point after some digit, with leading or trailing zeros, or plain
// positional; with a random sign.
std::string shaped_token(Rng& r, const std::string& digits, long exp10, bool positional = false) {
  std::string out;
  switch (r.below(3)) {
    case 0: out.push_back('-'); break;
    case 1: if (r.below(4) == 0) out.push_back('+'); break;
    default: break;
  }
  const auto n = static_cast<long>(digits.size());
  const int shape = positional ? 0 : static_cast<int>(r.below(6));
  if (shape == 0 && exp10 >= -25 && exp10 < 40) {
    // Positional, no exponent.
    if (exp10 < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exp10 - 1), '0');
      out += digits;
    } else if (exp10 + 1 >= n) {
      out += digits;
      out.append(static_cast<std::size_t>(exp10 + 1 - n), '0');
      if (r.coin()) out += ".";
    } else {
      out += digits.substr(0, static_cast<std::size_t>(exp10 + 1));
      out += ".";
      out += digits.substr(static_cast<std::size_t>(exp10 + 1));
    }
    return out;
  }
  // Point after `lead` digits (0 = before all of them), then extra zeros.
  const long lead = shape == 1 ? 0 : shape == 2 ? static_cast<long>(r.below(static_cast<std::uint64_t>(n) + 1)) : 1;
  const long front_zeros = shape == 3 ? static_cast<long>(r.below(30)) : 0;
  const long back_zeros = shape == 4 ? static_cast<long>(r.below(30)) : 0;
  std::string body;
  if (lead == 0) {
    body = "0.";
    body.append(static_cast<std::size_t>(front_zeros), '0');
    body += digits;
  } else {
    body.append(static_cast<std::size_t>(front_zeros), '0');
    body += digits.substr(0, static_cast<std::size_t>(lead));
    if (lead < n || r.coin()) body += ".";
    body += digits.substr(static_cast<std::size_t>(lead));
  }
  body.append(static_cast<std::size_t>(back_zeros), '0');
  // value = 0.digits * 10^(exp10 + 1); the body reads digits with the point
  // after `lead` of them, behind `front_zeros` zeros when lead = 0.
  const long e = lead == 0 ? exp10 + 1 + front_zeros : exp10 - (lead - 1);
  out += body;
  out.push_back(r.coin() ? 'e' : 'E');
  if (e < 0) {
    out.push_back('-');
  } else if (r.below(3) == 0) {
    out.push_back('+');
  }
  if (r.below(6) == 0) out.append(r.below(20), '0');  // exponent with leading zeros
  out += std::to_string(e < 0 ? -e : e);
  return out;
}

// A double whose midpoint to the next one is worth checking: any bit
// pattern, subnormals, the extremes and their neighbours, coordinates.
double halfway_base(Rng& r) {
  switch (r.below(8)) {
    case 0: {
      const double x = std::bit_cast<double>(r.next() & 0x7fffffffffffffffull);
      return std::isfinite(x) ? x : 1.0;
    }
    case 1: return std::bit_cast<double>(r.next() & 0x000fffffffffffffull);  // subnormal
    case 2: return std::bit_cast<double>(r.below(64));                       // smallest subnormals, zero
    case 3: return std::nextafter(std::numeric_limits<double>::max(), 0.0 + static_cast<double>(r.below(2)) * 1e300);
    case 4: return std::bit_cast<double>(0x0010000000000000ull + r.below(64) - 32);  // around the smallest normal
    case 5: return std::fabs(static_cast<double>(r.below(1u << 30)) * std::pow(10.0, static_cast<int>(r.below(30)) - 15));
    default: return std::fabs((r.unit() * 2 - 1) * std::pow(10.0, static_cast<int>(r.below(12)) - 6));
  }
}

// A token of `sig` significant digits (16..19, or 20..800) near the midpoint
// above a random double: the midpoint's digits cut or padded to `sig`
// digits, then moved by a few units of the last digit, or the exact
// midpoint with a non-zero digit far behind it.
// With `positional`, magnitudes from 10^-6 to 10^6 written without an
// exponent (the vector gather's tokens).
std::string halfway_token(Rng& r, std::size_t sig, bool positional = false) {
  const double x = positional ? std::fabs((r.unit() * 2 - 1) * std::pow(10.0, static_cast<int>(r.below(12)) - 6))
                              : halfway_base(r);
  std::string digits;
  int exp10;
  midpoint_digits(x, digits, exp10);
  long e = exp10;
  if (digits.size() > sig) {
    const bool round_up = r.coin();
    digits.resize(sig);
    if (round_up) add_to_last(digits, 1);
  } else {
    digits.append(sig - digits.size(), '0');
  }
  switch (r.below(4)) {
    case 0: break;  // cut (just below the midpoint) or cut plus one unit (just above), or exact
    case 1: add_to_last(digits, static_cast<int>(r.below(7)) - 3); break;
    case 2: digits += std::string(r.below(40), '0') + static_cast<char>('1' + r.below(9)); break;  // sticky
    default: {
      // The exact midpoint when it fits, else the cut one.
      std::string exact;
      int ee;
      midpoint_digits(x, exact, ee);
      if (exact.size() <= sig) {
        digits = exact;
        e = ee;
      }
    }
  }
  if (digits.size() > 1 && digits.size() > sig + 1 && digits[0] == '0') digits.erase(0, 1);
  if (digits == "0") digits = "1";
  return shaped_token(r, digits, e, positional);
}

// Exponents at the edges: near 10^308 and 10^-324 with short mantissas,
// and the same values written with many zeros.
std::string edge_token(Rng& r) {
  std::string digits = std::to_string(1 + r.below(999999999999ull));
  long e;
  switch (r.below(4)) {
    case 0: e = 300 + static_cast<long>(r.below(15)); break;
    case 1: e = -330 + static_cast<long>(r.below(25)); break;
    case 2: e = -308 + static_cast<long>(r.below(4)); break;
    default: e = (r.coin() ? 1 : -1) * static_cast<long>(300 + r.below(100000)); break;
  }
  return shaped_token(r, digits, e);
}

// A token for the line scans: valid numbers of every kind, junk over the
// grammar's characters, integers, and words that a prefix of is valid.
std::string scan_token(Rng& r) {
  char buf[2000];
  static const char* const kWords[] = {"inf", "infinity", "infinit", "infinityy", "nan", "nan(1)", "NaN", "INF",
                                       "1e", "1e5x", "1e+", "1e-5.", "1.5.2", "0x10", "1d5", "--1", "+", "-",
                                       ".", "-.e1", "1_0", "9223372036854775808", "-9223372036854775808",
                                       "99999999999999999999", "12345678", "123456789012345678", "0.0", "-0"};
  switch (r.below(8)) {
    case 0: return std::string(buf, random_token(r, buf));
    case 1: return std::string(buf, junk_token(r, buf));
    case 2: return std::string(buf, int_token(r, buf));
    case 3: return kWords[r.below(sizeof kWords / sizeof kWords[0])];
    case 4: return halfway_token(r, 16 + r.below(4));
    case 5: return std::string(buf, printed_token(r, buf, sizeof buf));
    case 6: {  // the usual fixed formats
      static const char* const kFormats[] = {"%.15f", "%.16f", "%.8f", "%.3f", "%.0f", "%g"};
      const double x = (r.unit() * 2 - 1) * std::pow(10.0, static_cast<int>(r.below(8)) - 3);
      return std::string(buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, kFormats[r.below(6)], x)));
    }
    default: return std::to_string(static_cast<std::int64_t>(r.next() >> r.below(64)) * (r.coin() ? 1 : -1));
  }
}

// Bytes around a token: separators, and bytes that join the token (digits,
// letters, vertical tab, NUL, non-ASCII).
std::string scan_filler(Rng& r, std::size_t n) {
  static const char kBytes[] = " \t\n\r\f\v\0\x80\xff\xa0" "0123456789.eE+-xX";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(r.below(3) == 0 ? static_cast<char>(r.next()) : kBytes[r.below(sizeof kBytes - 1)]);
  }
  return out;
}

// Fractions as fractional coordinates are written: "0." and up to twenty
// digits, now and then an exponent. The scans read "0." tokens by a path of
// their own (one or two words of digits after the point).
std::string fraction_token(Rng& r) {
  std::string tok;
  const std::uint64_t sign = r.below(4);
  if (sign == 1) tok += '-';
  if (sign == 2) tok += '+';
  tok += "0.";
  for (std::uint64_t i = 0, digits = r.below(21); i < digits; ++i) {
    tok.push_back(static_cast<char>('0' + (r.below(4) == 0 ? 9 : r.below(10))));
  }
  if (r.below(8) == 0) tok += "e" + std::to_string(static_cast<int>(r.below(40)) - 20);
  return tok;
}

bool check_fraction(Tally& t, Rng& r) {
  const std::string token = fraction_token(r);
  if (!check_parse_valid(t, token.data(), token.size())) return false;
  const std::string before = r.coin() ? std::string(r.below(12), ' ') : std::string();
  const std::string after = scan_filler(r, r.below(3) == 0 ? 0 : r.below(12));
  return check_scan_line(t, before + token + after, before.size(), 0);
}

// A valid token from any of the parse checks' generators, inside a line:
// before it nothing or up to 20 bytes of filler and a space, after it a
// separator and up to 48 bytes (so that both the vector path's whole loads
// and its loads at the line's end are taken), or the line's end.
bool check_scan_valid(Tally& t, Rng& r, std::string_view token) {
  std::string before;
  if (r.coin()) before = scan_filler(r, r.below(21)) + ' ';
  std::string after;
  if (r.below(4) != 0) after = " \t\n\r\f"[r.below(5)] + scan_filler(r, r.below(49));
  const std::size_t readable = r.below(4) == 0 ? before.size() : 0;
  return check_scan_line(t, before + std::string(token) + after, before.size(), readable);
}

bool check_scan_random(Tally& t, Rng& r) {
  const std::string token = scan_token(r);
  std::string before = scan_filler(r, r.below(4) == 0 ? r.below(12) : 0);
  if (!before.empty() && r.coin()) before.back() = ' ';
  const std::string after = scan_filler(r, r.below(3) == 0 ? 0 : r.below(12));
  const std::string line = before + token + after;
  const std::size_t readable = r.below(4) == 0 ? before.size() : 0;
  return check_scan_line(t, line, before.size(), readable);
}

// Dyadic values k / 2^n have exactly n fraction digits, the last a 5: at
// n - 1 digits an exact tie, at fewer a round, at n or more exact. Also
// values just below a power of ten, whose rounding carries through nines
// into the integer part.
void check_fixed_slow_cases(Tally& t, Rng& r, std::uint64_t n) {
  for (std::uint64_t i = 0; i < n; ++i) {
    const unsigned bits = 21 + static_cast<unsigned>(r.below(100));
    const double k = static_cast<double>((r.next() >> 11) | 1);
    double x = std::ldexp(k, -static_cast<int>(bits));
    if (r.coin()) x = -x;
    const unsigned p = bits - 1 - static_cast<unsigned>(r.below(3));
    check_fixed_one(t, x, static_cast<unsigned>(r.below(40)), p < 20 ? 20 : p, (i & 7) == 0);
    check_fixed_one(t, x, 0, bits + static_cast<unsigned>(r.below(3)), false);
    const double near = std::nextafter(std::pow(10.0, static_cast<int>(r.below(17))), 0.0);
    check_fixed_one(t, r.coin() ? near : -near, 0, 20 + static_cast<unsigned>(r.below(40)), (i & 7) == 0);
    // Large magnitudes at any precision.
    const double big = std::ldexp(static_cast<double>(r.next() >> 11), 63 + static_cast<int>(r.below(960)));
    if (std::isfinite(big)) check_fixed_one(t, r.coin() ? big : -big, static_cast<unsigned>(r.below(30)),
                                            static_cast<unsigned>(r.below(30)), (i & 15) == 0);
  }
}

// ---------------------------------------------------------------- fixed cases

struct FixedCase {
  double value;
  unsigned width, precision;
  const char* text;
};
const FixedCase kFixedTable[] = {
    {-0.0, 22, 15, "    -0.000000000000000"},
    {2.5, 1, 0, "2"},
    {3.5, 1, 0, "4"},
    {0.5, 1, 0, "0"},
    {1.5, 0, 0, "2"},
    {0.125, 1, 2, "0.12"},
    {0.375, 1, 2, "0.38"},
    {-0.000000001, 16, 8, "     -0.00000000"},
    {NAN, 16, 8, "             NaN"},
    {-NAN, 16, 8, "             NaN"},
    {-INFINITY, 16, 8, "            -inf"},
    {INFINITY, 2, 8, "inf"},
    {1e20, 16, 8, "100000000000000000000.00000000"},
    {0.99999999995, 11, 8, " 1.00000000"},
    {-9.5, 0, 0, "-10"},
    {9223372036854774784.0, 0, 1, "9223372036854774784.0"},
    {9223372036854775808.0, 0, 1, "9223372036854775808.0"},
};

#endif  // !AK_LIBFUZZER

}  // namespace

#ifdef AK_LIBFUZZER

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Tally t{"fuzz"};
  const std::string_view token(reinterpret_cast<const char*>(data), size);
  check_int_one(t, token);
  check_parse_one(t, token);
  // The input as a line: every token through the scans, seen from the
  // line's start and from the token's own start.
  const std::string line(token);
  for (std::size_t i = 0; i < size; ++i) {
    if (i == 0 || is_separator(line[i - 1])) {
      check_scan_line(t, line, i, 0);
      check_scan_line(t, line, i, i);
    }
  }
  if (size >= 10) {
    double x;
    std::memcpy(&x, data, 8);
    check_fixed_one(t, x, data[8] % 40, data[9] % 40, true);
    check_fixed_inline(t, x);
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    check_write_int_one(t, bits, data[8] % 30);
    check_write_int_inline(t, static_cast<std::int64_t>(bits));
    check_write_int_inline(t, static_cast<std::int64_t>(bits) >> (data[9] % 64));
  }
  if (t.mismatches != 0) std::abort();
  return 0;
}

#else

namespace {

// Best of five runs: the machine may be shared, and the minimum is the
// least disturbed measurement.
template <class F>
double ns_per_call(std::size_t calls, F&& body) {
  double best = 1e300;
  for (int run = 0; run < 5; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    body();
    auto t1 = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
    if (ns < best) best = ns;
  }
  return best / static_cast<double>(calls);
}

void run_timings() {
  Rng r{42};
  constexpr std::size_t kN = 1 << 16;
  constexpr int kRounds = 10;
  std::vector<double> coords(kN), wide(kN);
  for (std::size_t i = 0; i < kN; ++i) {
    coords[i] = (r.unit() * 2 - 1) * 50.0;
    wide[i] = (r.unit() * 2 - 1) * std::pow(10.0, static_cast<int>(r.below(8)));
  }
  // Tokens as the writers produce them: "%.15f" of coordinates, 17-18 digits.
  std::vector<std::string> tokens, short_tokens, int_tokens;
  for (std::size_t i = 0; i < kN; ++i) {
    char b[64];
    std::snprintf(b, sizeof b, "%.15f", coords[i]);
    tokens.emplace_back(b);
    std::snprintf(b, sizeof b, "%.8f", coords[i]);
    short_tokens.emplace_back(b);
    std::snprintf(b, sizeof b, "%lld", static_cast<long long>(r.below(2000000)) - 1000000);
    int_tokens.emplace_back(b);
  }
  const std::size_t calls = kN * kRounds;
  volatile double sink = 0;
  volatile std::int64_t isink = 0;
  std::vector<char> out(kN * 40);

  auto parse_time = [&](const std::vector<std::string>& toks) {
    return ns_per_call(calls, [&] {
      double acc = 0;
      for (int k = 0; k < kRounds; ++k)
        for (const auto& s : toks) {
          double v;
          ak::text::parse_float(s, v);
          acc += v;
        }
      sink = acc;
    });
  };
  // A C++ library without from_chars for doubles (libc++ 14 has only the
  // integer forms) has nothing to time here: its column reads nan.
  auto from_chars_time = [&](const std::vector<std::string>& toks) {
#if defined(__cpp_lib_to_chars)
    return ns_per_call(calls, [&] {
      double acc = 0;
      for (int k = 0; k < kRounds; ++k)
        for (const auto& s : toks) {
          double v;
          std::from_chars(s.data(), s.data() + s.size(), v);
          acc += v;
        }
      sink = acc;
    });
#else
    (void)toks;
    return std::nan("");
#endif
  };
  auto strtod_time = [&](const std::vector<std::string>& toks) {
    return ns_per_call(kN * 4, [&] {
      double acc = 0;
      for (int k = 0; k < 4; ++k)
        for (const auto& s : toks) acc += std::strtod(s.c_str(), nullptr);
      sink = acc;
    });
  };
  auto fixed_time = [&](const std::vector<double>& xs, unsigned w, unsigned p) {
    return ns_per_call(calls, [&] {
      for (int k = 0; k < kRounds; ++k) {
        char* o = out.data();
        for (double x : xs) {
          o = ak::text::write_fixed(o, x, w, p);
          if (o > out.data() + out.size() - 400) o = out.data();
        }
        sink = static_cast<double>(o - out.data());
      }
    });
  };
  auto to_chars_time = [&](const std::vector<double>& xs, unsigned p) {
    return ns_per_call(calls, [&] {
      for (int k = 0; k < kRounds; ++k) {
        char* o = out.data();
        for (double x : xs) {
          o = std::to_chars(o, o + 400, x, std::chars_format::fixed, static_cast<int>(p)).ptr;
          if (o > out.data() + out.size() - 400) o = out.data();
        }
        sink = static_cast<double>(o - out.data());
      }
    });
  };

  std::printf("timing (ns per call, best of 5 runs of %zu calls):\n", calls);
  std::printf("  parse_float  %%.15f tokens (\"-12.345678901234567\"): %6.1f   from_chars %6.1f   strtod %6.1f\n",
              parse_time(tokens), from_chars_time(tokens), strtod_time(tokens));
  std::printf("  parse_float  %%.8f tokens (\"-12.34567890\"):         %6.1f   from_chars %6.1f\n",
              parse_time(short_tokens), from_chars_time(short_tokens));
  std::printf("  parse_int64  (\"-123456\"):                          %6.1f\n",
              ns_per_call(calls, [&] {
                std::int64_t acc = 0;
                for (int k = 0; k < kRounds; ++k)
                  for (const auto& s : int_tokens) {
                    std::int64_t v;
                    ak::text::parse_int64(s, v);
                    acc += v;
                  }
                isink = acc;
              }));
  // The usual columns, random signs: each token alone (parse_float, like
  // from_chars), and inside its line of three fields, scanned from its first
  // byte with the whole line loadable (scan_float; the token starts are
  // found beforehand, so only the scan is timed).
  struct Kind {
    const char* name;
    const char* format;
    double magnitude;
  };
  const Kind kinds[] = {{"%22.15f in (-50, 50)", "%22.15f", 50.0},
                        {"%19.16f in (-1, 1)", "%19.16f", 1.0},
                        {"%11.8f in (-1, 1)", "%11.8f", 1.0},
                        {"%16.8f in (-1e3, 1e3)", "%16.8f", 1e3}};
  // All lines in one text; each token's start, and its line's bounds.
  struct Start {
    std::uint32_t line, token, end;
  };
  auto scan_time = [&](const std::string& text, const std::vector<Start>& starts, auto scan) {
    return ns_per_call(starts.size() * kRounds, [&] {
      double acc = 0;
      const char* const t = text.data();
      for (int k = 0; k < kRounds; ++k)
        for (const Start& s : starts) acc += scan(t + s.token, t + s.end, t + s.line);
      sink = acc;
    });
  };
  auto lines_of = [](const std::vector<std::string>& fields, std::string& text, std::vector<Start>& starts) {
    std::size_t first = starts.size();
    auto line_begin = static_cast<std::uint32_t>(text.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::size_t at = text.size() + 1;
      text += " " + fields[i];
      while (text[at] == ' ') ++at;
      starts.push_back({line_begin, static_cast<std::uint32_t>(at), 0});
      if (i % 3 == 2 || i + 1 == fields.size()) {
        text += "\n";
        for (; first != starts.size(); ++first) starts[first].end = static_cast<std::uint32_t>(text.size());
        line_begin = static_cast<std::uint32_t>(text.size());
      }
    }
  };
  std::printf("  per column kind (ns per number)          parse_float  scan_float in line  from_chars\n");
  for (const Kind& kind : kinds) {
    std::vector<std::string> fields, alone;
    std::string lines;
    std::vector<Start> starts;
    for (std::size_t i = 0; i < kN; ++i) {
      char b[64];
      std::snprintf(b, sizeof b, kind.format, (r.unit() * 2 - 1) * kind.magnitude);
      fields.emplace_back(b);
      alone.emplace_back(b + std::strspn(b, " "));
    }
    lines_of(fields, lines, starts);
    const double scan = scan_time(lines, starts, [](const char* q, const char* e, const char* line) {
      double v;
      ak::text::scan_float(q, e, line, v);
      return v;
    });
    std::printf("  %-40s %6.1f  %14.1f  %14.1f\n", kind.name, parse_time(alone), scan, from_chars_time(alone));
  }
  {
    std::string lines;
    std::vector<Start> starts;
    lines_of(int_tokens, lines, starts);
    std::printf("  scan_int64 (\"-123456\" in a line of three):       %6.1f\n",
                scan_time(lines, starts, [](const char* q, const char* e, const char* line) {
                  std::int64_t v;
                  ak::text::scan_int64(q, e, line, v);
                  return static_cast<double>(v);
                }));
  }
  std::printf("  write_fixed  (22,15) coordinates:                   %6.1f   to_chars %6.1f\n",
              fixed_time(coords, 22, 15), to_chars_time(coords, 15));
  std::printf("  write_fixed  (19,16) coordinates:                   %6.1f   to_chars %6.1f\n",
              fixed_time(coords, 19, 16), to_chars_time(coords, 16));
  std::printf("  write_fixed  (16,8)  up to 1e7:                     %6.1f   to_chars %6.1f\n",
              fixed_time(wide, 16, 8), to_chars_time(wide, 8));
  // The inline forms on each path (called from baseline code here: the
  // writers inline them into loops compiled for the path, which is faster).
  for_each_path([&]<SimdPath Path>() {
    auto inline_time = [&]<unsigned W, unsigned P>(const std::vector<double>& xs) {
      return ns_per_call(calls, [&] {
        for (int k = 0; k < kRounds; ++k) {
          char* o = out.data();
          for (double x : xs) {
            o = ak::text::write_fixed<W, P, Path>(o, x);
            if (o > out.data() + out.size() - 400) o = out.data();
          }
          sink = static_cast<double>(o - out.data());
        }
      });
    };
    std::printf("  write_fixed<22,15> inline, coordinates, %-8s    %6.1f\n", ak::simd_path_name(Path),
                inline_time.template operator()<22, 15>(coords));
    std::printf("  write_fixed<19,16> inline, coordinates, %-8s    %6.1f\n", ak::simd_path_name(Path),
                inline_time.template operator()<19, 16>(coords));
    std::printf("  write_fixed<16,8>  inline, up to 1e7, %-8s      %6.1f\n", ak::simd_path_name(Path),
                inline_time.template operator()<16, 8>(wide));
  });
  std::printf("  write_int    (8) small integers:                    %6.1f\n",
              ns_per_call(calls, [&] {
                for (int k = 0; k < kRounds; ++k) {
                  char* o = out.data();
                  for (std::size_t i = 0; i < kN; ++i)
                    o = ak::text::write_int(o, static_cast<std::int64_t>(i) - 30000, 8);
                  sink = static_cast<double>(o - out.data());
                }
              }));
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  auto count = [scale](double n) { return static_cast<std::uint64_t>(n * scale); };
  Rng r{argc > 2 ? std::strtoull(argv[2], nullptr, 0) : 0x5eed};
  std::vector<Tally> tallies;

  {  // fixed float format
    Tally t{"write_fixed table"};
    std::vector<char> got(400);
    for (const FixedCase& c : kFixedTable) {
      ++t.cases;
      char* e = ak::text::write_fixed(got.data(), c.value, c.width, c.precision);
      if (std::string_view(got.data(), static_cast<std::size_t>(e - got.data())) != c.text)
        report(t, std::string("table ") + c.text + " got " + shown(got.data(), static_cast<std::size_t>(e - got.data())));
    }
    tallies.push_back(t);

    Tally used{"write_fixed (22,15) (19,16) (11,8) (16,8)"};
    const unsigned used_formats[4][2] = {{22, 15}, {19, 16}, {11, 8}, {16, 8}};
    for (std::uint64_t i = 0, n = count(24e6); i < n; ++i) {
      const auto& f = used_formats[i & 3];
      check_fixed_one(used, random_double(r), f[0], f[1], (i & 63) == 0);
    }
    tallies.push_back(used);

    Tally any{"write_fixed p=0..25"};
    for (std::uint64_t i = 0, n = count(8e6); i < n; ++i) {
      const auto p = static_cast<unsigned>(r.below(26));
      check_fixed_one(any, random_double(r), static_cast<unsigned>(r.below(30)), p, (i & 31) == 0);
    }
    // Every power of two, with both signs, at a few precisions (all exact ties
    // below the last digit for negative exponents).
    for (int e = -1074; e <= 1023; ++e)
      for (unsigned p : {0u, 1u, 8u, 15u, 16u, 17u, 19u, 20u})
        for (double s : {1.0, -1.0}) check_fixed_one(any, s * std::ldexp(1.0, e), 0, p, true);
    // Large precisions go the exact slow path.
    for (unsigned p : {40u, 400u, 1074u, 1100u, 1200u})
      for (int i = 0; i < 200; ++i) check_fixed_one(any, random_double(r), 0, p, true);
    tallies.push_back(any);

    Tally slow{"write_fixed big-integer path"};
    check_fixed_slow_cases(slow, r, count(4e5));
    tallies.push_back(slow);

    // The digit groups of the inline form, for every eight-digit value, on
    // every path. Every value at scale 1 and above, a random sample below
    // (the bounded run).
    Tally groups{scale >= 1 ? "eight-digit groups, all 10^8, every path" : "eight-digit groups, sampled, every path"};
    const bool every_group = scale >= 1;
    for_each_path([&]<SimdPath Path>() {
      for (std::uint64_t i = 0, n = every_group ? 100000000 : count(1e8); i < n; ++i) {
        const auto v = static_cast<std::uint32_t>(every_group ? i : r.below(100000000));
        char got[8];
        ak::text::digits::put_eight_on<Path>(got, v);
        std::uint32_t back = 0;
        bool ok = true;
        for (char c : got) {
          ok &= c >= '0' && c <= '9';
          back = back * 10 + static_cast<std::uint32_t>(c - '0');
        }
        ++groups.cases;
        ok &= back == v;
        if (!ok) report(groups, std::string("put_eight ") + ak::simd_path_name(Path) + " " + std::to_string(v) + " got " + shown(got, 8));
      }
      for (std::uint64_t i = 0, n = count(1e6); i < n; ++i) {
        const std::uint64_t v = r.below(10000000000000000ull);
        char got[16];
        ak::text::digits::put_sixteen_on<Path>(got, v);
        char want[17];
        std::snprintf(want, sizeof want, "%016llu", static_cast<unsigned long long>(v));
        ++groups.cases;
        if (std::memcmp(got, want, 16) != 0)
          report(groups, std::string("put_sixteen ") + ak::simd_path_name(Path) + " " + std::string(want) + " got " + shown(got, 16));
      }
    });
    tallies.push_back(groups);

    Tally inl{"write_fixed<W,P> inline"};
    for (std::uint64_t i = 0, n = count(3e6); i < n; ++i) check_fixed_inline(inl, random_double(r));
    // Every power of two and its neighbours: the edges of the inline range
    // (2^9, 2^13, 2^36 in magnitude), the shifts around 127 and the fit of
    // the AVX-512 form.
    for (int e = -1074; e <= 1023; ++e) {
      const double x = std::ldexp(1.0, e);
      check_fixed_inline(inl, x);
      check_fixed_inline(inl, std::nextafter(x, 0.0));
      check_fixed_inline(inl, std::nextafter(x, HUGE_VAL));
    }
    for (double x : {0.0, double{HUGE_VAL}, double{NAN}, 0.5, 9.5, 99.5, 99.999999995, 999.9999999999999, 1e7 - 0.000000005})
      check_fixed_inline(inl, x);
    // Values that round up to the next power of ten, at the field widths:
    // the integer length, and with it the fit, change in the rounding.
    for (int e = 0; e <= 18; ++e)
      for (int p : {8, 15, 16}) {
        const double x = std::pow(10.0, e) - 0.5 * std::pow(10.0, -p);
        check_fixed_inline(inl, x);
        check_fixed_inline(inl, std::nextafter(x, 0.0));
        check_fixed_inline(inl, std::nextafter(x, HUGE_VAL));
      }
    tallies.push_back(inl);
  }

  {  // decimal float parse
    Tally table{"parse_float table"};
    struct ParseCase {
      const char* token;
      const char* error;
      double value;
    };
    const ParseCase cases[] = {
        {"1.", nullptr, 1.0},          {".5", nullptr, 0.5},
        {"1E+05", nullptr, 1e5},       {"007", nullptr, 7.0},
        {"-0", nullptr, -0.0},         {"NAN", nullptr, NAN},
        {"-nan", nullptr, -NAN},       {"Inf", nullptr, INFINITY},
        {"-Infinity", nullptr, -INFINITY}, {"1e400", nullptr, INFINITY},
        {"-1e400", nullptr, -INFINITY}, {"1e-400", nullptr, 0.0},
        {"-1e-400", nullptr, -0.0},    {"0e999999999999999999999", nullptr, 0.0},
        {"4.9406564584124654e-324", nullptr, 0x1p-1074},
        {"2.4703282292062327e-324", nullptr, 0.0},  // just below half the smallest subnormal
        {"2.4703282292062328e-324", nullptr, 0x1p-1074},
        {"1e-310", nullptr, 1e-310},
        {"1.7976931348623157e308", nullptr, 1.7976931348623157e308},
        {"1.7976931348623158e308", nullptr, 1.7976931348623157e308},
        {"1.797693134862315807937289714054e308", nullptr, INFINITY},  // past the tie
        {"1.797693134862315807937289714053e308", nullptr, 1.7976931348623157e308},
        {"", ak::text::kFloatEmpty, 0},  {".", ak::text::kFloatInvalid, 0},
        {"e5", ak::text::kFloatInvalid, 0}, {"1e", ak::text::kFloatInvalid, 0},
        {"+", ak::text::kFloatInvalid, 0},  {"-", ak::text::kFloatInvalid, 0},
        {"1.0d0", ak::text::kFloatInvalid, 0}, {"0x1p3", ak::text::kFloatInvalid, 0},
        {"1_000", ak::text::kFloatInvalid, 0}, {"nan(1)", ak::text::kFloatInvalid, 0},
        {"infin", ak::text::kFloatInvalid, 0}, {"+-1", ak::text::kFloatInvalid, 0},
        {" 1", ak::text::kFloatInvalid, 0},   {"1 ", ak::text::kFloatInvalid, 0},
        {"1e+", ak::text::kFloatInvalid, 0},  {".e1", ak::text::kFloatInvalid, 0},
        {"1..2", ak::text::kFloatInvalid, 0}, {"1e5.0", ak::text::kFloatInvalid, 0},
    };
    for (const ParseCase& c : cases) {
      ++table.cases;
      double v = 777.0;
      const char* err = ak::text::parse_float(c.token, v);
      const bool same_error = (err == nullptr) == (c.error == nullptr) &&
                              (err == nullptr || std::strcmp(err, c.error) == 0);
      if (!same_error || (err == nullptr && !same_double(v, c.value)))
        report(table, std::string("token [") + c.token + "] got " + (err ? err : hex(v)));
    }
    // m * 10^q with T(q) exact (28 <= q <= 55) that the one product leaves
    // undecided, as close above and below a midpoint as any m reaches (no
    // product lands on one): from tools/exact_ties.py --near, with the
    // distance to the midpoint in units of 2^64 of the 192-bit product.
    const char* const near_ties[] = {
        "5446136629611347657e28",  // +172
        "2002187222588123953e40",  // +341
        "6477987557504884013e35",  // +490
        "2916340984601552191e30",  // +505
        "9464705006104218967e36",  // -99
        "7202841595437629673e29",  // -149
        "9807466973908990125e46",  // -452
        "5902140407902955151e38",  // -783
    };
    for (const char* token : near_ties) check_parse_valid(table, token, std::strlen(token));
    tallies.push_back(table);

    Tally valid{"parse_float random valid tokens vs strtod"};
    std::vector<char> buf(2000);
    for (std::uint64_t i = 0, n = count(6e6); i < n; ++i)
      check_parse_valid(valid, buf.data(), random_token(r, buf.data()));
    for (std::uint64_t i = 0, n = count(3e6); i < n; ++i)
      check_parse_valid(valid, buf.data(), printed_token(r, buf.data(), buf.size()));
    tallies.push_back(valid);

    Tally junk{"parse_float grammar vs reference"};
    for (std::uint64_t i = 0, n = count(3e6); i < n; ++i)
      check_parse_one(junk, std::string_view(buf.data(), junk_token(r, buf.data())));
    for (std::uint64_t i = 0, n = count(1e6); i < n; ++i)  // valid tokens through the grammar too
      check_parse_one(junk, std::string_view(buf.data(), random_token(r, buf.data())));
    tallies.push_back(junk);

    Tally half{"parse_float 16-19 digits near halfway vs strtod"};
    for (std::uint64_t i = 0, n = count(6e6); i < n; ++i) {
      const std::string tok = halfway_token(r, 16 + r.below(4));
      check_parse_valid(half, tok.data(), tok.size());
    }
    tallies.push_back(half);

    Tally longer{"parse_float 20-800 digits near halfway"};
    for (std::uint64_t i = 0, n = count(6e5); i < n; ++i) {
      const std::size_t sig = r.below(4) == 0 ? 20 + r.below(781) : 20 + r.below(30);
      const std::string tok = halfway_token(r, sig);
      check_parse_valid(longer, tok.data(), tok.size());
    }
    tallies.push_back(longer);

    Tally edges{"parse_float exponent edges vs strtod"};
    for (std::uint64_t i = 0, n = count(2e6); i < n; ++i) {
      const std::string tok = edge_token(r);
      check_parse_valid(edges, tok.data(), tok.size());
    }
    tallies.push_back(edges);

    Tally lines{"scan_float / scan_int64 in lines"};
    for (std::uint64_t i = 0, n = count(6e6); i < n; ++i) check_scan_random(lines, r);
    tallies.push_back(lines);

    Tally fractions{"parse_float / scan_float 0.ddd tokens vs strtod"};
    for (std::uint64_t i = 0, n = count(4e6); i < n; ++i) check_fraction(fractions, r);
    tallies.push_back(fractions);

    // The generators above, their tokens scanned inside lines (scan_float and,
    // on x86-64, scan_float_vector against parse_float).
    Tally in_lines{"scan_float(_vector) in lines, every generator"};
    for (std::uint64_t i = 0, n = count(2e6); i < n; ++i) {
      check_scan_valid(in_lines, r, std::string_view(buf.data(), random_token(r, buf.data())));
      check_scan_valid(in_lines, r, std::string_view(buf.data(), printed_token(r, buf.data(), buf.size())));
      check_scan_valid(in_lines, r, halfway_token(r, 1 + r.below(19)));
      check_scan_valid(in_lines, r, halfway_token(r, 15 + r.below(5), true));
      check_scan_valid(in_lines, r, edge_token(r));
      check_scan_valid(in_lines, r, std::string_view(buf.data(), junk_token(r, buf.data())));
    }
    tallies.push_back(in_lines);
  }

  {  // integer parse and integer fields
    Tally t{"parse_int64 vs reference"};
    const char* fixed[] = {"+5", "-0", "5.0", "1e3", "0x10", "-", "+", "", "9223372036854775808",
                           "-9223372036854775808", "-9223372036854775809", "9223372036854775807",
                           "99999999999999999999x", "9x9999999999999999999999", "++1", " 1"};
    for (const char* s : fixed) check_int_one(t, s);
    char buf[64];
    for (std::uint64_t i = 0, n = count(4e6); i < n; ++i) check_int_one(t, std::string_view(buf, int_token(r, buf)));
    tallies.push_back(t);

    Tally w{"write_int / write_uint vs snprintf"};
    for (std::uint64_t i = 0, n = count(3e6); i < n; ++i) {
      std::uint64_t bits = r.next() >> r.below(64);
      if (r.coin()) bits = std::uint64_t{0} - bits;
      check_write_int_one(w, bits, static_cast<unsigned>(r.below(24)));
    }
    for (std::uint64_t b : {0ull, 1ull, 9ull, 10ull, 99ull, 100ull, 0x8000000000000000ull,
                            0x7fffffffffffffffull, 0xffffffffffffffffull})
      for (unsigned wd : {0u, 6u, 8u, 25u}) check_write_int_one(w, b, wd);
    tallies.push_back(w);

    Tally wi{"write_int<8>, <12> inline, every path"};
    for (std::uint64_t i = 0, n = count(3e6); i < n; ++i) {
      std::uint64_t bits = r.next() >> r.below(64);
      if (r.coin()) bits = std::uint64_t{0} - bits;
      check_write_int_inline(wi, static_cast<std::int64_t>(bits));
    }
    // Every value of up to eight characters' edge: each power of ten and its
    // neighbours, both signs.
    for (std::int64_t p = 1; p <= 1000000000000000000; p *= 10)
      for (std::int64_t v : {p - 1, p, p + 1})
        for (std::int64_t s : {1, -1}) check_write_int_inline(wi, s * v);
    for (std::int64_t v : {std::int64_t{0}, INT64_MAX, INT64_MIN, INT64_MIN + 1}) check_write_int_inline(wi, v);
    tallies.push_back(wi);
  }

  std::uint64_t total = 0, bad = 0;
  for (const Tally& t : tallies) {
    std::printf("%-46s %11llu cases  %llu mismatches\n", t.name,
                static_cast<unsigned long long>(t.cases), static_cast<unsigned long long>(t.mismatches));
    total += t.cases;
    bad += t.mismatches;
  }
  std::printf("total %llu cases, %llu mismatches\n", static_cast<unsigned long long>(total),
              static_cast<unsigned long long>(bad));
  if (scale >= 0.5) run_timings();
  return bad == 0 ? 0 : 1;
}

#endif  // AK_LIBFUZZER
