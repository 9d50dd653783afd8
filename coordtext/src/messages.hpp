// Every failure text of the coordinate-text module, built only on failure.
// Line numbers are 0-based positions in the caller's list; tokens are shown
// exactly as they stand in the line.
#pragma once

#include <cstddef>
#include <string_view>

#include "failure.hpp"

namespace ak::coordtext::messages {

// The two VASP coordinate readers, which fail alike in their own words.
enum class Vasp { poscar, xdatcar };

Failure xyz_empty_line(std::size_t line);
Failure xyz_missing_position(std::size_t line);
Failure xyz_cannot_parse(std::string_view token, std::size_t line, std::string_view reason);
Failure xyz_length_mismatch(std::size_t symbols, std::size_t rows);

Failure missing_coordinate(Vasp format, std::size_t line);
Failure cannot_parse_coordinate(Vasp format, std::string_view token, std::size_t line, std::string_view reason);
Failure poscar_bad_flag(std::string_view token, std::size_t line);
Failure poscar_shape_mismatch();

}  // namespace ak::coordtext::messages
