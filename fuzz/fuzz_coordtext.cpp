// XYZ, POSCAR and XDATCAR readers against a plain reference reader, then a
// round trip through the matching writer.
//
// Input: byte 0 picks the reader (XYZ, POSCAR, POSCAR with selective
// dynamics, XDATCAR); the rest is cut into lines, each keeping its line feed.
// The reference states each format's rules directly (tokens taken in order,
// fetch-then-parse per field) and must give the same message on failure and
// the same values bit for bit on success. A successful block is then written
// by its writer, and the text must have one line per atom and read back to
// the values as rounded by the format's precision.

#include <optional>

#include "common.hpp"
#include "text/float_parse.hpp"
#include "text/number_format.hpp"
#include "text/row_tokens.hpp"  // ScanPaths
#include "text/unicode.hpp"
#include "whole_blocks.hpp"

namespace {

using fuzzkit::require;
using Lines = std::span<const std::string_view>;

struct Expected {
  std::optional<std::string> error;
  std::vector<std::string> symbols = {};
  std::vector<double> values = {};
  std::vector<std::uint8_t> flags = {};
};

enum class Format { kXyz, kPoscar, kPoscarSelective, kXdatcar };

Expected reference(Lines lines, Format format) {
  Expected e;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto tokens = fuzzkit::tokens_of(lines[i]);
    const std::string n = std::to_string(i);
    std::size_t next = 0;
    if (format == Format::kXyz) {
      if (tokens.empty()) return {"XYZ: empty line at atom index " + n};
      e.symbols.push_back(ak::text::normalize_symbol(tokens[0]));
      next = 1;
    }
    for (int j = 0; j < 3; ++j, ++next) {
      if (next == tokens.size()) {
        switch (format) {
          case Format::kXyz: return {"XYZ: not enough position fields on atom line " + n};
          case Format::kXdatcar: return {"XDATCAR: not enough fields on coordinate line " + n};
          default: return {"POSCAR: not enough fields on atom line " + n + " (need 3 coordinates)"};
        }
      }
      const std::string tok(tokens[next]);
      double v;
      if (ak::text::parse_float(tokens[next], v) != nullptr) {
        switch (format) {
          case Format::kXyz:
            return {"XYZ: cannot parse coordinate '" + tok + "' on line " + n + ": invalid float literal"};
          case Format::kXdatcar:
            return {"XDATCAR: cannot parse '" + tok + "' on line " + n + ": invalid float literal"};
          default:
            return {"POSCAR: cannot parse coordinate '" + tok + "' on atom line " + n + ": invalid float literal"};
        }
      }
      e.values.push_back(v);
    }
    if (format == Format::kPoscarSelective) {
      for (int j = 0; j < 3; ++j, ++next) {
        if (next >= tokens.size()) {
          e.flags.push_back(0);
        } else if (tokens[next] == "F" || tokens[next] == "T") {
          e.flags.push_back(tokens[next] == "F");
        } else {
          return {"POSCAR: expected selective dynamics flag 'T' or 'F', got '" + std::string(tokens[next]) +
                  "' on atom line " + n};
        }
      }
    }
  }
  return e;
}

void check_values(const double* got, const std::vector<double>& want) {
  for (std::size_t k = 0; k < want.size(); ++k) {
    require(fuzzkit::same_bits(got[k], want[k]) || (std::isnan(got[k]) && std::isnan(want[k])),
            "reader value differs");
  }
}

// What a value reads back as after the writer rounded it.
double rounded(double x, unsigned precision) {
  if (!std::isfinite(x)) return x;
  const std::string text = fuzzkit::ref_fixed(x, 0, precision);
  return std::strtod(text.c_str(), nullptr);
}

// The writer's text, cut into lines (the line feeds included), after checking
// that it is N lines each ending in exactly one line feed.
std::vector<std::string_view> written_lines(std::string_view text, std::size_t n) {
  auto lines = fuzzkit::split_lines(text);
  require(lines.size() == n, "writer line count");
  for (auto line : lines) {
    require(!line.empty() && line.back() == '\n', "writer line end");
    require(line.find('\r') == std::string_view::npos, "writer carriage return");
  }
  return lines;
}

