#!/usr/bin/env python3
"""Generate frame/pure/src/text/unicode_tables.cpp from the Unicode Character Database.

Reads UnicodeData.txt, SpecialCasing.txt and DerivedCoreProperties.txt and
writes the compact tables behind ak::text (see frame/pure/src/text/unicode_tables.hpp):

  * full lower-case and full upper-case mappings: runs of code points that map
    by one constant offset (stride 1 or 2), plus a short list of one-to-many
    mappings. Only the unconditional mappings of SpecialCasing.txt are used;
    conditional ones (Final_Sigma, language-specific) are left out, and the
    Final_Sigma rule is applied in code.
  * sorted, disjoint code-point ranges for Cased, Case_Ignorable,
    Grapheme_Extend and the "not printable" set: general categories Cc, Cf,
    Cs, Co, Cn (unassigned), Zl, Zp and Zs, except U+0020.

Standard library only. The output is committed, so the build does not need
the database; rerun this after changing it or the table layout:

    python3 tools/gen_unicode_tables.py --ucd-dir /usr/share/unicode
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

MAX_CP = 0x10FFFF
NOT_PRINTABLE_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}
PROPERTIES = ("Cased", "Case_Ignorable", "Grapheme_Extend")
REPO = Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = REPO / "frame" / "pure" / "src" / "text" / "unicode_tables.cpp"


def data_lines(path: Path):
    """Yields the ';'-separated fields of every non-comment line."""
    with path.open(encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def cp_list(text: str) -> list[int]:
    return [int(h, 16) for h in text.split()]


def read_unicode_data(path: Path):
    """Returns (category per code point, simple lower map, simple upper map)."""
    category = ["Cn"] * (MAX_CP + 1)
    lower: dict[int, int] = {}
    upper: dict[int, int] = {}
    range_first: int | None = None
    for fields in data_lines(path):
        cp, name, cat = int(fields[0], 16), fields[1], fields[2]
        if name.endswith(", First>"):
            range_first = cp
            continue
        if name.endswith(", Last>"):
            if range_first is None:
                raise SystemExit(f"{path}: range end {cp:04X} without start")
            for c in range(range_first, cp + 1):
                category[c] = cat
            range_first = None
            continue
        category[cp] = cat
        if fields[12]:
            upper[cp] = int(fields[12], 16)
        if fields[13]:
            lower[cp] = int(fields[13], 16)
    return category, lower, upper


def read_special_casing(path: Path):
    """Returns the unconditional full (lower, upper) mappings of SpecialCasing.txt."""
    lower: dict[int, list[int]] = {}
    upper: dict[int, list[int]] = {}
    for fields in data_lines(path):
        if len(fields) > 4 and fields[4]:
            continue  # conditional: Final_Sigma is coded by hand, locales are not supported
        cp = int(fields[0], 16)
        lower[cp] = cp_list(fields[1])
        upper[cp] = cp_list(fields[3])
    return lower, upper


def read_properties(path: Path, wanted) -> dict[str, set[int]]:
    props: dict[str, set[int]] = {name: set() for name in wanted}
    for fields in data_lines(path):
        if fields[1] not in props:
            continue
        first, _, last = fields[0].partition("..")
        lo = int(first, 16)
        hi = int(last, 16) if last else lo
        props[fields[1]].update(range(lo, hi + 1))
    return props


def read_version(path: Path) -> str:
    with path.open(encoding="utf-8") as f:
        match = re.search(r"-(\d+\.\d+\.\d+)\.txt", f.readline())
    return match.group(1) if match else "unknown"


def to_ranges(cps) -> list[tuple[int, int]]:
    ranges: list[tuple[int, int]] = []
    for cp in sorted(cps):
        if ranges and ranges[-1][1] + 1 == cp:
            ranges[-1] = (ranges[-1][0], cp)
        else:
            ranges.append((cp, cp))
    return ranges


def full_mapping(simple: dict[int, int], special: dict[int, list[int]]) -> dict[int, list[int]]:
    """Full mapping of every code point that does not map to itself."""
    result = {cp: [to] for cp, to in simple.items()}
    result.update(special)
    return {cp: to for cp, to in result.items() if to != [cp]}


def delta_runs(single: dict[int, int]) -> list[tuple[int, int, int, int]]:
    """Packs one-to-one mappings into (first, last, delta, stride) runs.

    A run covers first, first+stride, ..., last, all mapping by the same delta.
    A stride-2 run is only formed when the code points it steps over are not
    mapped at all, so the runs' [first, last] intervals never overlap and can
    be binary-searched.
    """
    runs: list[list[int]] = []
    for cp in sorted(single):
        delta = single[cp] - cp
        if runs:
            run = runs[-1]
            first, last, run_delta, stride = run
            # Code points arrive in order, so a skipped code point is unmapped.
            if delta == run_delta:
                if cp == last + stride:
                    run[1] = cp
                    continue
                if first == last and cp == last + 2:
                    run[1], run[3] = cp, 2
                    continue
        runs.append([cp, cp, delta, 1])
    return [tuple(r) for r in runs]


def check_runs(runs, single) -> None:
    covered: dict[int, int] = {}
    prev_last = -1
    for first, last, delta, stride in runs:
        assert prev_last < first <= last and stride in (1, 2)
        prev_last = last
        for cp in range(first, last + 1, stride):
            covered[cp] = cp + delta
    assert covered == single, "delta runs do not reproduce the mapping"


def split_mapping(full: dict[int, list[int]]):
    single = {cp: to[0] for cp, to in full.items() if len(to) == 1}
    multi = {cp: to for cp, to in full.items() if len(to) > 1}
    assert all(2 <= len(to) <= 3 for to in multi.values())
    runs = delta_runs(single)
    check_runs(runs, single)
    return runs, multi


def hex_cp(cp: int) -> str:
    return f"0x{cp:04X}"


def emit_array(out: list[str], ctype: str, name: str, items: list[str], per_line: int) -> None:
    out.append(f"constexpr {ctype} {name}_data[] = {{")
    for i in range(0, len(items), per_line):
        out.append("    " + " ".join(item + "," for item in items[i:i + per_line]))
    out.append("};")
    out.append(f"constinit const std::span<const {ctype}> {name} = {name}_data;")
    out.append("")


def render(version: str, command: str, tables: dict) -> str:
    out = [
        f"// Generated by `{command}`",
        f"// from the Unicode Character Database {version}. Do not edit by hand;",
        "// change tools/gen_unicode_tables.py and rerun it instead.",
        "#include \"text/unicode_tables.hpp\"",
        "",
        "namespace ak::text::ucd {",
        "",
        f"constinit const std::string_view unicode_version = \"{version}\";",
        "",
    ]
    for name in ("cased", "case_ignorable", "grapheme_extend", "not_printable"):
        ranges = tables[name]
        out.append(f"// {len(ranges)} ranges")
        emit_array(out, "Range", name,
                   [f"{{{hex_cp(a)}, {hex_cp(b)}}}" for a, b in ranges], 4)
    for kind in ("lower", "upper"):
        runs, multi = tables[kind]
        out.append(f"// Full {kind}-case mapping: {len(runs)} one-to-one runs, "
                   f"{len(multi)} one-to-many mappings")
        emit_array(out, "DeltaRun", f"{kind}_runs",
                   [f"{{{hex_cp(a)}, {hex_cp(b)}, {d}, {s}}}" for a, b, d, s in runs], 3)
        items = []
        for cp in sorted(multi):
            to = multi[cp] + [0] * (3 - len(multi[cp]))
            items.append(f"{{{hex_cp(cp)}, {{{', '.join(hex_cp(c) for c in to)}}}}}")
        emit_array(out, "MultiMapping", f"{kind}_multi", items, 2)
    out.append("}  // namespace ak::text::ucd")
    return "\n".join(out) + "\n"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--ucd-dir", type=Path, default=Path("/usr/share/unicode"),
                        help="directory holding the UCD text files (default: %(default)s)")
    parser.add_argument("--output", type=Path, default=DEFAULT_OUTPUT,
                        help="file to write (default: frame/pure/src/text/unicode_tables.cpp)")
    args = parser.parse_args(argv)

    ucd = args.ucd_dir
    category, simple_lower, simple_upper = read_unicode_data(ucd / "UnicodeData.txt")
    special_lower, special_upper = read_special_casing(ucd / "SpecialCasing.txt")
    props = read_properties(ucd / "DerivedCoreProperties.txt", PROPERTIES)
    version = read_version(ucd / "DerivedCoreProperties.txt")

    not_printable = {cp for cp in range(MAX_CP + 1)
                     if category[cp] in NOT_PRINTABLE_CATEGORIES and cp != 0x20}
    tables = {
        "cased": to_ranges(props["Cased"]),
        "case_ignorable": to_ranges(props["Case_Ignorable"]),
        "grapheme_extend": to_ranges(props["Grapheme_Extend"]),
        "not_printable": to_ranges(not_printable),
        "lower": split_mapping(full_mapping(simple_lower, special_lower)),
        "upper": split_mapping(full_mapping(simple_upper, special_upper)),
    }
    command = f"python3 tools/gen_unicode_tables.py --ucd-dir {ucd}"
    text = render(version, command, tables)
    args.output.write_text(text, encoding="utf-8")
    print(f"wrote {args.output} (UCD {version})", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
