# Installs the named Debian packages that are not installed yet (apt-get, as root or
# through sudo). Sourced by the project's scripts.

_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

_apt_updated=0
_apt_update_once() {
    if [ "$_apt_updated" -eq 0 ]; then
        _as_root apt-get update -q
        _apt_updated=1
    fi
}

# ensure_packages pkg...: installs those of the packages that are missing.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "installing: ${missing[*]}"
        _apt_update_once
        _as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}
