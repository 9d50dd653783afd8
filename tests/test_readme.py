"""The README's examples run as doctests, one test per code block, with the
names the README assumes (`np` and the three modules) already imported."""

import doctest
import pathlib
import re

import numpy as np
import pytest

import _atomlines
import _cellgeom
import _coordtext

README = pathlib.Path(__file__).resolve().parents[1] / "README.md"
TEXT = README.read_text(encoding="utf-8")
BLOCKS = [(m.group(1), TEXT.count("\n", 0, m.start()) + 1)
          for m in re.finditer(r"(?ms)^```python\n(.*?)^```$", TEXT)]


def examples(block):
    # A block's last expected output ends at the closing fence, as a reader
    # sees it; the fence itself is not part of the block.
    return doctest.DocTestParser().get_examples(block)


def test_every_example_is_in_a_block():
    # No example is left out of the tests below by a differently fenced block.
    assert sum(len(examples(block)) for block, _ in BLOCKS) == len(re.findall(r"(?m)^>>> ", TEXT)) >= 17


@pytest.mark.parametrize("block, line", BLOCKS, ids=[f"line{line}" for _, line in BLOCKS])
def test_readme_block(block, line):
    globs = {"np": np, "_coordtext": _coordtext, "_atomlines": _atomlines, "_cellgeom": _cellgeom}
    test = doctest.DocTest(examples(block), globs, f"README.md:{line}", str(README), line, None)
    report = []
    result = doctest.DocTestRunner(optionflags=doctest.REPORT_NDIFF).run(test, out=report.append)
    assert result.attempted and result.failed == 0, "".join(report)
