# Sourced by the setup scripts: install_missing TAG PACKAGE... installs, with apt-get, those of the
# Debian packages that are not installed yet, saying so under TAG.
install_missing() {
  local tag=$1 package
  shift
  local missing=()
  for package in "$@"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != *'install ok installed' ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]})) || return 0
  echo "$tag: installing ${missing[*]}"
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
