#include "messages.hpp"

namespace ak::coordtext::messages {

Failure xyz_empty_line(std::size_t line) { return failure("XYZ: empty line at atom index ", line); }

Failure xyz_missing_position(std::size_t line) {
  return failure("XYZ: not enough position fields on atom line ", line);
}

Failure xyz_cannot_parse(std::string_view token, std::size_t line, std::string_view reason) {
  return failure("XYZ: cannot parse coordinate '", token, "' on line ", line, ": ", reason);
}

Failure xyz_length_mismatch(std::size_t symbols, std::size_t rows) {
  return failure("format_xyz_block_rs: symbols length (", symbols, ") != positions rows (", rows, ")");
}

Failure missing_coordinate(Vasp format, std::size_t line) {
  if (format == Vasp::poscar) return failure("POSCAR: not enough fields on atom line ", line, " (need 3 coordinates)");
  return failure("XDATCAR: not enough fields on coordinate line ", line);
}

Failure cannot_parse_coordinate(Vasp format, std::string_view token, std::size_t line, std::string_view reason) {
  if (format == Vasp::poscar) {
    return failure("POSCAR: cannot parse coordinate '", token, "' on atom line ", line, ": ", reason);
  }
  return failure("XDATCAR: cannot parse '", token, "' on line ", line, ": ", reason);
}

Failure poscar_bad_flag(std::string_view token, std::size_t line) {
  return failure("POSCAR: expected selective dynamics flag 'T' or 'F', got '", token, "' on atom line ", line);
}

Failure poscar_shape_mismatch() {
  return failure("format_poscar_positions_rs: coord and flags must have the same shape");
}

}  // namespace ak::coordtext::messages
