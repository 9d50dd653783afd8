// Whole-block forms of the chunked coordinate readers, for the harnesses:
// every line handed over in one chunk, results gathered as plain values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "owned_array.hpp"
#include "vasp.hpp"
#include "xyz.hpp"

namespace ak::fuzz {

struct XyzBlock {
  std::vector<std::string> symbols;  // normalised, one per line
  OwnedArray<double> positions;      // (N, 3)
};

inline Result<XyzBlock> parse_xyz_block(std::span<const std::string_view> lines,
                                        SimdPath path = best_simd_path()) {
  coordtext::XyzReader reader(lines.size());
  std::vector<std::uint32_t> ids(lines.size());
  if (auto failure = reader.read(lines, ids.data(), path)) return std::move(*failure);
  XyzBlock block{{}, reader.take_positions()};
  block.symbols.reserve(lines.size());
  for (const std::uint32_t id : ids) block.symbols.emplace_back(reader.symbols().text(id));
  return block;
}

inline Result<coordtext::PoscarBlock> parse_poscar_positions(std::span<const std::string_view> lines,
                                                             bool selective) {
  coordtext::PoscarReader reader(lines.size(), selective);
  if (auto failure = reader.read(lines)) return std::move(*failure);
  return reader.take_block();
}

inline Result<OwnedArray<double>> parse_xdatcar_coords(std::span<const std::string_view> lines) {
  coordtext::XdatcarReader reader(lines.size());
  if (auto failure = reader.read(lines)) return std::move(*failure);
  return reader.take_positions();
}

}  // namespace ak::fuzz
