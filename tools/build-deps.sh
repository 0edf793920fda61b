#!/usr/bin/env bash
# Builds libjpeg and minizip from Debian's source packages, once: for the Windows configuration into
# build/deps/i686-w64-mingw32 (include/, lib/), and minizip for the native one into
# build/deps/native (Debian's own libminizip is an older minizip whose traditional encryption is
# wrong on 64-bit machines). The sources come from `apt-get source` through a
# sources list of our own: deb-src lines for the suites of the machine's Debian deb lines, with
# lists and caches under build/deps/apt, so the system's apt configuration is left as it is. apt
# checks the downloads against the signed Sources index and dpkg-source against the .dsc.
#   libjpeg-turbo: its own CMake, static only, no TurboJPEG API, no SIMD (no assembler needed).
#   minizip: zip.c, ioapi.c and iowin32.c of zlib's contrib/minizip, against Debian's mingw zlib
#   (natively zip.c and ioapi.c, against Debian's zlib).
# A later run finds the stamp written by this version of the script and does nothing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="${KBL_DEPS_DIR:-$here/build/deps}"
prefix="$deps/i686-w64-mingw32"
native="$deps/native"
stamp="$deps/built-by"
version="$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)"

built() { [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; }
built && exit 0
mkdir -p "$deps"
exec 9>"$deps/lock"
flock 9
built && exit 0

say() { echo "build-deps: $*" >&2; }
fail() { echo "build-deps: $*" >&2; exit 1; }
jobs="$(nproc)"
cc=i686-w64-mingw32-gcc-posix
# The flags of the project's own Windows code: SSE arithmetic and a realigned stack, because a
# host may call into the DLL with a 4-byte aligned stack.
cflags="-O2 -msse2 -mfpmath=sse -mstackrealign"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache)

# --- Fetching the sources

apt_dir="$deps/apt"
src="$deps/src"
rm -rf "$apt_dir" "$src" "$prefix" "$native"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$src"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
signed=""
[ -f "$keyring" ] && signed="[signed-by=$keyring] "
apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' 'Origin: Debian' |
  sort -u | while read -r site release component; do
    echo "deb-src ${signed}$site $release $component"
  done >"$apt_dir/sources.list"
[ -s "$apt_dir/sources.list" ] || fail "the machine's apt sources name no Debian suite (run apt-get update)"

apt_options=(-o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o Dir::Etc::sourceparts=-
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
             -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root)
say "fetching the source indexes of $(awk '{print $(NF-1)}' "$apt_dir/sources.list" | tr '\n' ' ')"
apt-get "${apt_options[@]}" -qq update || fail "apt-get update of the source indexes failed"

# The newest version the suites hold that the mirror can deliver: a security suite's index may
# name a version its pool does not carry yet.
fetch() {
  local package="$1" version
  for version in $(apt-cache "${apt_options[@]}" showsrc --only-source "$package" |
                   sed -n 's/^Version: //p' | sort -rVu); do
    if (cd "$src" && apt-get "${apt_options[@]}" -qq source --only-source "$package=$version") \
         >>"$deps/fetch.log" 2>&1; then
      say "$package $version"
      return 0
    fi
    say "$package $version could not be fetched; trying an older version"
  done
  fail "no source of $package could be fetched"
}
fetch libjpeg-turbo
fetch zlib
jpeg_src="$(find "$src" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)"
zlib_src="$(find "$src" -maxdepth 1 -type d -name 'zlib-*' | head -1)"
[ -d "$jpeg_src" ] && [ -f "$zlib_src/contrib/minizip/zip.c" ] || fail "unpacked sources not found in $src"

# --- libjpeg

say "building libjpeg (static, i686)"
jpeg_build="$deps/libjpeg-build"
rm -rf "$jpeg_build"
cmake -S "$jpeg_src" -B "$jpeg_build" -G "Unix Makefiles" "${launcher[@]}" \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=i686 -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_RC_COMPILER=i686-w64-mingw32-windres -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
  -DWITH_SIMD=OFF -DWITH_JAVA=OFF >"$deps/libjpeg-configure.log" 2>&1 ||
  fail "configuring libjpeg failed (see $deps/libjpeg-configure.log)"
cmake --build "$jpeg_build" -j "$jobs" --target jpeg-static >"$deps/libjpeg-build.log" 2>&1 ||
  fail "building libjpeg failed (see $deps/libjpeg-build.log)"
mkdir -p "$prefix/include" "$prefix/lib"
cp "$jpeg_build/libjpeg.a" "$prefix/lib/"
cp "$jpeg_src/jpeglib.h" "$jpeg_src/jerror.h" "$jpeg_src/jmorecfg.h" "$jpeg_build/jconfig.h" "$prefix/include/"

# --- minizip

# minizip_build NAME COMPILER AR FLAGS UNITS...: a static libminizip.a and its headers in NAME.
minizip_build() {
  local into="$1" compiler="$2" archiver="$3" flags="$4" unit objects=()
  shift 4
  local build="$deps/minizip-build/$(basename "$into")"
  rm -rf "$build"
  mkdir -p "$build" "$into/include/minizip" "$into/lib"
  for unit in "$@"; do
    $compiler $flags -c "$zlib_src/contrib/minizip/$unit.c" -o "$build/$unit.o" 2>>"$deps/minizip-build.log" ||
      fail "building minizip failed (see $deps/minizip-build.log)"
    objects+=("$build/$unit.o")
    [ -f "$zlib_src/contrib/minizip/$unit.h" ] && cp "$zlib_src/contrib/minizip/$unit.h" "$into/include/minizip/"
  done
  $archiver rcs "$into/lib/libminizip.a" "${objects[@]}"
}
say "building minizip (static, i686 and native)"
minizip_build "$prefix" "$cc" i686-w64-mingw32-ar "$cflags" zip ioapi iowin32
minizip_build "$native" cc ar "-O2 -fPIC" zip ioapi

echo "$version" >"$stamp"
say "done: $prefix, $native"
