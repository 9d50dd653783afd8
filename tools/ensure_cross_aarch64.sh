#!/usr/bin/env bash
# Succeeds when what the aarch64 build needs is there: the cross compiler,
# the user-mode emulator, pkg-config (meson finds the interpreter's headers
# with it), and dpkg-deb, gpgv and the archive keyring (tools/debian_sid.py
# unpacks and checks the sysroot's packages with them). Missing ones are
# installed with apt-get when we are root; otherwise it says why and fails:
# the aarch64 targets cannot run without them, and must not seem to pass.
set -u
need=()
command -v aarch64-linux-gnu-g++ >/dev/null 2>&1 || need+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64-static >/dev/null 2>&1 || need+=(qemu-user-static)
command -v pkg-config >/dev/null 2>&1 || need+=(pkgconf)
command -v dpkg-deb >/dev/null 2>&1 || need+=(dpkg)
command -v gpgv >/dev/null 2>&1 || need+=(gpgv)
[ -f /usr/share/keyrings/debian-archive-keyring.gpg ] || need+=(debian-archive-keyring)
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "installing ${need[*]} for the aarch64 build"
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"; } >/dev/null || {
    echo "aarch64: apt-get install ${need[*]} failed"; exit 1; }
else
  echo "aarch64: ${need[*]} missing, and not root to install them with apt-get"
  exit 1
fi