void round_trip(Format format, const Expected& e, std::size_t n, std::uint64_t index) {
  std::vector<double> values = e.values;
  const auto view = fuzzkit::c_view(values, n, 3);
  unsigned precision;
  std::vector<double> back;
  switch (format) {
    case Format::kXyz: {
      precision = 15;
      std::vector<std::string_view> symbols(e.symbols.begin(), e.symbols.end());
      auto text = ak::coordtext::format_xyz_block(symbols, view);
      require(text.ok(), "format_xyz_block failed");
      auto lines = written_lines(text.value().view(), n);
      auto again = ak::fuzz::parse_xyz_block(lines);
      require(again.ok(), "written XYZ does not read back", again.ok() ? "" : again.error());
      back.assign(again.value().positions.data(), again.value().positions.data() + 3 * n);
      break;
    }
    case Format::kPoscar:
    case Format::kPoscarSelective: {
      precision = 16;
      const bool selective = format == Format::kPoscarSelective;
      const auto flag_view = fuzzkit::c_view(e.flags, n, 3);
      auto text = ak::coordtext::format_poscar_positions(view, selective ? &flag_view : nullptr);
      require(text.ok(), "format_poscar_positions failed");
      auto lines = written_lines(text.value().view(), n);
      auto again = ak::fuzz::parse_poscar_positions(lines, true);
      require(again.ok(), "written POSCAR does not read back", again.ok() ? "" : again.error());
      const auto& flags = again.value().flags;
      for (std::size_t k = 0; k < 3 * n; ++k) {
        require(flags->data()[k] == (selective ? e.flags[k] : 0), "POSCAR flags do not round-trip");
      }
      back.assign(again.value().positions.data(), again.value().positions.data() + 3 * n);
      break;
    }
    case Format::kXdatcar: {
      precision = 8;
      auto text = ak::coordtext::format_xdatcar_config(view, index);
      const std::string header = "Direct configuration=" + fuzzkit::ref_uint(index, 6) + "\n";
      require(text.view().substr(0, header.size()) == header, "XDATCAR header");
      auto lines = written_lines(text.view().substr(header.size()), n);
      auto again = ak::fuzz::parse_xdatcar_coords(lines);
      require(again.ok(), "written XDATCAR does not read back", again.ok() ? "" : again.error());
      back.assign(again.value().data(), again.value().data() + 3 * n);
      break;
    }
  }
  for (std::size_t k = 0; k < 3 * n; ++k) {
    const double want = rounded(values[k], precision);
    require(fuzzkit::same_bits(back[k], want) || (std::isnan(back[k]) && std::isnan(want)),
            "value does not round-trip through the writer");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto format = static_cast<Format>(data[0] % 4);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto lines = fuzzkit::split_lines(text);
  const Expected want = reference(lines, format);
  const std::size_t n = lines.size();

  std::optional<std::string> error;
  // Every scan path the processor has reads the block the same way.
  fuzzkit::for_each_path<ak::text::ScanPaths>([&](ak::SimdPath path) {
    error.reset();
    switch (format) {
      case Format::kXyz: {
        auto got = ak::fuzz::parse_xyz_block(lines, path);
        if (!got.ok()) {
          error = got.error();
          break;
        }
        require(got.value().symbols == want.symbols, "XYZ symbols");
        require(got.value().positions.rows() == n && got.value().positions.cols() == 3, "XYZ shape");
        if (!want.error) check_values(got.value().positions.data(), want.values);
        break;
      }
      case Format::kPoscar:
      case Format::kPoscarSelective: {
        const bool selective = format == Format::kPoscarSelective;
        auto got = ak::fuzz::parse_poscar_positions(lines, selective);
        if (!got.ok()) {
          error = got.error();
          break;
        }
        require(got.value().flags.has_value() == selective, "POSCAR flags presence");
        if (!want.error) {
          check_values(got.value().positions.data(), want.values);
          for (std::size_t k = 0; selective && k < want.flags.size(); ++k) {
            require(got.value().flags->data()[k] == want.flags[k], "POSCAR flag value");
          }
        }
        break;
      }
      case Format::kXdatcar: {
        auto got = ak::fuzz::parse_xdatcar_coords(lines);
        if (!got.ok()) {
          error = got.error();
          break;
        }
        if (!want.error) check_values(got.value().data(), want.values);
        break;
      }
    }
    require(error.has_value() == want.error.has_value(), "success differs from reference",
            error ? *error : *want.error);
    if (error) require(*error == *want.error, "message differs", *error + "\n" + *want.error);
  });
  if (error) return 0;
  // Symbols from invalid UTF-8 cannot come from the interpreter; keep the
  // round trip to text that could.
  if (format == Format::kXyz && !fuzzkit::decode_utf8(text, nullptr)) return 0;
  std::uint64_t index = 0;
  std::memcpy(&index, data, size < 8 ? size : 8);
  round_trip(format, want, n, index);
  return 0;
}
