"""The offline parts of tools/debian_sid.py: version order, relation and
index parsing, dependency resolution."""

from __future__ import annotations

import pytest

from test_packaging import tool


@pytest.fixture(scope="module")
def sid():
    return tool("debian_sid")


@pytest.mark.parametrize("a, b, order", [
    ("1.0", "1.0", 0),
    ("1.0", "1.0-0", 0),              # a missing revision is 0
    ("1.0~rc1", "1.0", -1),           # ~ sorts before the end
    ("1.0~~", "1.0~", -1),
    ("1.0", "1.0a", -1),
    ("1.0a", "1.0+", -1),             # letters before other characters
    ("1.9", "1.10", -1),              # numbers compare as numbers
    ("2.43-7", "2.43-10", -1),
    ("1:1.0", "9.9", 1),              # the epoch first
    ("1:1.3.dfsg+really1.3.2-4", "1:1.3.dfsg-4", 1),
    ("3.14.10-1", "3.14.10-1+b1", -1),
    ("1.0-1", "1.0-1.1", -1),
])
def test_version_order(sid, a, b, order):
    assert sid.compare_versions(a, b) == order
    assert sid.compare_versions(b, a) == -order


def test_relations(sid):
    R = sid.Relation
    assert sid.parse_relations("libc6 (>= 2.38), media-types | mime-support, python3:any (<< 3.15) [amd64] <!nocheck>") == [
        [R("libc6", ">=", "2.38")], [R("media-types"), R("mime-support")], [R("python3", "<<", "3.15")]]
    assert sid.parse_relations("") == []
    with pytest.raises(sid.Failure):
        sid.parse_relations("libc6 (>= 2.38")


INDEX = """\
Package: app
Version: 1.0-1
Architecture: amd64
Pre-Depends: base
Depends: libfoo (>= 2.0), missing-thing | alt-real, virt, pinned (= 1:3.0)
Description: an application
 with a continuation line
Filename: pool/main/a/app/app_1.0-1_amd64.deb
Size: 10
SHA256: AA

Package: base
Version: 1
Architecture: amd64
Filename: pool/main/b/base/base_1_amd64.deb
Size: 1
SHA256: 01

Package: libfoo
Version: 1.5-1
Architecture: amd64
Filename: pool/main/l/libfoo/libfoo_1.5-1_amd64.deb
Size: 1
SHA256: 02

Package: libfoo
Version: 2.1-1
Architecture: amd64
Depends: libfoo-common
Filename: pool/main/l/libfoo/libfoo_2.1-1_amd64.deb
Size: 1
SHA256: 03

Package: libfoo-common
Version: 2.1-1
Architecture: all
Filename: pool/main/l/libfoo/libfoo-common_2.1-1_all.deb
Size: 1
SHA256: 04

Package: alt-real
Version: 1
Architecture: amd64
Filename: pool/main/a/alt-real/alt-real_1_amd64.deb
Size: 1
SHA256: 05

Package: virt-opt
Version: 1
Architecture: amd64
Priority: optional
Provides: virt
Filename: pool/main/v/virt-opt/virt-opt_1_amd64.deb
Size: 1
SHA256: 06

Package: virt-req
Version: 1
Architecture: amd64
Priority: required
Provides: virt
Filename: pool/main/v/virt-req/virt-req_1_amd64.deb
Size: 1
SHA256: 07

Package: pinned
Version: 1:3.0
Architecture: amd64
Depends: libfoo
Filename: pool/main/p/pinned/pinned_3.0_amd64.deb
Size: 1
SHA256: 08

Package: other-arch
Version: 1
Architecture: arm64
Filename: pool/main/o/other-arch/other-arch_1_arm64.deb
Size: 1
SHA256: 09
"""


def names(packages):
    return [p.name for p in packages]


def test_index(sid):
    index = sid.parse_index(INDEX, "amd64")
    assert index["libfoo"].version == "2.1-1"          # the highest of two
    assert "other-arch" not in index
    assert index["libfoo-common"].architecture == "all"
    assert index["app"].sha256 == "aa" and index["app"].size == 10
    assert index["app"].depends[0] == [sid.Relation("base")]   # Pre-Depends first


@pytest.mark.parametrize("roots, exclude, expected", [
    (["app"], [], ["app", "base", "libfoo", "alt-real", "virt-req", "pinned", "libfoo-common"]),
    (["app"], ["alt-real", "libfoo-common"], ["app", "base", "libfoo", "virt-req", "pinned"]),
    (["virt-opt", "app"], [], ["virt-opt", "app", "base", "libfoo", "alt-real", "pinned", "libfoo-common"]),
    (["app"], ["virt-req"], ["app", "base", "libfoo", "alt-real", "virt-opt", "pinned", "libfoo-common"]),
    (["virt"], [], ["virt-req"]),
])
def test_resolve(sid, roots, exclude, expected):
    assert names(sid.resolve(sid.parse_index(INDEX, "amd64"), roots, exclude)) == expected


@pytest.mark.parametrize("change, message", [
    ("libfoo (>= 2.0)", "needs libfoo (>= 3.0)"),       # too old a version
    ("pinned (= 1:3.0)", "needs pinned (= 3.0)"),      # the epoch counts
    ("virt", "needs nothing-provides"),
])
def test_unsatisfiable(sid, change, message):
    broken = INDEX.replace(change, message.removeprefix("needs "), 1)
    with pytest.raises(sid.Failure, match=message.replace("(", r"\(").replace(")", r"\)")):
        sid.resolve(sid.parse_index(broken, "amd64"), ["app"])


def test_resolve_refuses(sid):
    index = sid.parse_index(INDEX, "amd64")
    with pytest.raises(sid.Failure, match="no package nowhere"):
        sid.resolve(index, ["nowhere"])
    with pytest.raises(sid.Failure, match="excluded"):
        sid.resolve(index, ["app"], ["app"])


def test_release_hashes(sid):
    release = ("Origin: Debian\nCodename: sid\nSHA256:\n"
               " abc 123 main/binary-amd64/Packages.xz\n DEF 7 main/binary-arm64/Packages.xz\n")
    assert sid.release_sha256(release) == {"main/binary-amd64/Packages.xz": ("abc", 123),
                                            "main/binary-arm64/Packages.xz": ("def", 7)}


GOOD = "[GNUPG:] GOODSIG 6ED0E7B82643E131 Debian Archive Automatic Signing Key (12/bookworm)"
MISSING = "[GNUPG:] ERRSIG 1234567890ABCDEF 1 10 01 1761811770 9 -"
BROKEN = "[GNUPG:] ERRSIG 1234567890ABCDEF 1 10 01 1761811770 4 -"   # an unknown algorithm
BAD = "[GNUPG:] BADSIG 78DBA3BC47EF2265 Debian Archive Automatic Signing Key (13/trixie)"
EXPIRED = "[GNUPG:] EXPKEYSIG 78DBA3BC47EF2265 Debian Archive Automatic Signing Key (11/bullseye)"


@pytest.mark.parametrize("status, holds", [
    ([GOOD], True),
    ([MISSING, "[GNUPG:] NO_PUBKEY 1234567890ABCDEF", GOOD], True),   # a newer key this keyring lacks
    ([EXPIRED, GOOD], True),
    ([], False),
    ([MISSING, "[GNUPG:] NO_PUBKEY 1234567890ABCDEF"], False),
    ([EXPIRED], False),
    ([GOOD, BAD], False),                                            # one signature does not verify
    ([GOOD, BROKEN], False),
])
def test_signature_verdict(sid, status, holds):
    assert sid.signature_holds(status) is holds
