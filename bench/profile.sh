#!/usr/bin/env bash
# Where the time of `quorvel -S` goes, on a generated installation:
#   - system calls: count and time of each (strace -c), fdatasync above all;
#   - CPU samples (perf record, cpu-clock: this machine's virtual CPU has no hardware
#     counters) by function, with SQLite built from Debian's own source with symbols;
#   - instruction counts by function, inclusive (callgrind) on a smaller installation, so
#     that our code, the script reading and each kind of SQLite work can be told apart.
#
#   bench/profile.sh [--size MIB] [--callgrind-size MIB] [--quorvel PATH]
#       defaults: 1000, 100, the default preset's quorvel
#
# Reports go to build/bench/profile/. SQLite is built once into build/bench/libsqlite
# (the amalgamation of the installed libsqlite3's Debian source, with Debian's options and
# -g) and preloaded through LD_LIBRARY_PATH, so quorvel runs unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

size=1000
cg_size=100
quorvel=$root/build/default/src/app/quorvel
while [ $# -gt 0 ]; do
    case $1 in
        --size) size=$2; shift 2 ;;
        --callgrind-size) cg_size=$2; shift 2 ;;
        --quorvel) quorvel=$(realpath "$2"); shift 2 ;;
        *) echo "usage: $0 [--size MIB] [--callgrind-size MIB] [--quorvel PATH]" >&2; exit 2 ;;
    esac
done

source scripts/lib/packages.sh
ensure_deb_src
ensure_packages cmake ninja-build g++ pkg-config libsqlite3-dev libgtest-dev sqlite3 python3 \
    time strace valgrind linux-perf dpkg-dev tcl
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target quorvel dbrtool | tail -n 1

work=$root/build/bench
out=$work/profile
mkdir -p "$out"

# SQLite with symbols: the same source and options as the system's libsqlite3.so.0.
version=$(dpkg-query -W -f='${source:Version}' libsqlite3-dev)
lib=$work/libsqlite/libsqlite3.so.0
if [ ! -f "$lib" ] || [ "$(cat "$work/libsqlite/source-version" 2>/dev/null)" != "$version" ]; then
    bash cmake/sqlite-amalgamation.sh "$work/sqlite-$version" "$version"
    mkdir -p "$work/libsqlite"
    echo "building $lib (about a minute)"
    # Debian's options (debian/rules), and what its configure finds on this system.
    gcc -O2 -g -fno-omit-frame-pointer -fPIC -shared -Wl,-soname,libsqlite3.so.0 -o "$lib" \
        "$work/sqlite-$version/sqlite3.c" \
        -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3 \
        -DSQLITE_ENABLE_FTS3_PARENTHESIS -DSQLITE_ENABLE_FTS3_TOKENIZER=1 -DSQLITE_ENABLE_FTS4 \
        -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1 \
        -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB \
        -DSQLITE_ALLOW_ROWID_IN_VIEW -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 \
        -DSQLITE_ENABLE_JSON1 -DSQLITE_ENABLE_MATH_FUNCTIONS -DSQLITE_LIKE_DOESNT_MATCH_BLOBS \
        -DSQLITE_THREADSAFE=1 -DSQLITE_USE_URI=1 -DSQLITE_MAX_SCHEMA_RETRY=25 \
        -DSQLITE_ENABLE_PREUPDATE_HOOK -DSQLITE_ENABLE_SESSION -DSQLITE_ENABLE_STMTVTAB \
        -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_TEMP_STORE=1 \
        -DHAVE_FDATASYNC=1 -DHAVE_USLEEP=1 -DHAVE_ISNAN=1 -DHAVE_LOCALTIME_R=1 \
        -DHAVE_GMTIME_R=1 -DHAVE_MALLOC_USABLE_SIZE=1 -DHAVE_STRCHRNUL=1 \
        -DHAVE_PREAD=1 -DHAVE_PWRITE=1 -DHAVE_PREAD64=1 -DHAVE_PWRITE64=1 \
        -lpthread -ldl -lm
    echo "$version" >"$work/libsqlite/source-version"
