#!/usr/bin/env python3
"""Measures a migration of a large installation four ways, on the same files:

    a  quorvel -S                       the program, in the installation folder
    b  sqlite3 shell, same statements   set aside, fresh file, ATTACH, INSERT ... SELECT per
                                        table in the same transactions, the same ALTER,
                                        trigger, SQLONE and SQLTWO statements, the version row
    c  VACUUM INTO                      each database into a new file (sqlite3 shell)
    d  cp                               the three files

Each method runs on a fresh copy of the generated installation, written out and synced
before the clock starts. Repetitions interleave the methods (a b c d, b c d a, ...) so
that drift of the machine hits all of them alike; the figures are medians. For every run
the child's wall time, CPU time (user + system) and peak memory (maximum resident set)
are taken (the last two by GNU time, from wait4). The rows a and b produce are compared
table by table (SHA3 of each table's rows in rowid order, and of the schema).

Other builds of quorvel can run beside a, as methods "a:NAME" (--variant NAME=PATH, with
--variant-env NAME=VAR=VALUE for their environment): they are timed and checked against b
the same way.

    run.py --quorvel PATH --dbrtool PATH --vennic PATH --sizes 100,300,1000 --reps 3
           --work DIR --json OUT.json [--plot OUT.png] [--extra-items 0,10000]
           [--variant NAME=PATH ...] [--methods abcd]
"""

import argparse
import datetime
import hashlib
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TIME = "/usr/bin/time"  # GNU time (Debian package "time")
LABELS = {
    "a": "quorvel -S",
    "b": "sqlite3 shell, same statements",
    "c": "VACUUM INTO",
    "d": "cp",
}

CHECKSUM_SQL = """
SELECT name, (SELECT 0),
       hex(sha3_query(printf('SELECT %s* FROM "%w"%s',
                             CASE WHEN wr THEN '' ELSE 'rowid, ' END, name,
                             CASE WHEN wr THEN '' ELSE ' ORDER BY rowid' END)))
  FROM pragma_table_list
 WHERE schema = 'main' AND type = 'table' AND name NOT IN ('sqlite_schema', 'sqlite_temp_schema')
 ORDER BY name;
SELECT '(schema)', 0, hex(sha3_query('SELECT type, name, tbl_name, sql FROM sqlite_schema
                                       ORDER BY type, name'));
"""


def log(text):
    print(text, file=sys.stderr, flush=True)


def label(method):
    if method.startswith("a:"):
        return f"quorvel -S ({method[2:]})"
    return LABELS[method]


def run_measured(argv, cwd, stdin_path=None, env=None):
    """Runs argv as a child and returns (exit status, wall s, cpu s, max rss KiB).

    The child is started by GNU time, which reports the child's own CPU time and peak
    memory: a child forked straight from this Python process would be charged with
    Python's memory (Linux carries the peak resident set across fork and exec)."""
    report = os.path.join(cwd, ".measure")
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        child = subprocess.run([TIME, "-f", "%U %S %M", "-o", report] + argv, cwd=cwd,
                               stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               env=dict(os.environ, **env) if env else None)
        wall = time.perf_counter() - start
    finally:
        if stdin_path:
            stdin.close()
    with open(report) as f:
        user, system, rss = f.read().splitlines()[-1].split()
    os.remove(report)
    if child.returncode != 0:
        log(f"  {' '.join(argv)}: exit status {child.returncode}\n"
            f"{child.stderr.decode(errors='replace')}")
    return child.returncode, wall, float(user) + float(system), int(rss)


def generator_stamp():
    with open(os.path.join(HERE, "generate.py"), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:12]


def ensure_installation(args, size, extra):
    """The generated installation for `size` MiB and `extra` added script items, made once
    per version of the generator."""
    stem = f"install-{size:g}mib" + (f"-{extra}items" if extra else "") + "-"
    folder = os.path.join(args.work, stem + generator_stamp())
    if not os.path.exists(os.path.join(folder, "manifest.json")):
        for old in os.listdir(args.work):
            if old.startswith(stem):
                shutil.rmtree(os.path.join(args.work, old))
        log(f"generating {size:g} MiB installation in {folder}")
        subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), "--size-mib",
                        str(size), "--extra-items", str(extra), "--dbrtool", args.dbrtool,
                        "--vennic", args.vennic, folder], check=True)
    with open(os.path.join(folder, "manifest.json")) as f:
        return folder, json.load(f)


