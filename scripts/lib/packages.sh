# Installs Debian packages that are missing, for the project's scripts.
# Usage: . scripts/lib/packages.sh; ensure_packages NAME...

ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "Missing packages: ${missing[*]}" >&2
      echo "Install them as root: apt-get install ${missing[*]}" >&2
      return 1
    fi
  fi
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "Missing packages: ${missing[*]} (this script installs them only on Debian or Ubuntu)" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}" >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}" >&2
}
