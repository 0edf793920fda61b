#!/usr/bin/env bash
# tools/apt-source.sh against apt configurations of both forms: it must name the archive the
# release comes from (a machine's own mirror or proxy), carry its key over, skip what apt skips,
# and fail clearly when the release has no source.
set -uo pipefail
script="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/tools/apt-source.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# check <name> <expected output, or "fail"> : runs the script on $work/<name>
check() {
  local out status
  out="$("$script" bookworm bookworm-backports "$work/$1" 2>&1)"; status=$?
  if [ "$2" = fail ]; then
    [ $status -eq 1 ] && [[ "$out" == *"no enabled source of bookworm"* ]] && return
  else
    [ $status -eq 0 ] && [ "$out" = "$2" ] && return
  fi
  echo "apt_source_test: $1: got status $status, \"$out\"; expected \"$2\"" >&2
  failures=$((failures + 1))
}
put() { mkdir -p "$(dirname "$work/$1")"; cat > "$work/$1"; }

put oneline/sources.list <<'X'
# deb http://first.invalid/debian bookworm main
deb-src http://src.invalid/debian bookworm main
deb http://security.invalid/debian-security bookworm-security main
deb [ arch=amd64,i386 signed-by=/etc/keys/mirror.gpg ] http://mirror.invalid:3142/debian bookworm main contrib
X
check oneline "deb [arch=amd64,i386 signed-by=/etc/keys/mirror.gpg] http://mirror.invalid:3142/debian bookworm-backports main"

put deb822/sources.list.d/a-disabled.sources <<'X'
Types: deb
URIs: http://off.invalid/debian
Suites: bookworm
Components: main
Enabled: no
X
put deb822/sources.list.d/b-inline-key.sources <<'X'
Types: deb-src deb
URIs: http://proxy.invalid/debian http://other.invalid/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----
X
put deb822/sources.list.d/c-later.list <<'X'
deb http://later.invalid/debian bookworm main
X
check deb822 "deb http://proxy.invalid/debian bookworm-backports main"

put mixed/sources.list <<'X'
deb http://updates-only.invalid/debian bookworm-updates main
X
put mixed/sources.list.d/debian.sources <<'X'
# the release
Types: deb
URIs: http://local.invalid/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/archive.gpg
Trusted: yes
X
check mixed "deb [signed-by=/usr/share/keyrings/archive.gpg trusted=yes] http://local.invalid/debian bookworm-backports main"

put none/sources.list.d/other.sources <<'X'
Types: deb
URIs: http://other.invalid/debian
Suites: trixie
Components: main
X
check none fail

[ $failures -eq 0 ] && echo "apt_source_test: all cases passed"
exit $((failures > 0))