def fresh_copy(source, manifest, target, quorvel):
    """The installation as the client left it, in `target`, on disk before timing starts."""
    if os.path.exists(target):
        shutil.rmtree(target)
    os.makedirs(target)
    for name in ("upgrade.dbr", "vennic.exe"):
        shutil.copyfile(os.path.join(source, name), os.path.join(target, name))
    for db in manifest["databases"]:
        dest = os.path.join(target, db["path"])
        os.makedirs(os.path.dirname(dest) or target, exist_ok=True)
        shutil.copyfile(os.path.join(source, db["path"]), dest)
    if quorvel:
        shutil.copy2(quorvel, os.path.join(target, "quorvel"))
    os.sync()


def method_a(folder, manifest, args, installation, method="a"):
    return run_measured([os.path.join(folder, "quorvel"), "-S"], folder,
                        env=args.environments.get(method))


def method_b(folder, manifest, args, installation, method="b"):
    start = time.perf_counter()
    for db in manifest["databases"]:
        path = os.path.join(folder, db["path"])
        os.rename(path, path + ".tmp")
    status, _, cpu, rss = run_measured([args.sqlite3, "-batch"], folder,
                                       stdin_path=os.path.join(installation, "reference.sql"))
    for db in manifest["databases"]:
        os.remove(os.path.join(folder, db["path"]) + ".tmp")
    return status, time.perf_counter() - start, cpu, rss


def method_c(folder, manifest, args, installation, method="c"):
    script = os.path.join(folder, "vacuum.sql")
    with open(script, "w") as f:
        f.write(".bail on\n")
        for db in manifest["databases"]:
            f.write(f".open '{db['path']}'\nVACUUM INTO '{db['path']}.vacuum';\n")
    return run_measured([args.sqlite3, "-batch"], folder, stdin_path=script)


def method_d(folder, manifest, args, installation, method="d"):
    os.makedirs(os.path.join(folder, "copy"))
    return run_measured(["cp", "-t", "copy"] + [db["path"] for db in manifest["databases"]],
                        folder)


RUNNERS = {"a": method_a, "b": method_b, "c": method_c, "d": method_d}


