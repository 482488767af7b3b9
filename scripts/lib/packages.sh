# Installs the named Debian packages that are not installed yet (apt-get, as root or
# through sudo), and the system settings some of them need. Sourced by the project's
# scripts.

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

_is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# ensure_packages pkg...: installs those of the packages that are missing. A package of a
# foreign architecture is named as dpkg names it (wine32:i386).
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        _is_installed "$pkg" || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "installing: ${missing[*]}"
        _apt_update_once
        _as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# ensure_architecture arch: lets dpkg install packages of a second architecture (Wine's
# 32-bit half needs i386). The package lists are read again before the next install.
ensure_architecture() {
    local arch=$1
    if [ "$(dpkg --print-architecture)" != "$arch" ] &&
        ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        echo "adding architecture: $arch"
        _as_root dpkg --add-architecture "$arch"
        _apt_updated=0
    fi
}

# ensure_deb_src: makes `apt-get source` work by adding a source entry for every binary
# entry of the system's Debian sources (deb822 format, as Debian 12 installs them).
ensure_deb_src() {
    local list=/etc/apt/sources.list.d/debian.sources
    local src=/etc/apt/sources.list.d/debian-src.sources
    [ -f "$src" ] && return 0
    if [ ! -f "$list" ]; then
        echo "no $list: add a deb-src entry by hand for apt-get source" >&2
        return 1
    fi
    grep -q '^Types:.*deb-src' "$list" && return 0
    echo "adding source entries: $src"
    sed 's/^Types:.*/Types: deb-src/' "$list" | _as_root tee "$src" >/dev/null
    _apt_updated=0
}

# ensure_locale name: generates a locale such as zh_CN.UTF-8 when it is missing.
ensure_locale() {
    local name=$1
    local normal
    normal=$(echo "$name" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
    if locale -a 2>/dev/null | tr 'A-Z' 'a-z' | grep -qx "$normal"; then
        return 0
    fi
    ensure_packages locales
    echo "generating locale: $name"
    if ! grep -q "^$name " /etc/locale.gen 2>/dev/null; then
        echo "$name ${name#*.}" | _as_root tee -a /etc/locale.gen >/dev/null
    fi
    _as_root locale-gen
}
