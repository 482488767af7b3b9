#!/usr/bin/env bash
# Builds a small Windows executable with a version resource, with MinGW's windres and gcc.
# Tests, the demo and end-to-end runs use it to stand in for the client's vennic.exe.
#
#   scripts/make_vennic_exe.sh [options] OUTPUT.exe
#
#   --file-version TEXT      FileVersion of the current string table
#   --product-version TEXT   ProductVersion of the current string table
#   --value NAME=TEXT        any other value of the current string table (repeatable)
#   --table KEY              starts another string table (8 hex digits, language and code
#                            page); the first table is 080403A8 unless --table comes first
#   --language LANG          starts another version resource, in the language LANG (4 hex
#                            digits), for the tables that follow; without it there is one,
#                            in the language of its first table
#   --no-version             no version resource at all
#   --minimal                no C run-time: a few kB instead of about fifteen
#   --arch i686|x86_64       32-bit (default) or 64-bit (needs x86_64-w64-mingw32-*)
#
# Values are UTF-8 (Chinese is fine). The numeric FILEVERSION and PRODUCTVERSION of each
# resource come from the first four numbers of its first FileVersion and ProductVersion. The output is byte-for-byte the same
# for the same options and tools.
set -euo pipefail

usage() {
    sed -n "2,21p" "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

arch=i686
minimal=0
with_version=1
output=
# One entry per string table: its key, its VALUE lines and the version resource it is in.
keys=()
bodies=()
table_resource=()
# One entry per version resource: its language (empty: its first table's) and the texts
# its numeric versions come from.
languages=("")
file_versions=("")
product_versions=("")

current_resource() { echo $((${#languages[@]} - 1)); }

current_table() {
    local resource
    resource=$(current_resource)
    if [ "${#keys[@]}" -eq 0 ] || [ "${table_resource[-1]}" -ne "$resource" ]; then
        keys+=("080403A8")
        bodies+=("")
        table_resource+=("$resource")
    fi
}

# rc string literal: a quote doubles, a backslash escapes itself.
rc_string() {
    local s=${1//\\/\\\\}
    printf '"%s"' "${s//\"/\"\"}"
}

add_value() {
    current_table
    local last=$((${#keys[@]} - 1)) resource
    resource=$(current_resource)
    bodies[$last]+="      VALUE $(rc_string "$1"), $(rc_string "$2")"$'\n'
    if [ "$1" = FileVersion ] && [ -z "${file_versions[$resource]}" ]; then
        file_versions[$resource]=$2
    fi
    if [ "$1" = ProductVersion ] && [ -z "${product_versions[$resource]}" ]; then
        product_versions[$resource]=$2
    fi
}

while [ $# -gt 0 ]; do
    case "$1" in
        --file-version) [ $# -ge 2 ] || usage; add_value FileVersion "$2"; shift 2 ;;
        --product-version) [ $# -ge 2 ] || usage; add_value ProductVersion "$2"; shift 2 ;;
        --value)
            [ $# -ge 2 ] && [[ "$2" == *=* ]] || usage
            add_value "${2%%=*}" "${2#*=}"
            shift 2
            ;;
        --table)
            [ $# -ge 2 ] && [[ "$2" =~ ^[0-9A-Fa-f]{8}$ ]] || usage
            keys+=("$2")
            bodies+=("")
            table_resource+=("$(current_resource)")
            shift 2
            ;;
        --language)
            [ $# -ge 2 ] && [[ "$2" =~ ^[0-9A-Fa-f]{4}$ ]] || usage
            if [ "${#keys[@]}" -eq 0 ] && [ -z "${languages[0]}" ]; then
                languages[0]=$2
            else
                languages+=("$2")
                file_versions+=("")
                product_versions+=("")
            fi
            shift 2
            ;;
        --no-version) with_version=0; shift ;;
        --minimal) minimal=1; shift ;;
        --arch)
            [ $# -ge 2 ] && [[ "$2" =~ ^(i686|x86_64)$ ]] || usage
            arch=$2
            shift 2
            ;;
        -h | --help) usage ;;
        -*) echo "unknown option: $1" >&2; usage ;;
        *) [ -z "$output" ] || usage; output=$1; shift ;;
    esac
done
[ -n "$output" ] || usage

windres=$arch-w64-mingw32-windres
gcc=$arch-w64-mingw32-gcc
for tool in "$windres" "$gcc"; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed (Debian: gcc-mingw-w64-${arch//_/-})" >&2
        exit 3
    fi
done

# "8.0.0V1203" gives 8,0,0,1203; missing numbers are 0.
version_numbers() {
    local numbers=() out=() i v
    mapfile -t numbers < <(printf '%s' "$1" | grep -oE '[0-9]+' | head -n 4)
    for i in 0 1 2 3; do
        v=${numbers[$i]:-0}
        if [ "${#v}" -gt 5 ]; then v=65535; else v=$((10#$v)); fi
        [ "$v" -le 65535 ] || v=65535
        out+=("$v")
    done
    (IFS=,; printf '%s' "${out[*]}")
}

work=$(mktemp -d "${TMPDIR:-/tmp}/make-vennic-exe-XXXXXX")
trap 'rm -rf "$work"' EXIT

objects=()
if [ "$with_version" -eq 1 ]; then
    echo '#pragma code_page(65001)' >"$work/version.rc"
    for resource in "${!languages[@]}"; do
        if [[ " ${table_resource[*]} " != *" $resource "* ]]; then
            keys+=("080403A8")  # a resource given no table gets an empty default one
            bodies+=("")
            table_resource+=("$resource")
        fi
        translations=
        first_key=
        for i in "${!keys[@]}"; do
            [ "${table_resource[$i]}" -eq "$resource" ] || continue
            key=${keys[$i]}
            first_key=${first_key:-$key}
            translations+="${translations:+, }0x${key:0:4}, 0x${key:4:4}"
        done
        language=$((16#${languages[$resource]:-${first_key:0:4}}))
        {
            echo "LANGUAGE $((language & 0x3FF)), $((language >> 10))"
            echo '1 VERSIONINFO'
            echo "FILEVERSION $(version_numbers "${file_versions[$resource]}")"
            echo "PRODUCTVERSION $(version_numbers "${product_versions[$resource]}")"
            echo 'FILEFLAGSMASK 0x3F'
            echo 'FILEFLAGS 0x0'
            echo 'FILEOS 0x40004'
            echo 'FILETYPE 0x1'
            echo 'FILESUBTYPE 0x0'
            echo 'BEGIN'
            echo '  BLOCK "StringFileInfo"'
            echo '  BEGIN'
            for i in "${!keys[@]}"; do
                [ "${table_resource[$i]}" -eq "$resource" ] || continue
                echo "    BLOCK \"${keys[$i]}\""
                echo '    BEGIN'
                printf '%s' "${bodies[$i]}"
                echo '    END'
            done
            echo '  END'
            echo '  BLOCK "VarFileInfo"'
            echo '  BEGIN'
            echo "    VALUE \"Translation\", $translations"
            echo '  END'
            echo 'END'
        } >>"$work/version.rc"
    done
    "$windres" -c 65001 -O coff -o "$work/version.o" "$work/version.rc"
    objects+=("$work/version.o")
fi

flags=(-Os -s -Wl,--no-insert-timestamp)
if [ "$minimal" -eq 1 ]; then
    echo 'int start(void) { return 0; }' >"$work/main.c"
    entry=start
    [ "$arch" = x86_64 ] || entry=_start
    flags+=(-nostdlib -nostartfiles "-Wl,-e,$entry")
else
    echo 'int main(void) { return 0; }' >"$work/main.c"
fi
"$gcc" "${flags[@]}" -o "$work/out.exe" "$work/main.c" "${objects[@]}"
mkdir -p "$(dirname "$output")"
mv "$work/out.exe" "$output"
chmod 644 "$output"  # data, not a program to run here
