#!/usr/bin/env python3
"""Sums a flat perf profile (perf report --no-children --sort dso,symbol --stdio -g none)
into the kinds of work a migration does.

    perf_buckets.py perf-self.txt
"""

import re
import sys

# "  13.46%  [kernel.kallsyms]  [k] copy_folio_from_iter_atomic  -  -": share, object,
# kind (k: kernel), function (C++ names cut at the first blank: enough to tell them apart).
LINE = re.compile(r"^\s*([\d.]+)%\s+(\S+)\s+\[(.)\]\s+(\S+)")

# (bucket, test on the symbol) for SQLite's own functions, first match wins.
SQLITE = [
    ("SQLite sorter (CREATE INDEX, GROUP BY)", lambda s: "Sorter" in s or s.startswith(
        ("vdbeSorter", "vdbePmaReader", "vdbeMergeEngine", "vdbeIncr", "vdbePma"))),
    ("SQLite B-tree (cells, pages, balance)", lambda s: "tree" in s.lower() or s.startswith(
        ("balance", "moveTo", "insertCell", "fillInCell", "dropCell", "cellSize", "allocate",
         "defragment", "computeCellSize", "pageInsertArray", "rebuildPage", "editPage",
         "assemblePage", "copyNodeContent", "clearCell", "freePage", "ptrmap", "getAndInitPage",
         "decodeFlags", "accessPayload", "getOverflowPage", "copyPayload", "fetchPayload",
         "indexCellCompare", "saveAllCursors", "saveCursor", "freeSpace", "pageFreeArray"))),
    ("SQLite pager and page cache", lambda s: s.lower().startswith(
        ("pager", "sqlite3pager", "pcache", "sqlite3pcache", "readdbpage", "syncjournal",
         "write_journal", "subjournal", "addtosavepoint", "pagerstress", "getpagenormal",
         "sqlite3pagerget", "pagerwrite", "pager_write", "sqlite3bitvec", "bitvec"))),
    ("SQLite OS layer", lambda s: s.startswith(("unix", "seekAndRead", "seekAndWrite", "robust_",
                                                "full_fsync", "sqlite3Os"))),
    ("SQLite parsing and planning", lambda s: s.startswith(
        ("sqlite3Parser", "sqlite3RunParser", "sqlite3GetToken", "yy", "sqlite3Select",
         "sqlite3Expr", "where", "sqlite3Where", "sqlite3Prepare", "sqlite3LockAndPrepare",
         "sqlite3Init", "sqlite3StartTable", "sqlite3EndTable", "sqlite3CreateIndex",
         "sqlite3Insert", "sqlite3Update", "sqlite3Resolve", "resolve", "sqlite3Fix",
         "sqlite3Trigger", "sqlite3Walk", "walkExpr", "keywordCode", "sqlite3Schema",
         "sqlite3Delete", "sqlite3Locate", "sqlite3Find", "sqlite3HashFind", "findElementWithHash",
         "sqlite3StrICmp", "sqlite3_strnicmp", "sqlite3Column", "sqlite3AddColumn",
         "xferOptimization", "sqlite3AlterFinishAddColumn"))),
    ("SQLite records and VDBE", lambda s: s.startswith(
        ("sqlite3Vdbe", "vdbe", "sqlite3GetVarint", "sqlite3PutVarint", "serialGet",
         "sqlite3MemCompare", "sqlite3VarintLen", "sqlite3_step", "sqlite3Step",
         "sqlite3ValueText", "sqlite3Mem", "sqlite3RecordCompare", "sqlite3BlobCompare",
         "sqlite3IntFloatCompare", "sqlite3AtoF", "sqlite3Atoi", "applyNumericAffinity",
         "applyAffinity", "sqlite3_value", "sqlite3VListNum", "out2Prerelease", "allocateCursor",
         "sqlite3RowSet", "sqlite3Utf8", "sqlite3Get4byte", "sqlite3Put4byte"))),
]


def bucket(dso, kind, sym):
    if kind == "k":
        if any(w in sym for w in ("copy_", "_copy", "filemap", "folio", "page_cache",
                                  "generic_perform", "clear_page", "memcpy", "memset")):
            return "kernel: copying file data to and from the page cache"
        if any(w in sym for w in ("ext4", "jbd2", "sync", "blk", "virtio", "bio", "writeback",
                                  "submit", "mpage")):
            return "kernel: file system, journal and sync"
        return "kernel: other (system call entry, locks, scheduling)"
    if "sqlite" in dso:
        for name, test in SQLITE:
            if test(sym):
                return name
        if sym.startswith(("sqlite3Malloc", "sqlite3_free", "sqlite3DbFree", "sqlite3DbMalloc",
                           "sqlite3Realloc", "sqlite3_malloc", "sqlite3MemMalloc",
                           "sqlite3MemFree", "sqlite3MemSize", "measureAllocationSize",
                           "sqlite3DbRealloc", "sqlite3_realloc", "dbMalloc", "mallocWith",
                           "sqlite3MallocSize", "sqlite3DbMallocSize", "sqlite3DbNNFree")):
            return "SQLite memory allocation"
        return "SQLite other"
    if dso.startswith("libc"):
        if "mem" in sym or "str" in sym:
            return "libc memcpy/memmove/memset/str* (called by SQLite)"
        return "libc other (malloc, free, system call stubs)"
    if dso.startswith("libstdc++") or dso == "quorvel":
        return "quorvel's own code (script reading, conversions, driver)"
    return f"other: {dso}"


def main():
    totals = {}
    for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
        m = LINE.match(line)
        if not m:
            continue
        share, dso, kind, sym = float(m.group(1)), m.group(2), m.group(3), m.group(4)
        name = bucket(dso, kind, sym)
        totals[name] = totals.get(name, 0.0) + share
    print("--- CPU samples by kind of work")
    for name, share in sorted(totals.items(), key=lambda x: -x[1]):
        print(f"{share:6.1f}%  {name}")


if __name__ == "__main__":
    main()
