#!/usr/bin/env bash
# Checks that every executable of the Windows build runs with no DLL beside it: each DLL
# it imports must be one that Windows itself provides. A MinGW runtime DLL
# (libstdc++-6.dll, libgcc_s_dw2-1.dll, libwinpthread-1.dll) means something was linked
# dynamically.
#
# usage: check-imports.sh OBJDUMP BUILD_DIR
set -euo pipefail

objdump=${1:?usage: check-imports.sh OBJDUMP BUILD_DIR}
build=${2:?usage: check-imports.sh OBJDUMP BUILD_DIR}

# Windows' own DLLs the program may use; add one here when a new Win32 API needs it.
allowed=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
 oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll ws2_32.dll "
# One space between names, so that the name ending a line matches too.
allowed=" $(echo $allowed) "

checked=0
failed=0
while IFS= read -r -d '' exe; do
    checked=$((checked + 1))
    while read -r dll; do
        name=$(echo "$dll" | tr 'A-Z' 'a-z')
        if [[ "$allowed" != *" $name "* ]]; then
            echo "${exe#"$build"/} imports $dll, which Windows does not provide"
            failed=1
        fi
    done < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
done < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' -not -path "$build/wine/*" \
    -not -path "$build/wine-*/*" -print0)

if [ "$checked" -eq 0 ]; then
    echo "no executables found under $build"
    exit 1
fi
if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "$checked executables import only Windows' own DLLs"
