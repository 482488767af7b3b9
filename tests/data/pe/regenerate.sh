#!/usr/bin/env bash
# Remakes the executables of this folder (needs MinGW: gcc-mingw-w64-i686). They are
# committed so that the tests need no MinGW; run this only to change them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
make_exe="$here/../../../scripts/make_vennic_exe.sh"

# The client as the program expects it: table 080403A8, FileVersion with a V.
"$make_exe" --file-version 8.0.0V1203 --product-version 8.0.0 \
    --value "ProductName=Vennic" "$here/vennic-8.0.0V1203.exe"

# Only an English table: the program's table is missing.
"$make_exe" --table 040904B0 --file-version 9.1.0V77 --product-version 9.1.0 \
    "$here/vennic-040904B0.exe"

# No version resource at all.
"$make_exe" --no-version "$here/vennic-no-version.exe"

# Chinese texts, in the second of two tables.
"$make_exe" --table 040904B0 --file-version 8.1.0V2001 --product-version 8.1.0 \
    --table 080403A8 --file-version 8.1.0测试版V2001 --product-version "8.1.0 正式版" \
    --value "CompanyName=维尼克科技" "$here/vennic-chinese.exe"

# No C run-time: another section layout, and the smallest file.
"$make_exe" --minimal --file-version 7.5.0.12 --product-version 7.5.0 \
    "$here/vennic-minimal.exe"

# Two version resources, English first (as the resource directory sorts them) and Chinese
# second, each with its own table: Windows reads the Chinese one on a Chinese system.
"$make_exe" --language 0409 --table 040904B0 --file-version 9.9.9V9999 --product-version 9.9.9 \
    --language 0804 --table 080403A8 --file-version 8.1.0V2105 --product-version 8.1.0 \
    "$here/vennic-two-languages.exe"
