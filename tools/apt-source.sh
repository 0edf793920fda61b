#!/usr/bin/env bash
# Prints a one-line apt entry for another suite (such as the release's backports) of the archive
# this machine installs its release from: the first enabled "deb" source whose suites hold the
# release's codename, read from the one-line files (sources.list, *.list) or the deb822 files
# (*.sources) in the order apt reads them. The archive's URI and its signing key or trust option
# are carried over, so that a machine that reaches only a mirror or proxy of its own gets the
# suite from there.
#   apt-source.sh <codename> <suite> [apt configuration folder, default /etc/apt]
# Exits with 1 and a message when no source of the release is configured.
set -euo pipefail
codename="$1" suite="$2" dir="${3:-/etc/apt}"

# apt reads sources.list first, then the folder's files in name order, whichever their form.
files=()
[ ! -f "$dir/sources.list" ] || files+=("$dir/sources.list")
for f in $(cd "$dir/sources.list.d" 2>/dev/null && LC_ALL=C ls -1 -- *.list *.sources 2>/dev/null | LC_ALL=C sort); do
  files+=("$dir/sources.list.d/$f")
done

entry=""
for f in "${files[@]}"; do
  case "$f" in
    *.sources) form=deb822 ;;
    *) form=line ;;
  esac
  entry="$(awk -v form="$form" -v codename="$codename" -v suite="$suite" '
    function has(list, word,   n, i, w) {
      n = split(list, w, /[ \t]+/)
      for (i = 1; i <= n; i++) if (w[i] == word) return 1
      return 0
    }
    function flush(   opts, n, u) {
      if (types != "" && has(types, "deb") && has(suites, codename) && tolower(enabled) != "no" && uris != "") {
        opts = ""
        # A key given inline (several lines) cannot be written on one line: apt then falls back
        # to its trusted keys, which hold the release'"'"'s own.
        if (signedby != "" && !multiline) opts = opts " signed-by=" signedby
        if (tolower(trusted) == "yes") opts = opts " trusted=yes"
        n = split(uris, u, /[ \t]+/)
        printf "deb %s%s %s main\n", (opts == "" ? "" : "[" substr(opts, 2) "] "), u[1], suite
        found = 1
        exit
      }
      types = suites = uris = signedby = trusted = enabled = ""; multiline = 0; key = ""
    }
    form == "line" {
      sub(/#.*/, "")
      if ($1 != "deb") next
      i = 2; opts = ""
      if ($2 ~ /^\[/) {
        while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ }
        gsub(/^ *\[ */, "", opts); gsub(/ *\] *$/, "", opts)
      }
      if ($(i + 1) == codename) {
        printf "deb %s%s %s main\n", (opts == "" ? "" : "[" opts "] "), $i, suite
        found = 1
        exit
      }
      next
    }
    # deb822: paragraphs of "Field: value" lines, continuation lines start with a blank.
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { if (key == "signed-by") multiline = 1; next }
    {
      key = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (key == "types") types = value
      else if (key == "suites") suites = value
      else if (key == "uris") uris = value
      else if (key == "signed-by") signedby = value
      else if (key == "trusted") trusted = value
      else if (key == "enabled") enabled = value
    }
    END { if (!found && form == "deb822") flush() }
  ' "$f")"
  [ -z "$entry" ] || break
done

if [ -z "$entry" ]; then
  echo "apt-source: no enabled source of $codename in $dir" >&2
  exit 1
fi
printf '%s\n' "$entry"