fi

installation() {
    /usr/bin/python3 bench/run.py --quorvel "$quorvel" \
        --dbrtool build/default/tools/dbrtool/dbrtool --vennic examples/demo/vennic.exe \
        --work "$work" --sizes "$1" --prepare-only
}

# A fresh copy of the installation, written out before anything is measured.
fresh() {
    local from=$1 to=$2
    rm -rf "$to"
    mkdir -p "$to"
    (cd "$from" && cp --parents upgrade.dbr vennic.exe $(/usr/bin/python3 -c \
        'import json,sys; print(" ".join(d["path"] for d in json.load(open("manifest.json"))["databases"]))') "$to/")
    cp "$quorvel" "$to/quorvel"
    sync
}

big=$(installation "$size")
run=$work/profile-run
export LD_LIBRARY_PATH=$work/libsqlite

echo "=== system calls, $size MiB (strace -c)"
fresh "$big" "$run"
(cd "$run" && strace -f -c -o "$out/strace.txt" ./quorvel -S </dev/null)
head -n 14 "$out/strace.txt"

echo "=== CPU samples, $size MiB (perf record -e cpu-clock)"
fresh "$big" "$run"
(cd "$run" && perf record -q -e cpu-clock -F 1999 --call-graph dwarf,16384 -o "$out/perf.data" \
    ./quorvel -S </dev/null)
perf report -i "$out/perf.data" --no-children --sort dso,symbol --stdio -g none 2>/dev/null |
    grep '%' >"$out/perf-self.txt"
perf report -i "$out/perf.data" --children --sort symbol --stdio -g none 2>/dev/null |
    grep '%' >"$out/perf-children.txt"
echo "--- self time by function (top 25): $out/perf-self.txt"
head -n 25 "$out/perf-self.txt"
/usr/bin/python3 bench/perf_buckets.py "$out/perf-self.txt" | tee "$out/perf-buckets.txt"

echo "=== instructions, $cg_size MiB (callgrind)"
small=$(installation "$cg_size")
fresh "$small" "$run"
(cd "$run" && valgrind -q --tool=callgrind --callgrind-out-file="$out/callgrind.out" \
    ./quorvel -S </dev/null)
callgrind_annotate --inclusive=yes --threshold=100 "$out/callgrind.out" 2>/dev/null \
    >"$out/callgrind-inclusive.txt"
callgrind_annotate --threshold=100 "$out/callgrind.out" 2>/dev/null >"$out/callgrind-self.txt"
echo "--- self (top 25): $out/callgrind-self.txt"
grep -E '^ *[0-9,]+ \(' "$out/callgrind-self.txt" | sed -n '2,26p' | sed -E 's/ \[[^]]*\]$//'
# The steps of a run, inclusive of the SQLite work each asks for.
echo "--- by step of the run (inclusive): $out/callgrind-inclusive.txt"
grep -E '^ *[0-9,]+ \(' "$out/callgrind-inclusive.txt" | grep -E '\[[^]]*/quorvel\]$' |
    grep -E 'CDBProcess::(Migrate|CheckScriptItems|PrepareDatabases|ApplyItems|ApplyTableItem|FinishDatabases)\(|CDBConnection::(CopyTable|CopyTableFrom|ExecuteDeferringIndexes|RunStatements|ExecuteAnsi|AddColumn|CreateTrigger|ExecuteWithAttached|TableExists|TriggerExists|ColumnExists|SetTableVersion|OpenDatabase)\(|CScriptFile::(Open|ReadItem)\(' |
    sed -E 's/\(std::__cxx11::basic_string<char16_t[^)]*\)/(...)/; s/std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >/std::string/g; s/ \[[^]]*\]$//; s/\(CDBProcess::RunState&[^)]*\)/(...)/'

rm -rf "$run"
