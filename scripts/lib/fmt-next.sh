# shellcheck shell=bash
# Fetches the {fmt} headers of the next Debian release (libfmt-dev from trixie)
# without installing anything: a private apt state built from this machine's own
# apt sources, with the release name swapped, then `apt-get download` and
# `dpkg-deb -x`. Source it after scripts/lib/common.sh.

FMT_NEXT_SUITE=trixie

# Rewrites one-line apt sources (stdin) for the next release: keeps the `deb` lines
# whose suite is this release or one of its pockets ($1, $1-updates, ...), with the
# suite renamed to $2. Other lines are dropped.
fmt_next_rewrite_list() {
  awk -v from="$1" -v to="$2" '
    $1 != "deb" { next }
    {
      i = 2
      if ($i ~ /^\[/) { while ($i !~ /\]$/ && i < NF) i++; i++ }   # [options]
      suite = $(i + 1)
      if (suite == from || index(suite, from "-") == 1 || index(suite, from "/") == 1) {
        $(i + 1) = to substr(suite, length(from) + 1)
        print
      }
    }'
}

# The same for deb822 sources (stdin): keeps the stanzas that name a suite of this
# release, lists only those suites (renamed) and only the binary type.
fmt_next_rewrite_sources() {
  awk -v from="$1" -v to="$2" '
    BEGIN { RS = ""; FS = "\n" }
    {
      out = ""; keep = 0; enabled = 1; binary = 0
      for (l = 1; l <= NF; l++) {
        line = $l
        if (line ~ /^Enabled:[ \t]*no/) enabled = 0
        if (line ~ /^Types:/) {
          if (line ~ /[: \t]deb([ \t]|$)/) binary = 1
          line = "Types: deb"
        } else if (line ~ /^Suites:/) {
          n = split(substr(line, 8), words, /[ \t]+/)
          line = "Suites:"
          for (w = 1; w <= n; w++) {
            s = words[w]
            if (s == from || index(s, from "-") == 1 || index(s, from "/") == 1) {
              line = line " " to substr(s, length(from) + 1); keep = 1
            }
          }
        }
        out = out line "\n"
      }
      if (keep && enabled && binary) printf "%s\n", out
    }'
}

# fmt_next_fetch <workdir>: leaves the unpacked package in <workdir>/root and prints
# the include folder. Fails with a message when the package cannot be downloaded.
fmt_next_fetch() {
  local work=$1 apt="$1/apt" codename f base
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || die "cannot tell this machine's Debian release from /etc/os-release"

  rm -rf "$apt/sources.list" "$apt/sources.list.d" "$work/root" "$work"/*.deb
  mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$work/root"
  : >"$apt/sources.list"
  if [[ -f /etc/apt/sources.list ]]; then
    fmt_next_rewrite_list "$codename" "$FMT_NEXT_SUITE" </etc/apt/sources.list >"$apt/sources.list"
  fi
  for f in /etc/apt/sources.list.d/*; do
    base=${f##*/}
    case "$base" in
      *.list) fmt_next_rewrite_list "$codename" "$FMT_NEXT_SUITE" <"$f" >"$apt/sources.list.d/$base" ;;
      *.sources) fmt_next_rewrite_sources "$codename" "$FMT_NEXT_SUITE" <"$f" >"$apt/sources.list.d/$base" ;;
      *) ;;  # *.disabled* and anything else
    esac
  done
  if ! grep -qs . "$apt/sources.list" "$apt/sources.list.d"/*; then
    die "no apt source of this machine names the release '$codename': cannot derive one for $FMT_NEXT_SUITE"
  fi

  local -a opts=(
    -o "Dir::Etc::sourcelist=$apt/sources.list"
    -o "Dir::Etc::sourceparts=$apt/sources.list.d"
    -o "Dir::State::Lists=$apt/lists"
    -o "Dir::Cache=$apt/cache"
    -o "Acquire::Languages=none"
    -q
  )
  # As root, apt would hand downloads to the _apt user, who cannot write here.
  if [[ $(id -u) -eq 0 ]]; then opts+=(-o "APT::Sandbox::User=root"); fi

  log "fetching libfmt-dev from $FMT_NEXT_SUITE (private apt state in $apt)" >&2
  if ! apt-get "${opts[@]}" update >&2; then
    warn "apt-get update for $FMT_NEXT_SUITE reported errors; trying the download anyway"
  fi
  if ! (cd "$work" && apt-get "${opts[@]}" download "libfmt-dev/$FMT_NEXT_SUITE" >&2); then
    die "could not download libfmt-dev from $FMT_NEXT_SUITE (no network, or the package archive is unreachable)"
  fi
  local debs=("$work"/libfmt-dev_*.deb)
  [[ -f ${debs[0]} ]] || die "apt-get download left no libfmt-dev package in $work"
  dpkg-deb -x "${debs[0]}" "$work/root"
  [[ -f $work/root/usr/include/fmt/format.h ]] || die "the downloaded libfmt-dev has no fmt/format.h"
  echo "$work/root/usr/include"
}

# fmt_version <include dir>: prints the FMT_VERSION number of the headers there.
fmt_version() {
  local f
  for f in "$1/fmt/base.h" "$1/fmt/core.h"; do
    if [[ -f $f ]]; then
      awk '$1 == "#define" && $2 == "FMT_VERSION" { print $3; exit }' "$f"
      return 0
    fi
  done
}
