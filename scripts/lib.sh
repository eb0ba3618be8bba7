# Shared by scripts/run and scripts/test: installs the Debian packages listed in
# scripts/packages/<kind>*.txt that are not installed yet.
kestlin_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

kestlin_packages() {
  local kind
  for kind in "$@"; do
    cat "$kestlin_root"/scripts/packages/"$kind"*.txt
  done | sed -e 's/#.*//' | tr -s ' \t' '\n\n' | sed '/^$/d' | sort -u
}

# A list entry may name alternatives, "libssl3t64|libssl3": the first is the
# name in a newer release, the others older names of the same library. The
# entry is satisfied when any of them is installed.
kestlin_installed() {
  local pkg
  for pkg in ${1//|/ }; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' && return 0
  done
  return 1
}

# The alternative of an entry that this release has as a real package (a
# virtual name such as trixie's libssl3 is never shown installed by dpkg, so
# asking for it would install again on every run); the first one if none is.
kestlin_installable() {
  local pkg
  for pkg in ${1//|/ }; do
    apt-cache show --no-all-versions "$pkg" 2>/dev/null | grep -q '^Version:' && { echo "$pkg"; return; }
  done
  echo "${1%%|*}"
}

kestlin_install_packages() {
  local missing=() entry sudo=()
  for entry in $(kestlin_packages "$@"); do
    kestlin_installed "$entry" || missing+=("$entry")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Installing ${missing[*]} needs root or sudo." >&2; return 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  local names=()
  for entry in "${missing[@]}"; do
    names+=("$(kestlin_installable "$entry")")
  done
  echo "Installing Debian packages: ${names[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${names[@]}"
}

# Configures and builds one build folder under build/.
kestlin_build() {
  local name=$1
  shift
  cmake -S "$kestlin_root" -B "$kestlin_root/build/$name" -G Ninja "$@"
  cmake --build "$kestlin_root/build/$name" -j "$(nproc)"
}
