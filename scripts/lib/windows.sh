# What the Windows leg needs on a Debian 12 machine: the MinGW-w64 cross compilers, Wine
# with its 32-bit half, the Simplified Chinese locale the tests run in, and Debian's
# sqlite3 source, from which the build generates SQLite's amalgamation. Also the tools
# the dialog's screenshot needs (Xvfb, xdotool, ImageMagick, a CJK font, Wine's own
# fonts), and NSIS, which builds the example installer the tests run. Sourced after
# packages.sh.

ensure_windows_tools() {
    ensure_architecture i386
    ensure_deb_src
    # googletest: its source in /usr/src/googletest is built by the cross build.
    ensure_packages g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
        wine wine32:i386 locales tcl dpkg-dev googletest \
        xvfb xdotool imagemagick fonts-wqy-microhei fonts-wine nsis
    ensure_locale zh_CN.UTF-8
    # `apt-get source` needs the source lists even when every package was there already.
    if ! apt-cache showsrc sqlite3 2>/dev/null | grep -q '^Package: sqlite3'; then
        _apt_updated=0
        _apt_update_once
    fi
}
