#!/usr/bin/env bash
# Generates SQLite's amalgamation (sqlite3.c, sqlite3.h, sqlite3ext.h) from Debian's
# sqlite3 source package, with Debian's patches applied, so that the Windows build runs
# the same SQLite as the native one.
#
# usage: sqlite-amalgamation.sh OUTPUT_DIR [DEBIAN_VERSION]
#
# Does nothing when OUTPUT_DIR already holds an amalgamation (the generated files are a
# cache: removing the folder makes the next build generate them again). Needs a deb-src
# entry for `apt-get source`, dpkg-dev, tclsh and a host C compiler; scripts/test.sh
# installs them.
set -euo pipefail

out=${1:?usage: sqlite-amalgamation.sh OUTPUT_DIR [DEBIAN_VERSION]}
version=${2:-}

if [ -f "$out/sqlite3.c" ] && [ -f "$out/sqlite3.h" ] && [ -f "$out/source-version" ]; then
    exit 0
fi

for tool in apt-get dpkg-source tclsh make cc; do
    if ! command -v "$tool" >/dev/null; then
        echo "sqlite-amalgamation: '$tool' is missing (run scripts/test.sh once)" >&2
        exit 1
    fi
done

parent=$(dirname "$out")
mkdir -p "$parent"
work=$(mktemp -d "$parent/.sqlite3-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fetch() { apt-get source --download-only -q "$@" >fetch.log 2>&1; }
# The version of the installed library first; the archive keeps only current versions, so
# fall back to the newest source when that one is gone.
if ! { [ -n "$version" ] && fetch "sqlite3=$version"; } && ! fetch sqlite3; then
    cat fetch.log >&2
    echo "sqlite-amalgamation: apt-get source failed (is there a deb-src entry?)" >&2
    exit 1
fi

dsc=$(ls sqlite3_*.dsc)
dpkg-source -x --no-check "$dsc" src >extract.log 2>&1 || { cat extract.log >&2; exit 1; }
mkdir build
cd build
# The generator tools run on this machine: build them with the host compiler, whatever
# the calling build uses.
env -u CFLAGS -u CPPFLAGS -u LDFLAGS CC=cc ../src/configure --disable-tcl >configure.log 2>&1 ||
    { cat configure.log >&2; exit 1; }
make sqlite3.c >make.log 2>&1 || { tail -50 make.log >&2; exit 1; }

# Publish all files at once, so that an interrupted run leaves no half amalgamation.
mkdir ../result
cp sqlite3.c sqlite3.h ../src/src/sqlite3ext.h ../result/
sed -n 's/^Version: //p' "../$dsc" | head -1 >../result/source-version
rm -rf "$out"
mv ../result "$out"
echo "sqlite-amalgamation: SQLite $(cat "$out/source-version") in $out"
