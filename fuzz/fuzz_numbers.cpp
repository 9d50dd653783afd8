// Number text rules against independent references.
//
// The whole input is one token for the float and integer parses:
//   parse_float: the accept/refuse decision against a plain statement of the
//     grammar, the value against strtod (C locale, exact) on accepted tokens;
//   parse_int64: against a left-to-right reference over 128-bit arithmetic;
//   scan_float / scan_int64: every token of the input taken as a line, against
//     the whole-token parses and a plain tokenizer; on x86-64 also the vector
//     path's scan_float_vector and LineTokens' token starts.
// The first 8 bytes are also one double, written by write_fixed at the
// writers' (width, precision) pairs and one fuzzed pair, against std::to_chars
// byte for byte; and one 64-bit integer for write_int / write_uint against
// snprintf. Every writer gets exactly the room the header promises, so
// AddressSanitizer sees any write past it.

#include <cerrno>
#include <memory>

#include "common.hpp"
#include "text/float_parse.hpp"
#include "text/int_parse.hpp"
#include "text/line_tokens.hpp"
#include "text/number_format.hpp"
#include "text/tokenizer.hpp"

namespace {

using fuzzkit::require;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool ref_float_grammar(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::string word;
  for (std::size_t j = i; j < s.size(); ++j) {
    char c = s[j];
    word.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  if (word == "inf" || word == "infinity" || word == "nan") return true;
  std::size_t mantissa_digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

const char* ref_int64(std::string_view s, std::int64_t& out) {
  if (s.empty()) return "cannot parse integer from empty string";
  bool negative = false;
  std::size_t i = 0;
  if (s[0] == '+' || s[0] == '-') negative = s[0] == '-', ++i;
  if (i == s.size()) return "invalid digit found in string";
  __int128 value = 0;
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return "invalid digit found in string";
    value = value * 10 + (negative ? -(s[i] - '0') : (s[i] - '0'));
    if (value > INT64_MAX) return "number too large to fit in target type";
    if (value < INT64_MIN) return "number too small to fit in target type";
  }
  out = static_cast<std::int64_t>(value);
  return nullptr;
}

void check_parse_float(std::string_view token) {
  const double sentinel = 12345.0;
  double got = sentinel;
  const char* err = ak::text::parse_float(token, got);
  if (token.empty()) {
    require(err != nullptr && std::strcmp(err, "cannot parse float from empty string") == 0, "float: empty");
    return;
  }
  if (!ref_float_grammar(token)) {
    require(err != nullptr && std::strcmp(err, "invalid float literal") == 0, "float: accepted invalid", token);
    require(fuzzkit::same_bits(got, sentinel), "float: output touched on failure", token);
    return;
  }
  require(err == nullptr, "float: refused valid", token);
  const std::string copy(token);
  const double want = std::strtod(copy.c_str(), nullptr);
  if (std::isnan(want)) {
    require(std::isnan(got) && std::signbit(got) == std::signbit(want), "float: NaN or its sign", token);
  } else {
    require(fuzzkit::same_bits(got, want), "float: value differs from strtod", token);
  }
}

void check_parse_int(std::string_view token) {
  std::int64_t got = 4242, want = 4242;
  const char* err = ak::text::parse_int64(token, got);
  const char* ref = ref_int64(token, want);
  if (ref == nullptr) {
    require(err == nullptr && got == want, "int: value", token);
  } else {
    require(err != nullptr && std::strcmp(err, ref) == 0, "int: failure text", token);
    require(got == 4242, "int: output touched on failure", token);
  }
}

// The input as one line: every token the reference tokenizer finds, scanned
// from its start (with the whole line, and with only the token's own bytes,
// loadable), must end where the reference says and agree with the
// whole-token parses. The line is an exact-size block, so AddressSanitizer
// sees any load past it.
#if AK_X86_PATHS
// The token starts LineTokens hands out for the line, each next() given the
// end of the token before (which only lines shorter than a vector use).
[[gnu::flatten]] AK_TARGET_SSE4 std::vector<const char*> line_token_starts(const char* line,
                                                                           const char* end) {
  std::vector<const char*> starts;
  ak::text::LineTokens tokens(line, end);
  const char* after = line;
  for (;;) {
    const char* const p = tokens.next(after);
    if (p == end) return starts;
    starts.push_back(p);
    after = ak::text::token_end(p + 1, end);
  }
}
#endif

void check_scans(std::string_view text) {
  // An exact-size block: AddressSanitizer sees any load past the line.
  auto block = std::make_unique<char[]>(text.size());
  std::memcpy(block.get(), text.data(), text.size());
  const char* const line = block.get();
  const char* const end = line + text.size();
  const auto tokens = fuzzkit::tokens_of(std::string_view(line, text.size()));
#if AK_X86_PATHS
  const bool vector = ak::simd_path_supported(ak::SimdPath::sse4);
  if (vector) {
    const std::vector<const char*> starts = line_token_starts(line, end);
    require(starts.size() == tokens.size(), "LineTokens: token count", text);
    for (std::size_t k = 0; k < starts.size(); ++k) require(starts[k] == tokens[k].data(), "LineTokens: start", text);
  }
#endif
  for (const std::string_view token : tokens) {
    const char* const p = token.data();
    for (const char* readable : {line, p}) {
      const double sentinel = -3.5;
      double got = sentinel, want = sentinel;
      const ak::text::ScanResult r = ak::text::scan_float(p, end, readable, got);
      const char* err = ak::text::parse_float(token, want);
      require(r.end == p + token.size(), "scan_float: token end", token);
      require(r.ok == (err == nullptr), "scan_float: accepts what parse_float accepts", token);
      require(fuzzkit::same_bits(got, want), "scan_float: value, or output touched on failure", token);
#if AK_X86_PATHS
      if (vector) {
        double vgot = sentinel;
        const ak::text::ScanResult v = ak::text::scan_float_vector(p, end, readable, vgot);
        require(v.end == r.end && v.ok == r.ok && fuzzkit::same_bits(vgot, got), "scan_float_vector differs", token);
      }
#endif

      std::int64_t ivalue = 77, iwant = 77;
      const ak::text::IntScanResult ir = ak::text::scan_int64(p, end, readable, ivalue);
      const char* ierr = ak::text::parse_int64(token, iwant);
      require(ir.end == p + token.size(), "scan_int64: token end", token);
      require(ir.error == ierr && ivalue == iwant, "scan_int64: result differs from parse_int64", token);
    }
  }
}

void check_fixed(double x, unsigned width, unsigned precision) {
  const std::size_t room = ak::text::fixed_max_len(width, precision);
  auto buf = std::make_unique<char[]>(room);
  char* end = ak::text::write_fixed(buf.get(), x, width, precision);
  require(end >= buf.get() && static_cast<std::size_t>(end - buf.get()) <= room, "fixed: end outside room");
  const std::string got(buf.get(), end);
  const std::string want = fuzzkit::ref_fixed(x, width, precision);
  if (got != want) {
    char what[64];
    std::snprintf(what, sizeof what, "fixed: %a at (%u, %u)", x, width, precision);
    fuzzkit::fail(what, got + " != " + want);
  }
}

void check_ints(std::uint64_t bits, unsigned width) {
  {
    auto buf = std::make_unique<char[]>(ak::text::int_max_len(width));
    const auto v = static_cast<std::int64_t>(bits);
    const std::string got(buf.get(), ak::text::write_int(buf.get(), v, width));
    require(got == fuzzkit::ref_int(v, width), "write_int", got);
  }
  {
    auto buf = std::make_unique<char[]>(ak::text::int_max_len(width));
    const std::string got(buf.get(), ak::text::write_uint(buf.get(), bits, width));
    require(got == fuzzkit::ref_uint(bits, width), "write_uint", got);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view token(reinterpret_cast<const char*>(data), size);
  check_parse_float(token);
  check_parse_int(token);
  check_scans(token);

  // The value the token parses to, when it does, goes through the writers too:
  // it steers the fixed format towards values that are short decimals.
  double parsed;
  if (ak::text::parse_float(token, parsed) == nullptr) {
    for (auto [w, p] : {std::pair{22u, 15u}, {19u, 16u}, {11u, 8u}, {16u, 8u}}) check_fixed(parsed, w, p);
  }
  if (size >= 8) {
    fuzzkit::Bytes in{data, size};
    const double x = in.take<double>();
    for (auto [w, p] : {std::pair{22u, 15u}, {19u, 16u}, {11u, 8u}, {16u, 8u}}) check_fixed(x, w, p);
    const unsigned w = in.u8() % 48, p = in.u8() % 40;
    check_fixed(x, w, p);
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    check_ints(bits, 8);
    check_ints(bits, 6);
    check_ints(bits, w);
  }
  return 0;
}
