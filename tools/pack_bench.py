#!/usr/bin/env python3
"""quill pack, an old build against a new one in one run (called by bench-compare.sh --pack):
one large file of the corpus repeated, with its peak memory, and a tree of small files
with and without the verify pass, in processor seconds (user + system), best and median.

    pack_bench.py OLD NEW ROUNDS MEGABYTES FILES BASE HEAD CORPUS STUB
"""
import os
import shutil
import statistics
import sys
import tempfile


def make_trees(work, corpus, megabytes, count):
    paths = sorted(os.path.join(folder, name) for folder, _, names in os.walk(corpus) for name in names)
    data = b"".join(open(path, "rb").read() for path in paths)
    if len(data) < 8192:
        sys.exit("pack_bench.py: too little data in %s" % corpus)
    big = os.path.join(work, "big")
    os.makedirs(big)
    with open(os.path.join(big, "data.bin"), "wb") as f:
        left = megabytes << 20
        while left:
            f.write(data[:left])
            left -= min(left, len(data))
    small = os.path.join(work, "small")
    for i in range(count):
        folder = os.path.join(small, "d%03d" % (i // 200))
        os.makedirs(folder, exist_ok=True)
        size, start = 1024 + i * 7919 % 3072, i * 104729 % (len(data) - 4096)
        with open(os.path.join(folder, "f%05d.txt" % i), "wb") as f:
            f.write(data[start:start + size])
    return big, small


def pack(program, tree, out, stub, options):
    """Processor seconds and peak RSS (KB) of one pack, run as a child of its own."""
    pid = os.fork()
    if pid == 0:
        stub_args = ["--stub", stub] if os.path.exists(stub) else []
        os.execv(program, [program, "pack", tree, "-o", out, "--title", "Bench",
                           "--install-dir", "Bench", "-q", *stub_args, *options])
    _, status, usage = os.wait4(pid, 0)
    if status:
        sys.exit("%s pack %s failed (status %d)" % (program, tree, status))
    os.remove(out)
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    old, new, rounds, megabytes, count, base, head, corpus, stub = sys.argv[1:]
    rounds, megabytes, count = int(rounds), int(megabytes), int(count)
    work = tempfile.mkdtemp(prefix="quill-pack-bench-")
    try:
        big, small = make_trees(work, corpus, megabytes, count)
        cases = [("%d MB file" % megabytes, big, ()),
                 ("%d small files" % count, small, ()),
                 ("%d small files --no-verify" % count, small, ("--no-verify",))]
        results = {}
        load_before = " ".join(open("/proc/loadavg").read().split()[:3])
        for _ in range(rounds):
            for label, tree, options in cases:
                for side, program in (("old", old), ("new", new)):
                    results.setdefault((label, side), []).append(
                        pack(program, tree, os.path.join(work, "setup.exe"), stub, options))
        load_after = " ".join(open("/proc/loadavg").read().split()[:3])
    finally:
        shutil.rmtree(work)

    def seconds(key):
        values = [r[0] for r in results[key]]
        return min(values), statistics.median(values)

    print("quill pack, old %s against new %s (working tree), %d rounds; load average before %s, after %s"
          % (base, head, rounds, load_before, load_after))
    print("%-30s %21s   %21s" % ("processor s: best, median", "old", "new"))
    for label, _, _ in cases:
        o, n = seconds((label, "old")), seconds((label, "new"))
        print("%-30s %10.2f %10.2f   %10.2f %10.2f   new/old %.2fx %.2fx"
              % (label, o[0], o[1], n[0], n[1], n[0] / o[0], n[1] / o[1]))
    for side in ("old", "new"):
        v = seconds(("%d small files" % count, side))
        nv = seconds(("%d small files --no-verify" % count, side))
        print("%s: with verify %.2fx the --no-verify time (best), %.2fx (median)"
              % (side, v[0] / nv[0], v[1] / nv[1]))
    for side in ("old", "new"):
        peak = max(r[1] for r in results[("%d MB file" % megabytes, side)])
        print("%s: peak memory packing the %d MB file: %d KB" % (side, megabytes, peak))


if __name__ == "__main__":
    main()