def check_migrated(folder, manifest, args):
    """Problems with the result of a or b: every database migrated, no file left aside."""
    problems = []
    for db in manifest["databases"]:
        path = os.path.join(folder, db["path"])
        version = subprocess.run(
            [args.sqlite3, path, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'"],
            capture_output=True, text=True).stdout.strip()
        if version != manifest["new_version"]:
            problems.append(f"{db['path']}: version {version!r}")
        base = os.path.basename(path)
        for name in os.listdir(os.path.dirname(path)):
            if name.startswith(base + ".") or name.startswith(base + "-"):
                problems.append(f"left beside {db['path']}: {name}")
    return problems


def checksums(folder, manifest, args):
    """{database: {table: sha3}} of a migrated installation."""
    out = {}
    for db in manifest["databases"]:
        rows = subprocess.run([args.sqlite3, "-separator", "\t", os.path.join(folder, db["path"])],
                              input=CHECKSUM_SQL, capture_output=True, text=True, check=True)
        out[db["path"]] = dict(line.split("\t")[0::2] for line in rows.stdout.splitlines())
    return out


def differences(mine, theirs):
    out = []
    for db, tables in theirs.items():
        for table, digest in tables.items():
            if mine.get(db, {}).get(table) != digest:
                out.append(f"{db}:{table}")
        out += [f"{db}:{t} (extra)" for t in mine.get(db, {}) if t not in tables]
    return out


def summary(sums):
    """Per database: how many tables were compared and one digest over their checksums."""
    return {db: {"tables": len(tables) - ("(schema)" in tables),
                 "sha256": hashlib.sha256(json.dumps(tables, sort_keys=True).encode())
                 .hexdigest()}
            for db, tables in sums.items()}


def median_of(runs, key):
    return statistics.median(r[key] for r in runs)


def measure(args, size, extra):
    installation, manifest = ensure_installation(args, size, extra)
    total = manifest["total_bytes"]
    log(f"=== {total / 2**20:.0f} MiB, {manifest['items']} script items: {manifest['tables']} "
        f"tables, {manifest['rows']} rows; {args.reps} runs of each method")
    methods = args.methods
    runs = {m: [] for m in methods}
    sums = {}
    failures = []
    target = os.path.join(args.work, "run")
    for rep in range(args.reps):
        order = methods[rep % len(methods):] + methods[:rep % len(methods)]
        for m in order:
            fresh_copy(installation, manifest, target, args.binaries.get(m))
            status, wall, cpu, rss = RUNNERS[m[0]](target, manifest, args, installation, m)
            runs[m].append({"wall_s": round(wall, 4), "cpu_s": round(cpu, 4), "max_rss_kib": rss,
                            "status": status})
            log(f"  run {rep + 1} {label(m):<34} {wall:7.2f} s wall, {cpu:7.2f} s CPU, "
                f"{rss / 1024:6.1f} MiB peak" + ("" if status == 0 else f", EXIT {status}"))
            if status != 0:
                failures.append(f"{m} run {rep + 1}: exit status {status}")
            if m[0] in "ab" and status == 0:
                failures += [f"{m} run {rep + 1}: {p}"
                             for p in check_migrated(target, manifest, args)]
                # A method gives the same rows every time: its first run is checked, unless
                # asked otherwise.
                if m not in sums or args.check_every_run:
                    got = checksums(target, manifest, args)
                    if m in sums and got != sums[m]:
                        failures.append(f"{m} run {rep + 1}: rows differ from its first run")
                    sums.setdefault(m, got)
    shutil.rmtree(target, ignore_errors=True)

    identical = {}
    if "b" in sums:
        for m in sums:
            if m[0] != "a":
                continue
            diff = differences(sums[m], sums["b"])
            identical[m] = not diff
            log(f"  rows of {m} and b: " + ("identical in every table" if not diff else
                                            "DIFFER in " + ", ".join(diff)))
            if diff:
                failures.append(f"{m} and b differ: " + ", ".join(diff))

    medians = {m: {"wall_s": round(median_of(r, "wall_s"), 4),
                   "wall_s_range": [min(x["wall_s"] for x in r), max(x["wall_s"] for x in r)],
                   "cpu_s": round(median_of(r, "cpu_s"), 4),
                   "max_rss_kib": int(median_of(r, "max_rss_kib")),
                   "max_rss_kib_highest": max(x["max_rss_kib"] for x in r)}
               for m, r in runs.items()}
    ratios = {}
    for a in (m for m in methods if m[0] == "a"):
        for other in ("b", "c", "d"):
            if other in medians and medians[other]["wall_s"] > 0:
                ratios[f"{a}/{other}"] = round(medians[a]["wall_s"] / medians[other]["wall_s"],
                                               3)
    return {
        "size_mib_asked": size,
        "extra_items": extra,
        "total_bytes": total,
        "databases": [{"path": d["path"], "bytes": d["bytes"], "page_size": d["page_size"],
                       "rows": sum(d["tables"].values()), "tables": len(d["tables"])}
                      for d in manifest["databases"]],
        "tables": manifest["tables"],
        "rows": manifest["rows"],
        "script_items": manifest["items"],
        "runs": runs,
        "median": medians,
        "ratios": ratios,
        "rows_identical_to_b": identical,
        "checksums": summary(sums.get("b") or next(iter(sums.values()), {})),
        "failures": failures,
    }


def machine(work):
    info = {"python": platform.python_version(), "kernel": platform.release()}
    try:
        with open("/proc/cpuinfo") as f:
            cpu = f.read()
        info["cpu"] = next(l.split(":", 1)[1].strip() for l in cpu.splitlines()
                           if l.startswith("model name"))
        info["cores"] = sum(1 for l in cpu.splitlines() if l.startswith("processor"))
        with open("/proc/meminfo") as f:
            info["memory_kib"] = int(f.readline().split()[1])
    except (OSError, StopIteration):
        pass
    df = subprocess.run(["df", "-PT", work], capture_output=True, text=True).stdout.splitlines()
    if len(df) > 1:
        device, fstype = df[1].split()[:2]
        info["disk"] = {"device": device, "filesystem": fstype}
        rot = f"/sys/block/{os.path.basename(device)}/queue/rotational"
        if os.path.exists(rot):
            with open(rot) as f:
                info["disk"]["rotational"] = f.read().strip() == "1"
    return info


def version_of(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True).stdout.split("\n")[0].strip()
    except OSError:
        return None


def print_table(results):
    print(f"\n{'size':>7} {'items':>6} {'method':<36} {'wall s':>8} {'CPU s':>8} {'peak MiB':>9}")
    for r in results:
        for m, med in r["median"].items():
            print(f"{r['total_bytes'] / 2**20:5.0f}Mi {r['script_items']:6} {label(m):<36} "
                  f"{med['wall_s']:8.2f} {med['cpu_s']:8.2f} {med['max_rss_kib'] / 1024:9.1f}")
        same = ", ".join(f"{m} = b: {'yes' if ok else 'NO'}"
                         for m, ok in r["rows_identical_to_b"].items())
        print(f"{'':14} ratios (wall): " +
              ", ".join(f"{k} = {v:.2f}" for k, v in r["ratios"].items()) +
              (f"; rows {same}" if same else ""))


def plot(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    results = [r for r in results if not r["extra_items"]]
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=110)
    sizes = [r["total_bytes"] / 2**20 for r in results]
    methods = [m for m in results[0]["median"]] if results else []
    for m, marker in zip(methods, "osD^v<>"):
        if all(m in r["median"] for r in results):
            ax.plot(sizes, [r["median"][m]["wall_s"] for r in results], marker=marker,
                    label=f"({m}) {label(m)}")
    ax.set_xlabel("total size of the three databases (MiB)")
    ax.set_ylabel("wall time, median (s)")
    ax.set_title("Migration of a large installation")
    ax.grid(True, alpha=0.3)
    ax.set_xlim(left=0)
    ax.set_ylim(bottom=0)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)
    log(f"plot: {path}")


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--quorvel", required=True)
    p.add_argument("--dbrtool", required=True)
    p.add_argument("--vennic", required=True)
    p.add_argument("--sqlite3", default="sqlite3")
    p.add_argument("--sizes", default="100,300,1000", help="MiB, comma separated")
    p.add_argument("--extra-items", default="0",
                   help="script items added to the generated script, comma separated: each "
                        "size is measured with each")
    p.add_argument("--reps", type=int, default=3)
    p.add_argument("--methods", default="abcd")
    p.add_argument("--variant", action="append", default=[], metavar="NAME=PATH",
                   help="another quorvel build, measured as method a:NAME")
    p.add_argument("--variant-env", action="append", default=[], metavar="NAME=VAR=VALUE",
                   help="an environment variable set for variant NAME's runs")
    p.add_argument("--check-every-run", action="store_true",
                   help="compare the rows of every run of a and b, not only the first")
    p.add_argument("--work", required=True, help="folder for installations and runs")
    p.add_argument("--json", help="where the figures go")
    p.add_argument("--plot", help="PNG of time against size")
    p.add_argument("--label", default="", help="a note stored with the figures")
    p.add_argument("--prepare-only", action="store_true",
                   help="only generate the installations (when missing) and print their folders")
    args = p.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    sizes = [float(s) for s in args.sizes.split(",")]
    extras = [int(x) for x in args.extra_items.split(",")]
    if args.prepare_only:
        for size in sizes:
            for extra in extras:
                print(ensure_installation(args, size, extra)[0])
        return 0
    if not args.json:
        p.error("--json is required")

    args.binaries = {"a": os.path.abspath(args.quorvel)}
    args.methods = list(args.methods)
    for v in args.variant:
        name, path = v.split("=", 1)
        args.methods.append("a:" + name)
        args.binaries["a:" + name] = os.path.abspath(path)
    args.environments = {}
    for v in args.variant_env:
        name, var, value = v.split("=", 2)
        args.environments.setdefault("a:" + name, {})[var] = value

    results = [measure(args, s, x) for s in sizes for x in extras]
    commit = subprocess.run(["git", "-C", HERE, "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip()
    doc = {
        "date": datetime.datetime.now().isoformat(timespec="seconds"),
        "label": args.label,
        "commit": commit,
        "machine": machine(args.work),
        "sqlite3_shell": version_of([args.sqlite3, "--version"]),
        "methods": {m: label(m) for m in args.methods},
        "reps": args.reps,
        "results": results,
    }
    os.makedirs(os.path.dirname(os.path.abspath(args.json)), exist_ok=True)
    with open(args.json, "w") as f:
        json.dump(doc, f, indent=1)
        f.write("\n")
    print_table(results)
    log(f"figures: {args.json}")
    if args.plot:
        plot(results, args.plot)
    failures = [f for r in results for f in r["failures"]]
    for f in failures:
        log(f"FAILED: {f}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
