# shellcheck shell=bash
# Making and checking the Debian packages of a configured build folder: CPack (the
# DEB generator, cmake/CorvanePackaging.cmake), dpkg-deb summaries and lintian.
# Source it after scripts/lib/common.sh.

# What CPack's DEB generator and the checks run: dpkg-shlibdeps (dpkg-dev), file,
# readelf (binutils), lintian.
# shellcheck disable=SC2034  # used by the scripts that source this file
PACKAGE_TOOLS=(dpkg-dev file binutils lintian)

# make_packages <build folder> <output folder>: runs CPack in the build folder (which
# must have been configured with -DCMAKE_INSTALL_PREFIX=/usr and built) and leaves the
# .deb files, and only them, in the output folder.
make_packages() {
  local build=$1 out=$2 debs
  log "cpack in ${build#"$ROOT"/}: Debian packages into ${out#"$ROOT"/}"
  rm -rf "$build/cpack"
  if ! cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >"$build/cpack.log" 2>&1; then
    cat "$build/cpack.log" >&2
    die "cpack failed (log: $build/cpack.log)"
  fi
  mkdir -p "$out"
  rm -f "$out"/*.deb
  shopt -s nullglob
  debs=("$build/cpack"/*.deb)
  shopt -u nullglob
  ((${#debs[@]} > 0)) || die "cpack made no .deb file (log: $build/cpack.log)"
  cp "${debs[@]}" "$out/"
}

# show_packages <folder>: the control fields and contents of every .deb in it.
show_packages() {
  local deb
  for deb in "$1"/*.deb; do
    log "dpkg-deb -I ${deb##*/}"
    dpkg-deb -I "$deb"
  done
}

# lintian_packages <folder>: lintian on every .deb in it; fails when lintian reports
# an error (E:). Warnings are printed and let through.
lintian_packages() {
  local out rc=0
  log "lintian $1/*.deb"
  # (As root, lintian first says that running as root is not recommended.)
  out=$(lintian --fail-on error "$1"/*.deb 2>&1) || rc=$?
  out=$(grep -v '^running with root privileges' <<<"$out" || true)
  [[ -z $out ]] || printf '%s\n' "$out"
  if ((rc != 0)); then
    warn "lintian reported errors (or failed) on the packages"
    return 1
  fi
  log "lintian: $(grep -c '^E: ' <<<"$out" || true) errors, $(grep -c '^W: ' <<<"$out" || true) warnings"
}
