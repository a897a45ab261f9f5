# shellcheck shell=bash
# Helpers shared by the scripts under scripts/: messages, timing, running a
# command as root, and installing missing Debian packages.
# Source it from a script that already runs with `set -euo pipefail`.

log() { printf '==> %s\n' "$*"; }
warn() { printf 'warning: %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Seconds as "3m07s".
format_seconds() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# Runs a command as root: directly when we are root, else through sudo.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    die "root is needed to run: $*"
  fi
}

# Prints the packages among the arguments that dpkg does not list as installed.
missing_packages() {
  local p
  for p in "$@"; do
    [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true) == *" ok installed" ]] || echo "$p"
  done
}

# Installs the packages among the arguments that are missing (apt-get update once first).
APT_UPDATED=0
ensure_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  ((${#missing[@]} > 0)) || return 0
  log "installing Debian packages: ${missing[*]}"
  if ((APT_UPDATED == 0)); then
    as_root apt-get -o DPkg::Lock::Timeout=600 update -q ||
      warn "apt-get update reported errors; trying the install anyway"
    APT_UPDATED=1
  fi
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
}
