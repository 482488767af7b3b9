#!/usr/bin/env bash
# Remakes the demo's generated files from their sources: the client executable (needs
# MinGW: gcc-mingw-w64-i686) and the scrambled script (needs dbrtool, built by the
# default preset). Both are committed so that the demo needs neither; a test checks that
# upgrade.dbr is exactly what dbrtool makes of upgrade.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/../..

"$root/scripts/make_vennic_exe.sh" --minimal --file-version 8.1.0V2105 --product-version 8.1.0 \
    --value "ProductName=Vennic" --value "CompanyName=维尼克科技" "$here/vennic.exe"

QUORVEL_CODEPAGE=936 "$root/build/default/tools/dbrtool/dbrtool" encode \
    "$here/upgrade.txt" "$here/upgrade.dbr"
