#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer), makes
# their seed corpora with quill pack from small trees, and fuzzes each target in turn.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]     (12 seconds each, every target by default)
#
# The corpora grow in build-fuzz/corpus/TARGET; an input that fails a check or crashes is
# written to build-fuzz/findings/TARGET/ and makes the script fail: copy it into
# tests/fuzz/regressions/TARGET/ once it is fixed, so that every test run replays it.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-12}
shift || true
targets=${*:-archive_walk decoder messages project names}
build=$root/build-fuzz

tools/install-deps.sh || exit 1
mkdir -p "$build"
if ! { CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILL_FUZZ=ON &&
       cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
    tail -n 30 "$build/build.log"; exit 1
fi

# --- seeds: archives packed from small trees, and what lies inside them ----------------
seeds=$build/seeds
if [ ! -d "$seeds" ]; then
    work=$(mktemp -d)
    mkdir -p "$seeds"/{archive_walk,decoder,messages,project,names}
    printf 'x' >"$work/stub.exe"
    pack() {  # NAME SOURCE [OPTIONS...]: volumes of NAME in $work/NAME
        local name=$1 source=$2; shift 2
        "$build/tools/quill/quill" pack "$source" -o "$work/$name/setup.exe" --stub "$work/stub.exe" -q \
            --title "Seed $name" --install-dir "Seed\\$name" --post-install 'notepad readme.txt' \
            --volume-size "${VOLUME:-4294967295}" "$@" || exit 1
    }
    mkdir -p "$work/one-text" "$work/one-binary" "$work/one-empty" "$work/one-runs"
    cp examples/product/README.TXT "$work/one-text/readme.txt"
    python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7919 >> 3) & 255 for i in range(70000)))' \
        >"$work/one-binary/data.bin"
    : >"$work/one-empty/empty.txt"
    python3 -c 'import sys; sys.stdout.buffer.write(b"a" * 5000 + b"ab" * 3000)' >"$work/one-runs/runs.txt"
    pack product examples/product examples/product.ini
    VOLUME=3000 pack product-volumes examples/product examples/product.ini
    for tree in one-text one-binary one-empty one-runs; do pack "$tree" "$work/$tree" --language german; done
    python3 - "$work" "$seeds" <<'PY'
import os, struct, sys
work, seeds = sys.argv[1], sys.argv[2]
def volumes(name):
    parts, n = [], 1
    while os.path.exists(f"{work}/{name}/disk{n}.pak"):
        parts.append(open(f"{work}/{name}/disk{n}.pak", "rb").read()); n += 1
    return parts
def put(target, name, data):
    open(f"{seeds}/{target}/{name}", "wb").write(data)
for name in ["product", "product-volumes", "one-text", "one-binary", "one-empty", "one-runs"]:
    parts = volumes(name)
    archive = b"".join(parts)
    put("archive_walk", name, bytes([min(len(parts) - 1, 3)]) + archive)
    block = struct.unpack_from("<I", archive, 4)[0]
    put("messages", name, archive[:22 + block])
    if name.startswith("one-"):
        length = struct.unpack_from("<H", archive, 22 + block + 13)[0]
        put("decoder", name, archive[22 + block + 15 + length:-15])
for i, n in enumerate(["readme.txt", "Données.txt", "NUL", "com1.txt", "a:b", "..", "x.", "setup.exe", "a" * 255]):
    put("names", str(i), n.encode("cp1252"))
PY
    cp examples/product.ini "$seeds/project/product.ini"
    printf '[installer]\ntitle = T\ninstall-dir = D\nlanguage = russian\n[group]\nname = G\nitem = A | \\a.exe\n[messages]\n113 = %%lu K\n[attributes]\na = hidden system\n' \
        >"$seeds/project/small.ini"
    rm -rf "$work"
fi

# --- fuzzing --------------------------------------------------------------------------
status=0
for target in $targets; do
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    mkdir -p "$corpus" "$findings"
    log=$build/fuzz-$target.log
    nice "$build/tests/fuzz/fuzz_$target" "$corpus" "$seeds/$target" "$root/tests/fuzz/regressions/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=262144 \
        -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1
    result=$?
    stats=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 | sed -E 's/[[:space:]]+/ /g; s/.*DONE (cov: [0-9]+ ft: [0-9]+ corp: [^ ]+).*/\1/')
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
    rate=$(grep -E '^stat::average_exec_per_sec' "$log" | awk '{print $2}')
    echo "fuzz $target: ${seconds}s, ${runs:-?} runs, ${rate:-?} exec/s, $stats"
    if [ $result -ne 0 ]; then
        status=1
        echo "fuzz $target FOUND A FAILURE (see $log, inputs in $findings):"
        grep -E 'fuzz check failed|ERROR: |SUMMARY|runtime error' "$log" | head -n 5
    fi
done
exit $status
