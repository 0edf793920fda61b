#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, and makes the Wine prefix.
# Idempotent: packages already present are not asked for again, an existing prefix is kept.
# libjpeg and minizip are built from Debian's source packages by tools/build-deps.sh, which CMake
# runs (dpkg-dev unpacks them); libtiff-tools and libjpeg-turbo-progs make the JPEG tests' files.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(cmake make g++ g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev
          googletest wine wine32:i386 xvfb xauth fonts-wine zlib1g-dev libxml2-utils python3 libjpeg62-turbo-dev
          libtiff-tools libjpeg-turbo-progs dpkg-dev libzydis-dev libcapstone-dev libxml2-dev libpugixml-dev
          shared-mime-info)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
update_lists() {
  for try in 1 2 3; do
    $sudo apt-get update -qq && return
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ $try -eq 3 ] || sleep 5
  done
  return 1
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  echo "setup: installing ${missing[*]}"
  # A mirror in the middle of a sync can fail one index: the install then works from the lists apt
  # has, and fails clearly itself if a package it needs is not among them.
  update_lists || echo "setup: going on with the package lists apt has" >&2
  # Without the security suite's i386 list (a mirror behind on it), the i386 libraries of the main
  # suite cannot stand beside newer amd64 ones from the security suite: the install is then taken
  # from the main suite alone.
  if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null; then
    suite="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    echo "setup: installing from the $suite suite alone" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -t "$suite" "${missing[@]}" >/dev/null
  fi
fi

# Some kernels run no 32-bit programs (the i386 loader answers "Exec format error"), and Wine's
# 32-bit side is such a program: there it runs under qemu's user-mode emulator, registered for
# i386 executables with binfmt_misc. The emulator comes from the suite's backports: the main
# suite's older one spends about a minute on each program's start (it answers Wine's reservations
# of address space by walking its page table) and can place a reservation where Wine's shared
# data must go. The backports suite is taken from the archive the machine's own sources name for
# its release (a mirror or proxy of its own may be all it reaches); of these, the one whose release
# file, fetched just before, names the distribution as its origin, since a vendor's or a local
# repository may serve the release's codename too. If the install fails, the entry is taken out
# again so that later updates do not keep asking for it. A registration holds the emulator it was
# made with, so a new emulator is registered again. Nothing is done where 32-bit programs run.
binfmt=/proc/sys/fs/binfmt_misc
if [ -e "$binfmt/kbl-i386" ] || ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  qemu="$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)"
  if [ -z "$qemu" ] || dpkg --compare-versions "$qemu" lt 1:8; then
    codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    backports="$codename-backports" list=/etc/apt/sources.list.d/kbl-backports.list
    update_lists || echo "setup: going on with the package lists apt has" >&2
    entry="$("$here/tools/apt-source.sh" "$codename" "$backports")"
    printf '%s\n' "$entry" | $sudo tee "$list" >/dev/null
    update_lists || echo "setup: going on with the package lists apt has" >&2
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -t "$backports" qemu-user-static >/dev/null; then
      $sudo rm -f "$list"
      update_lists || true
      echo "setup: cannot install qemu-user-static from $backports ($entry); the emulator of 32-bit programs needs it" >&2
      exit 1
    fi
    [ ! -e "$binfmt/kbl-i386" ] || echo -1 | $sudo tee "$binfmt/kbl-i386" >/dev/null
  fi
  [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/kbl-i386" ]; then
    echo "setup: 32-bit programs run under qemu-i386 here"
    printf '%s' ':kbl-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FOC' |
      $sudo tee "$binfmt/register" >/dev/null
  fi
  /usr/lib/wine/wineserver32 --version >/dev/null 2>&1 || { echo "setup: this machine runs no 32-bit programs" >&2; exit 1; }
fi

prefix="${KBL_WINEPREFIX:-$here/build/wineprefix}"
if [ ! -f "$prefix/system.reg" ]; then
  echo "setup: creating Wine prefix $prefix"
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -w || true
  [ -f "$prefix/system.reg" ] || { echo "setup: wineboot did not create the prefix" >&2; exit 1; }
fi
