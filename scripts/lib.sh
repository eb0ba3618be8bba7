# Shared by scripts/run and scripts/test: installs the Debian packages listed in
# scripts/packages/<kind>*.txt that are not installed yet.
kestlin_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

kestlin_packages() {
  local kind
  for kind in "$@"; do
    cat "$kestlin_root"/scripts/packages/"$kind"*.txt
  done | sed -e 's/#.*//' | tr -s ' \t' '\n\n' | sed '/^$/d' | sort -u
}

kestlin_install_packages() {
  local missing=() pkg sudo=()
  for pkg in $(kestlin_packages "$@"); do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Installing ${missing[*]} needs root or sudo." >&2; return 1; }
    sudo=(sudo)
  fi
  echo "Installing Debian packages: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds one build folder under build/.
kestlin_build() {
  local name=$1
  shift
  cmake -S "$kestlin_root" -B "$kestlin_root/build/$name" -G Ninja "$@"
  cmake --build "$kestlin_root/build/$name" -j "$(nproc)"
}
