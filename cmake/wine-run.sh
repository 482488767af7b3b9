#!/usr/bin/env bash
# Runs a Windows program under Wine, as the cross build's test emulator.
#
# usage: wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]
#
# PREFIX_DIR is a private Wine prefix, made on first use (32-bit, ~5 s); ctest starts
# several programs at once, so it is made once under a lock. Programs run with the
# Simplified Chinese locale, which gives them the ANSI code page 936.
#
# Windows of a prefix go nowhere by default: Wine's null display driver makes them and
# delivers their messages without any X server, so that tests can drive dialogs. With
# QUORVEL_WINE_DESKTOP=WIDTHxHEIGHT they are shown on $DISPLAY inside one Wine virtual
# desktop of that size, where they get captions and frames without a window manager. A
# prefix keeps the mode it was last set up for; use one prefix per mode.
set -euo pipefail

prefix=${1:?usage: wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]}
shift

export WINEPREFIX=$prefix
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# Wine takes the code page from the locale's name; glibc needs the locale itself, or it
# treats file names as ASCII and every non-ASCII name fails.
export LC_ALL=zh_CN.UTF-8
# No Mono or Gecko download prompts in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

has_locale() { locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; }
locale_dir=$prefix.locale
mode=display-${QUORVEL_WINE_DESKTOP:-none}
prefix_ready() { [ -f "$prefix/.ready" ] && [ "$(cat "$prefix/.ready")" = "$mode" ]; }

# Where the prefix's windows go (see above). Wine reads these settings when a desktop is
# first made, so the prefix's processes must have ended before they count.
set_display() {
    if [ "${QUORVEL_WINE_DESKTOP:-}" ]; then
        wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
            /d "$QUORVEL_WINE_DESKTOP" /f
    else
        wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    fi
    wineserver -w
}

mkdir -p "$(dirname "$prefix")"
if ! prefix_ready || { ! has_locale && [ ! -d "$locale_dir/zh_CN.UTF-8" ]; }; then
    exec 9>"$prefix.lock"
    flock 9
    # Without root there is no locale-gen: compile the locale into the build tree.
    if ! has_locale && [ ! -d "$locale_dir/zh_CN.UTF-8" ]; then
        mkdir -p "$locale_dir"
        rm -rf "$locale_dir/new"
        localedef -i zh_CN -f UTF-8 "$locale_dir/new" >/dev/null 2>&1 || true
        if [ -d "$locale_dir/new" ]; then
            mv "$locale_dir/new" "$locale_dir/zh_CN.UTF-8"
        else
            echo "wine-run: cannot make the zh_CN.UTF-8 locale; non-ASCII file names will fail" >&2
        fi
    fi
    has_locale || export LOCPATH=$locale_dir
    if [ ! -f "$prefix/.ready" ]; then
        rm -rf "$prefix"
        if ! wineboot --init </dev/null >"$prefix.log" 2>&1; then
            cat "$prefix.log" >&2
            echo "wine-run: cannot make the Wine prefix $prefix (is wine32:i386 installed?)" >&2
            exit 1
        fi
        # Debian's Wine does not install its Marlett font into a new prefix: without it
        # caption buttons are drawn as letters.
        if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
            cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
        fi
        touch "$prefix/.ready"
    fi
    if ! prefix_ready; then
        # A failing `reg delete` only means the value was not there.
        set_display >>"$prefix.log" 2>&1 || true
        echo "$mode" >"$prefix/.ready"
    fi
    exec 9>&-
fi
has_locale || export LOCPATH=$locale_dir

# Wine's background services inherit the output of whoever starts them and would hold
# ctest's pipe open for seconds after the test ends: start them detached first.
wineboot </dev/null >/dev/null 2>&1
exec wine "$@"
