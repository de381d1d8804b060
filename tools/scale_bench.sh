#!/usr/bin/env bash
# Scale benchmark (figures, not a test): packs, tests and extracts trees of many small
# files and one file at the format's 4 GiB - 1 limit, printing wall time and peak memory
# (RSS) of each step, and shows that a tree past the limit is refused.
#
#   tools/scale_bench.sh [QUILL] [STUB]     (default: build/tools/quill/quill, the i686 build's
#                                           installer; WORK=/some/dir keeps the trees there)
# SMALL="50000 100000" sets the small-file counts; BIG=0 skips the 4 GiB file (8.5 GB RAM).
set -uo pipefail
cd "$(dirname "$0")/.."
quill=${1:-build/tools/quill/quill}
stub=${2:-build-i686/ui/quillstead.exe}
work=${WORK:-$(mktemp -d /tmp/quill-scale.XXXXXX)}
mkdir -p "$work"

measure() {  # LABEL COMMAND...: one line with seconds and peak RSS
    local label=$1; shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>&1
    local status=$?
    # A failing command puts a line of its own before the figures.
    read -r seconds kb < <(tail -n 1 "$work/time")
    printf '%-34s exit %d  %8.2f s  %8d KB peak RSS\n' "$label" "$status" "$seconds" "$kb"
    [ $status -eq 0 ] || tail -n 3 "$work/out"
}

for count in ${SMALL:-25000 50000 100000}; do
    tree=$work/small-$count
    rm -rf "$tree" "$work/out-$count" "$work/x-$count"
    python3 - "$tree" "$count" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "d%03d" % (i // 100))
    if i % 100 == 0:
        os.makedirs(folder)
    with open(os.path.join(folder, "f%05d.txt" % i), "w") as f:
        f.write(("line %d of a small file\n" % i) * (1 + i % 7))
PY
    measure "pack $count files" "$quill" pack "$tree" -o "$work/out-$count/setup.exe" --stub "$stub" \
        --title Scale --install-dir Scale -q
    measure "test $count files" "$quill" test "$work/out-$count/setup.exe" -q
    measure "extract $count files" "$quill" extract "$work/out-$count/setup.exe" -d "$work/x-$count" -q
    rm -rf "$tree" "$work/x-$count"
done

if [ "${BIG:-1}" != 0 ]; then
    mkdir -p "$work/big"
    truncate -s 4294967295 "$work/big/limit.bin"
    measure "pack one 4294967295-byte file" "$quill" pack "$work/big" -o "$work/out-big/setup.exe" --stub "$stub" \
        --title Scale --install-dir Scale -q
    ls -l "$work/out-big/setup.exe" | awk '{print "  installer: " $5 " bytes"}'
    measure "test one 4294967295-byte file" "$quill" test "$work/out-big/setup.exe" -q
    truncate -s 1 "$work/big/one-more.bin"
    measure "pack 4294967296 bytes (refused)" "$quill" pack "$work/big" -o "$work/out-over/setup.exe" --stub "$stub" \
        --title Scale --install-dir Scale -q
    rm -rf "$work/big" "$work/out-big"
fi
[ -n "${WORK:-}" ] || rm -rf "$work"
