#!/usr/bin/env bash
# Prints a one-line apt entry for another suite (such as the release's backports) of the archive
# this machine installs its release from. The candidates are the enabled "deb" sources whose
# suites hold the release's codename, read from the one-line files (sources.list, *.list) and the
# deb822 files (*.sources) as apt reads them. Of these, the first whose release file, as apt last
# fetched it into its lists folder, names the distribution (os-release's ID) as its origin is
# taken: a vendor's or a local repository that also serves the codename does not carry the
# distribution's backports. Where no release file says so (lists not fetched yet), the first
# candidate is taken. The archive's URI and its options (key, trust, architectures, validity
# check) are carried over, so that a machine that reaches only a mirror or proxy of its own gets
# the suite from there.
#   apt-source.sh <codename> <suite> [apt configuration folder, default /etc/apt]
#                 [apt's lists folder, default /var/lib/apt/lists]
# Exits with 1 and a message when no source of the release is configured.
set -euo pipefail
export LC_ALL=C
codename="$1" suite="$2" dir="${3:-/etc/apt}" lists="${4:-/var/lib/apt/lists}"
distro="$( (. /etc/os-release && echo "$ID") 2>/dev/null || true)"

# apt reads sources.list first, then the folder's files in byte order of their names; it skips
# names with characters other than letters, digits, "_", "-" and ".".
files=()
[ ! -f "$dir/sources.list" ] || files+=("$dir/sources.list")
for f in "$dir"/sources.list.d/*; do
  [[ "${f##*/}" =~ ^[A-Za-z0-9_.-]+\.(list|sources)$ && -f "$f" ]] || continue
  files+=("$f")
done
[ ${#files[@]} -gt 0 ] || files=(/dev/null)

# One line per candidate: the name apt gives the URI in its lists folder, a tab, the entry.
candidates="$(awk -v codename="$codename" -v suite="$suite" '
  BEGIN { for (i = 32; i < 127; i++) code[sprintf("%c", i)] = i }
  function has(list, word,   n, i, w) {
    n = split(list, w, /[ \t]+/)
    for (i = 1; i <= n; i++) if (w[i] == word) return 1
    return 0
  }
  # The URI without scheme and credentials, "/" as "_", some characters quoted as %xx.
  function listname(uri,   i, c, out) {
    sub(/^[A-Za-z][A-Za-z0-9+.-]*:(\/\/)?/, "", uri)
    if (match(uri, /^[^\/]*@/)) uri = substr(uri, RLENGTH + 1)
    # An IPv6 host loses its brackets.
    if (uri ~ /^\[/ && index(uri, "]") > 0) uri = substr(uri, 2, index(uri, "]") - 2) substr(uri, index(uri, "]") + 1)
    sub(/\/+$/, "", uri)
    for (i = 1; i <= length(uri); i++) {
      c = substr(uri, i, 1)
      if (c == "/") c = "_"
      else if (index("\\|{}[]<>\"^~_=!@#$%&*", c)) c = sprintf("%%%02x", code[c])
      out = out c
    }
    return out
  }
  function candidate(uri, opts) {
    printf "%s\t%s\n", listname(uri), "deb " (opts == "" ? "" : "[" opts "] ") uri " " suite " main"
  }
  function more(list, word) { return list == "" ? word : list " " word }
  # apt reads "no", "false", "off", "without", "disable" (any case) and zero as off.
  function off(value) { value = tolower(value); return value ~ /^(no|false|off|without|disable|0+)$/ }
  function flush(   opts, n, u, i) {
    if (has(types, "deb") && has(suites, codename) && !off(enabled)) {
      opts = ""
      if (arches != "") { gsub(/[ \t]+/, ",", arches); opts = opts " arch=" arches }
      # A key given inline (several lines) cannot be written on one line: apt then falls back
      # to its trusted keys, which hold the release'"'"'s own.
      if (signedby != "" && !multiline) opts = opts " signed-by=" signedby
      if (trusted != "") opts = opts " trusted=" trusted
      if (validuntil != "") opts = opts " check-valid-until=" validuntil
      n = split(uris, u, /[ \t]+/)
      for (i = 1; i <= n; i++) if (u[i] != "") candidate(u[i], substr(opts, 2))
    }
    types = suites = uris = arches = signedby = trusted = validuntil = enabled = key = ""; multiline = 0
  }
  FNR == 1 { flush(); deb822 = FILENAME ~ /\.sources$/ }
  !deb822 {
    sub(/#.*/, "")
    if ($1 != "deb") next
    i = 2; opts = ""
    if ($2 ~ /^\[/) {
      while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ }
      gsub(/^ *\[ */, "", opts); gsub(/ *\] *$/, "", opts)
    }
    if ($(i + 1) == codename) candidate($i, opts)
    next
  }
  # deb822: paragraphs of "Field: value" lines, continuation lines start with a blank.
  /^[ \t]*#/ { next }
  /^[ \t]*$/ { flush(); next }
  # A value may go on over such lines (URIs or Suites one a line, say): apt reads them all.
  /^[ \t]/ {
    if (key == "signed-by") { multiline = 1; next }
    value = $0; gsub(/^[ \t]+|[ \t]+$/, "", value)
    if (key == "types") types = more(types, value)
    else if (key == "suites") suites = more(suites, value)
    else if (key == "uris") uris = more(uris, value)
    else if (key == "architectures") arches = more(arches, value)
    else if (key == "trusted") trusted = more(trusted, value)
    else if (key == "check-valid-until") validuntil = more(validuntil, value)
    else if (key == "enabled") enabled = more(enabled, value)
    next
  }
  {
    key = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
    gsub(/^[ \t]+|[ \t]+$/, "", value)
    if (key == "types") types = value
    else if (key == "suites") suites = value
    else if (key == "uris") uris = value
    else if (key == "architectures") arches = value
    else if (key == "signed-by") signedby = value
    else if (key == "trusted") trusted = value
    else if (key == "check-valid-until") validuntil = value
    else if (key == "enabled") enabled = value
  }
  END { flush() }
' "${files[@]}")"

entry=""
while IFS=$'\t' read -r name line; do
  [ -n "$line" ] || continue
  [ -n "$entry" ] || entry="$line"
  for release in "$lists/${name}_dists_${codename}_InRelease" "$lists/${name}_dists_${codename}_Release"; do
    [ -r "$release" ] || continue
    origin="$(awk '/^Origin:/ { sub(/^Origin:[ \t]*/, ""); print; exit }' "$release")"
    if [ -n "$distro" ] && [ "${origin,,}" = "${distro,,}" ]; then
      printf '%s\n' "$line"
      exit 0
    fi
  done
done <<< "$candidates"

if [ -z "$entry" ]; then
  echo "apt-source: no enabled source of $codename in $dir" >&2
  exit 1
fi
printf '%s\n' "$entry"
