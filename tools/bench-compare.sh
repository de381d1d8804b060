#!/usr/bin/env bash
# Old against new in one run: builds lzari-bench from an earlier commit beside the one of
# this tree (both from this tree's benchmark source, so that they time alike), then runs
# the two in turn, round after round, and prints each one's best and median with the
# ratio new/old of both and the machine's load (before, after and at each round).
#
#   tools/bench-compare.sh [--rounds N] [--base COMMIT] [lzari-bench options and files]
#   tools/bench-compare.sh --pack [--rounds N] [--base COMMIT] [--mb M] [--files F]
#
# --pack times quill pack instead: one file of M MB (default 100) made of the corpus
# repeated, with its peak memory, and F small files (default 20,000, 1-4 KB slices of the
# corpus) with and without the verify pass, in processor seconds.
# COMMIT defaults to HEAD~1. --bench-from REV builds the benchmark source of REV into the
# earlier tree, for a COMMIT that lacks what this tree's benchmark calls.
# The earlier tree is checked out with git worktree under
# /tmp and removed afterwards; the builds stay in build-bench/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rounds=3
base=HEAD~1
args=()
pack= megabytes=100 files=20000 bench_from=
while [ $# -gt 0 ]; do
    case $1 in
        --rounds) rounds=$2; shift 2 ;;
        --base) base=$2; shift 2 ;;
        --pack) pack=1; shift ;;
        --mb) megabytes=$2; shift 2 ;;
        --files) files=$2; shift 2 ;;
        --bench-from) bench_from=$2; shift 2 ;;
        *) args+=("$1"); shift ;;
    esac
done
# Without files, the corpus: named here, as the earlier build's own default lies in its
# removed source tree.
files_given=
for a in "${args[@]}"; do [ -e "$a" ] && files_given=1; done
[ -n "$files_given" ] || args+=("$root/../shared/corpus")
commit=$(git rev-parse --verify "$base^{commit}")
out=$root/build-bench
mkdir -p "$out"

target=lzari-bench program=tools/lzari-bench
[ -z "$pack" ] || target=quill program=tools/quill/quill
build() {  # source dir, build dir
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release >"$2.configure.log" 2>&1 &&
        nice cmake --build "$2" -j2 --target $target >"$2.build.log" 2>&1 ||
        { tail -n 30 "$2.build.log" 2>/dev/null || cat "$2.configure.log"; exit 1; }
}

if [ ! -x "$out/old-$commit-$target/$program" ]; then
    tree=$(mktemp -d /tmp/quill-bench-XXXXXX)
    trap 'git worktree remove --force "$tree/src" 2>/dev/null; rm -rf "$tree"' EXIT
    git worktree add --detach "$tree/src" "$commit" >/dev/null
    rm -rf "$out/old-$commit-$target"  # a build left by a failed run names another source
    # This tree's benchmark, with its includes pointed at where the earlier tree keeps
    # those headers (folders have moved between commits).
    if [ -n "$bench_from" ]; then git show "$bench_from:tools/lzari_bench.cpp"; else cat tools/lzari_bench.cpp; fi >"$tree/bench.cpp"
    python3 - "$tree/src" "$tree/bench.cpp" >"$tree/src/tools/lzari_bench.cpp" <<'EOF'
import os, re, sys
root = sys.argv[1]
where = {name: os.path.relpath(os.path.join(folder, name), root)
         for folder, _, names in os.walk(root) if "/." not in folder for name in names}
def point(match):
    path = match.group(1)
    if os.path.exists(os.path.join(root, path)) or os.path.basename(path) not in where:
        return match.group(0)
    return '#include "%s"' % where[os.path.basename(path)]
sys.stdout.write(re.sub(r'#include "([^"]+)"', point, open(sys.argv[2]).read()))
EOF
    build "$tree/src" "$out/old-$commit-$target"
    git worktree remove --force "$tree/src"
    rm -rf "$tree"
    trap - EXIT
fi
build "$root" "$out/new"

if [ -n "$pack" ]; then
    exec python3 "$root/tools/pack_bench.py" "$out/old-$commit-$target/$program" "$out/new/$program" \
        "$rounds" "$megabytes" "$files" "${commit:0:7}" "$(git rev-parse --short HEAD)" \
        "$root/../shared/corpus" "$root/build-i686/ui/quillstead.exe"
fi

old=$out/old-$commit-$target/$program
new=$out/new/$program
results=$(mktemp -d /tmp/quill-bench-results-XXXXXX)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# The 1-minute load at every round's start too: a round run beside other work shows there.
round_loads=
for ((r = 1; r <= rounds; r++)); do
    round_loads+="$(cut -d' ' -f1 /proc/loadavg) "
    "$old" --json "${args[@]}" >"$results/old-$r.json"
    "$new" --json "${args[@]}" >"$results/new-$r.json"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$results" "$rounds" "$commit" "$(git rev-parse --short HEAD)" "$load_before" "$load_after" \
    "$round_loads" "$(nproc)" <<'EOF'
import json, statistics, sys
results, rounds, commit, head, before, after, round_loads, cores = sys.argv[1:]
runs = {side: [json.load(open("%s/%s-%d.json" % (results, side, r))) for r in range(1, int(rounds) + 1)]
        for side in ("old", "new")}
first = runs["new"][0]
print("lzari-bench, old %s against new %s (%s), %s rounds, clock %s, --repeat %d per round"
      % (commit[:7], head, "working tree", rounds, first["clock"], first["repeat"]))
print("load average before %s, after %s, at each round's start %s (%s cores)"
      % (before, after, " ".join(round_loads.split()), cores))
print("MB/s: best of all runs, median of the rounds' medians; new/old of each, best and median")
def row(label, pick):
    o = [pick(run) for run in runs["old"]]
    n = [pick(run) for run in runs["new"]]
    ob, om, nb, nm = max(x[0] for x in o), statistics.median(x[1] for x in o), \
        max(x[0] for x in n), statistics.median(x[1] for x in n)
    print("%-28s old %8.1f %8.1f   new %8.1f %8.1f   new/old %5.2fx %5.2fx" % (label, ob, om, nb, nm, nb / ob, nm / om))
print("%-28s     %8s %8s       %8s %8s" % ("", "best", "median", "best", "median"))
row("decode, total", lambda r: (r["total"]["decode_mbps_best"], r["total"]["decode_mbps_median"]))
row("encode, total", lambda r: (r["total"]["encode_mbps_best"], r["total"]["encode_mbps_median"]))
for f in first["files"]:
    name = f["file"]
    def pick(r, name=name):
        for g in r["files"]:
            if g["file"] == name:
                return (g["decode_mbps_best"], g["decode_mbps_median"])
    if f["size"] < 16384:
        row("decode " + name, pick)
print("ratio: old %.4f, new %.4f, new/old %.4fx" % (runs["old"][0]["total"]["ratio"], first["total"]["ratio"],
      first["total"]["ratio"] / runs["old"][0]["total"]["ratio"]))
if not all(r["total"]["intact"] for side in runs.values() for r in side):
    print("A FILE DID NOT COME BACK INTACT"); sys.exit(1)
EOF
status=$?
rm -rf "$results"
exit $status
