#!/usr/bin/env python3
"""Fetch binary packages from Debian's unstable suite (sid) into a folder,
without touching the machine's own apt sources.

    debian_sid.py fetch --arch {amd64,arm64} --dest DIR [--exclude PKG]... PKG...
    debian_sid.py resolve --arch {amd64,arm64} [--exclude PKG]... PKG...

`fetch` resolves the Pre-Depends/Depends closure of the named packages in
sid's main index for ARCH, downloads the .debs, checks each against the
SHA256 and size the index gives, and unpacks them all into DIR with
`dpkg-deb -x` (files only: no maintainer scripts run). `resolve` only prints
the closure. Both print one line per package on stdout, "NAME VERSION", in
the order they were chosen; progress goes to stderr.

Resolution: for each dependency, nothing is added when a chosen package (or
what it provides) already satisfies one of its alternatives; otherwise the
first alternative that the index can satisfy is chosen, a real package of
that name in the required version before any package providing the name
(among several providers, the one of highest priority, then by name).
Version constraints are honoured with Debian's version ordering; an
unsatisfiable dependency is an error. An excluded package is never chosen,
and a dependency naming it counts as met.

Trust: the suite's InRelease is checked with gpgv against the Debian archive
keyring (an index past its Valid-Until only gives a warning); the index is fetched by its SHA256 from there,
and every .deb is checked against the index. Index and .debs are cached under
$ATOMKERNELS_DEBIAN_CACHE (default ~/.cache/atomkernels/debian-sid); the index
is reused for $ATOMKERNELS_DEBIAN_INDEX_HOURS hours (default 12) and fetched
again at once when a .deb it names has left the mirror. Any network, hash,
signature or resolution problem ends the run with exit status 1 and a message.

Only the Python standard library is used (plus gpgv and dpkg-deb).
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import email.utils
import hashlib
import lzma
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

MIRROR = os.environ.get("ATOMKERNELS_DEBIAN_MIRROR", "https://deb.debian.org/debian").rstrip("/")
SUITE = "sid"
ARCHES = ("amd64", "arm64")
KEYRING = os.environ.get("ATOMKERNELS_DEBIAN_KEYRING", "/usr/share/keyrings/debian-archive-keyring.gpg")
PRIORITY_RANK = {"required": 0, "important": 1, "standard": 2, "optional": 3, "extra": 4}


class Failure(Exception):
    """Any problem that must end the run with a message."""


# --- Debian version ordering -------------------------------------------------

def _order(c: str) -> int:
    # '~' sorts before everything, even the end of the string; letters before
    # the other characters.
    if c == "~":
        return -1
    if c.isalpha():
        return ord(c)
    return ord(c) + 256


def _compare_part(a: str, b: str) -> int:
    while a or b:
        ta = re.match(r"\D*", a).group()
        tb = re.match(r"\D*", b).group()
        a, b = a[len(ta):], b[len(tb):]
        for i in range(max(len(ta), len(tb))):
            oa = _order(ta[i]) if i < len(ta) else 0
            ob = _order(tb[i]) if i < len(tb) else 0
            if oa != ob:
                return -1 if oa < ob else 1
        da = re.match(r"\d*", a).group()
        db = re.match(r"\d*", b).group()
        a, b = a[len(da):], b[len(db):]
        na, nb = int(da or 0), int(db or 0)
        if na != nb:
            return -1 if na < nb else 1
    return 0


def _split_version(v: str) -> tuple[int, str, str]:
    epoch, _, rest = v.rpartition(":") if ":" in v else ("0", "", v)
    upstream, _, revision = rest.rpartition("-") if "-" in rest else (rest, "", "0")
    return int(epoch or 0), upstream, revision


def compare_versions(a: str, b: str) -> int:
    """-1, 0 or 1 as Debian orders versions a and b."""
    ea, ua, ra = _split_version(a)
    eb, ub, rb = _split_version(b)
    if ea != eb:
        return -1 if ea < eb else 1
    return _compare_part(ua, ub) or _compare_part(ra, rb)


_OPS = {
    "<<": lambda c: c < 0, "<=": lambda c: c <= 0, "=": lambda c: c == 0,
    ">=": lambda c: c >= 0, ">>": lambda c: c > 0,
    "<": lambda c: c <= 0, ">": lambda c: c >= 0,  # obsolete spellings of <= and >=
}


# --- Index -------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Relation:
    name: str
    op: str | None = None
    version: str | None = None

    def admits(self, version: str | None) -> bool:
        """Whether a package (or a provision) of this name at `version`
        satisfies the relation; an unversioned provision meets only an
        unversioned relation."""
        if self.op is None:
            return True
        return version is not None and _OPS[self.op](compare_versions(version, self.version))

    def __str__(self) -> str:
        return self.name if self.op is None else f"{self.name} ({self.op} {self.version})"


@dataclasses.dataclass
class Package:
    name: str
    version: str
    architecture: str
    filename: str
    sha256: str
    size: int
    priority: str = "optional"
    depends: list[list[Relation]] = dataclasses.field(default_factory=list)
    provides: list[Relation] = dataclasses.field(default_factory=list)


_RELATION = re.compile(
    r"([a-z0-9][a-z0-9+.\-]*)(?::[a-z0-9\-]+)?\s*"
    r"(?:\(\s*(<<|<=|=|>=|>>|<|>)\s*([^\s)]+)\s*\))?\s*(?:\[[^]]*\])?\s*(?:<[^>]*>\s*)*")


def parse_relations(field: str) -> list[list[Relation]]:
    """A Depends-style field: groups (comma) of alternatives (bar)."""
    groups = []
    for group in field.split(","):
        if not group.strip():
            continue
        alternatives = []
        for alt in group.split("|"):
            m = _RELATION.fullmatch(alt.strip())
            if m is None:
                raise Failure(f"cannot parse relation {alt.strip()!r} in {field!r}")
            alternatives.append(Relation(m.group(1), m.group(2), m.group(3)))
        groups.append(alternatives)
    return groups


def parse_stanzas(text: str):
    """Yields each paragraph of a control file as a dict (field names as
    written, continuation lines joined with newlines)."""
    fields: dict[str, str] = {}
    last = None
    for line in text.splitlines():
        if not line.strip():
            if fields:
                yield fields
            fields, last = {}, None
        elif line[0] in " \t":
            if last is None:
                raise Failure(f"continuation line without a field: {line!r}")
            fields[last] += "\n" + line.strip()
        else:
            name, sep, value = line.partition(":")
            if not sep:
                raise Failure(f"malformed control line: {line!r}")
            last = name.strip()
            fields[last] = value.strip()
    if fields:
        yield fields


def parse_index(text: str, arch: str) -> dict[str, Package]:
    """Packages of `arch` (and Architecture: all) by name; of several
    versions of one name, the highest."""
    index: dict[str, Package] = {}
    for st in parse_stanzas(text):
        if st.get("Architecture") not in (arch, "all"):
            continue
        try:
            pkg = Package(
                name=st["Package"], version=st["Version"], architecture=st["Architecture"],
                filename=st["Filename"], sha256=st["SHA256"].lower(), size=int(st["Size"]),
                priority=st.get("Priority", "optional"),
                depends=parse_relations(st.get("Pre-Depends", "")) + parse_relations(st.get("Depends", "")),
                provides=[alts[0] for alts in parse_relations(st.get("Provides", ""))],
            )
        except KeyError as e:
            raise Failure(f"index entry {st.get('Package', '?')} lacks field {e}") from None
        old = index.get(pkg.name)
        if old is None or compare_versions(pkg.version, old.version) > 0:
            index[pkg.name] = pkg
    return index


def resolve(index: dict[str, Package], roots: list[str], exclude=()) -> list[Package]:
    """The dependency closure of `roots`, in the order chosen (see the
    module's description)."""
    exclude = set(exclude)
    providers: dict[str, list[tuple[Package, str | None]]] = {}
    for pkg in index.values():
        for p in pkg.provides:
            providers.setdefault(p.name, []).append((pkg, p.version))

    chosen: dict[str, Package] = {}
    provided: dict[str, list[str | None]] = {}  # name -> versions of chosen packages and provisions

    def satisfied(rel: Relation) -> bool:
        return rel.name in exclude or any(rel.admits(v) for v in provided.get(rel.name, ()))

    def candidate(rel: Relation) -> Package | None:
        real = index.get(rel.name)
        if real is not None and rel.name not in exclude and rel.admits(real.version):
            return real
        able = [pkg for pkg, v in providers.get(rel.name, ()) if pkg.name not in exclude and rel.admits(v)]
        if not able:
            return None
        return min(able, key=lambda p: (PRIORITY_RANK.get(p.priority, 5), p.name))

    def choose(pkg: Package) -> None:
        chosen[pkg.name] = pkg
        provided.setdefault(pkg.name, []).append(pkg.version)
        for p in pkg.provides:
            provided.setdefault(p.name, []).append(p.version)
        queue.append(pkg)

    queue: list[Package] = []
    for name in roots:
        if name in exclude:
            raise Failure(f"{name} is both asked for and excluded")
        pkg = candidate(Relation(name))
        if pkg is None:
            raise Failure(f"no package {name} in {SUITE}")
        if pkg.name not in chosen:
            choose(pkg)
    while queue:
        pkg = queue.pop(0)
        for group in pkg.depends:
            if any(satisfied(rel) for rel in group):
                continue
            for rel in group:
                dep = candidate(rel)
                if dep is not None and dep.name not in chosen:
                    choose(dep)
                    break
            else:
                wanted = " | ".join(map(str, group))
                have = [f"{r.name} {index[r.name].version}" for r in group if r.name in index]
                raise Failure(f"{pkg.name} {pkg.version} needs {wanted}, which {SUITE} cannot satisfy"
                              + (f" (it has {', '.join(have)})" if have else ""))
    return list(chosen.values())


def release_sha256(release: str) -> dict[str, tuple[str, int]]:
    """The SHA256 section of a Release file: path -> (hash, size)."""
    for st in parse_stanzas(release):
        section = st.get("SHA256", "")
        out = {}
        for line in section.splitlines():
            parts = line.split()
            if len(parts) == 3:
                out[parts[2]] = (parts[0].lower(), int(parts[1]))
        return out
    return {}


# --- Network and cache ---------------------------------------------------------

def cache_dir() -> pathlib.Path:
    if os.environ.get("ATOMKERNELS_DEBIAN_CACHE"):
        return pathlib.Path(os.environ["ATOMKERNELS_DEBIAN_CACHE"])
    base = os.environ.get("XDG_CACHE_HOME") or pathlib.Path.home() / ".cache"
    return pathlib.Path(base) / "atomkernels" / "debian-sid"


class NotFound(Failure):
    pass


def download(url: str, target: pathlib.Path, sha256: str | None = None, size: int | None = None) -> None:
    """Downloads url to target (atomically, so concurrent runs sharing the
    cache never see a partial file), checking hash and size when given.
    Transient errors are retried; a 404 raises NotFound at once."""
    target.parent.mkdir(parents=True, exist_ok=True)
    last: Exception | None = None
    for attempt in range(3):
        if attempt:
            time.sleep(2 * attempt)
        fd, tmp = tempfile.mkstemp(dir=target.parent, prefix=".part-")
        try:
            digest = hashlib.sha256()
            got = 0
            with os.fdopen(fd, "wb") as out, urllib.request.urlopen(url, timeout=60) as resp:
                while chunk := resp.read(1 << 20):
                    out.write(chunk)
                    digest.update(chunk)
                    got += len(chunk)
            if size is not None and got != size:
                raise Failure(f"{url}: got {got} bytes, the index says {size}")
            if sha256 is not None and digest.hexdigest() != sha256:
                raise Failure(f"{url}: SHA256 {digest.hexdigest()} differs from the index's {sha256}")
            os.replace(tmp, target)
            return
        except urllib.error.HTTPError as e:
            if e.code == 404:
                raise NotFound(f"{url}: 404 Not Found") from None
            last = e
        except (urllib.error.URLError, OSError, TimeoutError) as e:
            last = e
        finally:
            if os.path.exists(tmp):
                os.unlink(tmp)
    raise Failure(f"{url}: {last}")


def file_sha256(path: pathlib.Path) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            digest.update(chunk)
    return digest.hexdigest()


def signature_holds(status: list[str]) -> bool:
    """gpgv's --status-fd lines: at least one good signature by a valid key
    of the keyring, and none that fails to verify. A signature by a key the
    keyring lacks (ERRSIG with code 9: the archive signs with the keys of
    several releases, an older keyring knows only some) or by an expired or
    revoked key counts for nothing either way."""
    good = bad = False
    for line in status:
        fields = line.split()
        if fields[:1] != ["[GNUPG:]"] or len(fields) < 2:
            continue
        if fields[1] == "GOODSIG":
            good = True
        elif fields[1] == "BADSIG" or (fields[1] == "ERRSIG" and (len(fields) < 8 or fields[7] != "9")):
            bad = True
    return good and not bad


def verified_release(inrelease: pathlib.Path) -> str:
    """The signed text of InRelease, once gpgv has found a good signature by
    a key of the archive keyring and no bad one; also checks the suite and
    that the file is still valid."""
    if shutil.which("gpgv") is None:
        raise Failure("gpgv not found (apt-get install gpgv)")
    if not os.path.exists(KEYRING):
        raise Failure(f"keyring {KEYRING} not found (apt-get install debian-archive-keyring)")
    with tempfile.TemporaryDirectory() as tmp:
        signed = pathlib.Path(tmp) / "Release"
        run = subprocess.run(["gpgv", "--status-fd", "1", "--keyring", KEYRING, "--output", str(signed),
                              str(inrelease)], capture_output=True, text=True)
        if not signature_holds(run.stdout.splitlines()) or not signed.exists():
            raise Failure(f"{inrelease}: no valid archive signature\n{run.stderr.strip()}")
        text = signed.read_text(encoding="utf-8")
    head = next(parse_stanzas(text), {})
    if SUITE not in (head.get("Codename"), head.get("Suite")):
        raise Failure(f"{inrelease}: signed for {head.get('Codename')!r}, not {SUITE}")
    # A mirror that stopped syncing still serves authentic packages, only old
    # ones: say so, but go on (the hashes below still tie every file to the
    # signed text).
    until = head.get("Valid-Until")
    if until and email.utils.parsedate_to_datetime(until) < datetime.datetime.now(datetime.timezone.utc):
        print(f"debian_sid: warning: the mirror's {SUITE} index expired on {until} "
              f"(dated {head.get('Date')}); using it anyway", file=sys.stderr)
    return text


def load_index(arch: str, refresh: bool) -> dict[str, Package]:
    """Sid's index for arch, from the cache when young enough."""
    root = cache_dir() / "dists" / arch
    inrelease = root / "InRelease"
    max_age = float(os.environ.get("ATOMKERNELS_DEBIAN_INDEX_HOURS", "12")) * 3600
    fresh = refresh or not inrelease.exists() or time.time() - inrelease.stat().st_mtime > max_age
    if fresh:
        print(f"debian_sid: fetching {SUITE} InRelease", file=sys.stderr)
        download(f"{MIRROR}/dists/{SUITE}/InRelease", inrelease)
    try:
        release = verified_release(inrelease)
    except Failure:
        if fresh:
            raise
        return load_index(arch, True)  # a stale or damaged cached copy: fetch again
    entry = f"main/binary-{arch}/Packages.xz"
    if entry not in (sums := release_sha256(release)):
        raise Failure(f"{SUITE} InRelease does not list {entry}")
    sha, size = sums[entry]
    packages_xz = root / f"Packages-{sha}.xz"
    if not packages_xz.exists() or file_sha256(packages_xz) != sha:
        print(f"debian_sid: fetching {entry} ({size / 1e6:.1f} MB)", file=sys.stderr)
        download(f"{MIRROR}/dists/{SUITE}/main/binary-{arch}/by-hash/SHA256/{sha}", packages_xz, sha, size)
        for old in root.glob("Packages-*.xz"):
            if old != packages_xz:
                old.unlink(missing_ok=True)
    index = parse_index(lzma.decompress(packages_xz.read_bytes()).decode("utf-8"), arch)
    index_fresh[arch] = fresh
    return index


index_fresh: dict[str, bool] = {}


def fetch_debs(packages: list[Package]) -> list[pathlib.Path]:
    debs = []
    total = fetched = 0
    for pkg in packages:
        path = cache_dir() / "debs" / pathlib.PurePosixPath(pkg.filename).name
        if not (path.exists() and path.stat().st_size == pkg.size and file_sha256(path) == pkg.sha256):
            download(f"{MIRROR}/{pkg.filename}", path, pkg.sha256, pkg.size)
            fetched += pkg.size
        total += pkg.size
        debs.append(path)
    print(f"debian_sid: {len(packages)} packages, {total / 1e6:.1f} MB ({fetched / 1e6:.1f} MB downloaded)",
          file=sys.stderr)
    return debs


def extract(debs: list[pathlib.Path], dest: pathlib.Path) -> None:
    if shutil.which("dpkg-deb") is None:
        raise Failure("dpkg-deb not found")
    dest.mkdir(parents=True, exist_ok=True)
    for deb in debs:
        run = subprocess.run(["dpkg-deb", "-x", str(deb), str(dest)], capture_output=True, text=True)
        if run.returncode != 0:
            raise Failure(f"dpkg-deb -x {deb} failed: {run.stderr.strip()}")


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(prog="debian_sid.py", description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("fetch", "resolve"):
        p = sub.add_parser(name)
        p.add_argument("--arch", required=True, choices=ARCHES)
        if name == "fetch":
            p.add_argument("--dest", required=True, type=pathlib.Path)
        p.add_argument("--exclude", action="append", default=[], metavar="PKG")
        p.add_argument("--refresh", action="store_true", help="fetch the index even if the cached one is young")
        p.add_argument("packages", nargs="+", metavar="PKG")
    args = parser.parse_args(argv)
    try:
        index = load_index(args.arch, args.refresh)
        packages = resolve(index, args.packages, args.exclude)
        if args.command == "fetch":
            try:
                debs = fetch_debs(packages)
            except NotFound:
                if index_fresh[args.arch]:
                    raise
                # The cached index names a file the mirror has since dropped.
                print("debian_sid: the cached index is out of date; fetching it again", file=sys.stderr)
                packages = resolve(load_index(args.arch, True), args.packages, args.exclude)
                debs = fetch_debs(packages)
            extract(debs, args.dest)
    except Failure as e:
        print(f"debian_sid: error: {e}", file=sys.stderr)
        return 1
    for pkg in packages:
        print(pkg.name, pkg.version)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
