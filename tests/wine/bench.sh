#!/usr/bin/env bash
# The installer's own speed under Wine, beside quill extract on the same archives (a
# command to run by hand, not a test):
#   tests/wine/bench.sh [--base COMMIT] [--profile] [FOLDER]    (as root)
# FOLDER defaults to the corpus beside the checkout. Packs it once with the archive
# appended and once as 1.44M volumes, installs each with the installer under Wine (the
# test driver answers the dialogs on a private Xvfb), and prints MB/s. An install of a
# one-byte archive is timed the same way and taken off, so that Wine's start and the
# dialogs do not count. Every installer is timed in the same rounds, in turn.
# A second archive of 5,000 small files (made here) gives each installer's cost per file,
# interactive and silent (/S, taken off: a silent one-byte install), beside quill test and
# quill extract of it: the interactive install pays a status-line text and a bar report
# per file, the silent one neither.
#   --base COMMIT  also builds the installer of an earlier commit and times it: before
#                  and after from one run.
#   --profile      also times installers built from this tree with parts of the work taken
#                  out (appended archive only), to show where the time goes: the bar's
#                  repaint at each progress report, the report itself (a message the worker
#                  sends to the interface thread and waits for), the status line's text per
#                  file (another such message), and the file writes.
# QUILL_WINE_PREFIX names the prefix (default /home/quilltest/.wine-quill-bench);
# QUILL_BENCH_RUNS the rounds (default 3; best and median are printed); QUILL_BENCH_TIMES a
# file that gets every timing, round by round.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
base= profile=
while [ $# -gt 0 ]; do
    case $1 in
        --base) base=$(git -C "$ROOT" rev-parse --verify "$2^{commit}"); shift 2 ;;
        --profile) profile=1; shift ;;
        *) break ;;
    esac
done
source_dir=$(realpath "${1:-$ROOT/../shared/corpus}")
runs=${QUILL_BENCH_RUNS:-3}
QUILL=${QUILL_BIN:-$ROOT/build/tools/quill/quill}
STUB=${QUILL_STUB:-$ROOT/build-i686/ui/quillstead.exe}
WINE_USER=quilltest
PREFIX=${QUILL_WINE_PREFIX:-/home/$WINE_USER/.wine-quill-bench}
[ "$(id -u)" = 0 ] || { echo "this needs root (it runs Wine as $WINE_USER)" >&2; exit 2; }
[ -x "$QUILL" ] && [ -f "$STUB" ] || { echo "build quill and the installer first (build/, build-i686/)" >&2; exit 2; }
id "$WINE_USER" >/dev/null 2>&1 || useradd -m "$WINE_USER"
win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

work=$(mktemp -d /tmp/quill-bench.XXXXXX)
chmod 755 "$work"
. "$ROOT/tests/wine/stage.sh"
as_user() { runuser -u "$WINE_USER" -- env WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all \
    DISPLAY=":$number" HOME="/home/$WINE_USER" "$@"; }
cleanup() {
    [ -z "$number" ] || as_user wineserver -k >/dev/null 2>&1 || true
    [ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
number=
trap cleanup EXIT

# installer_from TREE EDIT OUT: the installer built from a copy of TREE's sources after
# the Python statements EDIT (given the files' texts to change), copied to OUT.
installer_from() {
    local copy=$work/src-$(basename "$3" .exe)
    mkdir -p "$copy"
    (cd "$1" && tar cf - --exclude='./build*' --exclude=./.git .) | tar xf - -C "$copy"
    if [ -n "$2" ]; then
        (cd "$copy" && python3 -c "
import sys
def edit(path, old, new):
    text = open(path).read()
    if old not in text: sys.exit('bench.sh: the profile edit no longer applies to ' + path)
    open(path, 'w').write(text.replace(old, new, 1))
$2")
    fi
    cmake -S "$copy" -B "$copy/build" -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-i686.cmake" \
        >"$copy.log" 2>&1 && nice cmake --build "$copy/build" -j2 --target quillstead >>"$copy.log" 2>&1 ||
        { tail -n 20 "$copy.log"; exit 1; }
    cp "$copy/build/ui/quillstead.exe" "$3"
}

labels=(new) stubs=("$STUB")
if [ -n "$base" ]; then
    git -C "$ROOT" worktree add --detach "$work/base-tree" "$base" >/dev/null 2>&1
    installer_from "$work/base-tree" "" "$work/base.exe"
    git -C "$ROOT" worktree remove --force "$work/base-tree"
    labels+=(base) stubs+=("$work/base.exe")
fi
if [ -n "$profile" ]; then
    nopaint="edit('ui/progress_bar.cpp', '''        if (!BarShows(bar->position))
            InvalidateRect(window, 0, TRUE);
''', '')"
    nobar="edit('ui/platform_win32.cpp', '''void PlatBarCommand(u32 command, u32 value)
{
''', '''void PlatBarCommand(u32 command, u32 value)
{
    return;
''')"
    nowrite="edit('ui/platform_win32.cpp', '''    DWORD written = 0;
''', '''    return count;
    DWORD written = 0;
''')"
    nostatus="edit('extract/worker.cpp', '''    PlatSetControlText(CONTROL_STATUS_LINE, detailText);
    FileHandle file''', '''    FileHandle file''')"
    installer_from "$ROOT" "$nopaint" "$work/nopaint.exe"
    installer_from "$ROOT" "$nobar" "$work/nobar.exe"
    installer_from "$ROOT" "$nobar
$nowrite" "$work/nobar-nowrite.exe"
    installer_from "$ROOT" "$nostatus" "$work/nostatus.exe"
    installer_from "$ROOT" "$nobar
$nostatus" "$work/nobar-nostatus.exe"
    labels+=(nopaint nobar nobar-nowrite nostatus nobar-nostatus)
    stubs+=("$work/nopaint.exe" "$work/nobar.exe" "$work/nobar-nowrite.exe" "$work/nostatus.exe" "$work/nobar-nostatus.exe")
fi

start_xvfb 141 190
make_prefix
build_driver "$work/driver.exe"

# The archives: the folder appended and in volumes for each installer, and one byte
# appended for the baseline.
pack() { "$QUILL" pack "$1" -o "$2" --stub "$3" --title Bench --install-dir Bench -q "${@:4}"; }
mkdir -p "$work/one"
printf x >"$work/one/x"
pack "$work/one" "$work/one/setup.exe" "$STUB"
# 5,000 small files, 64 to 1,599 bytes of words, in 50 folders: the same every run.
python3 - "$work/small-files" <<'EOF'
import os, random, sys
words = "the of and to in is for on that with as by at from this be or are it an".split()
rng = random.Random(19)
for d in range(50):
    os.makedirs(os.path.join(sys.argv[1], "d%02d" % d))
    for f in range(100):
        size = rng.randrange(64, 1600)
        text = " ".join(rng.choice(words) + str(rng.randrange(1000)) for _ in range(size // 4 + 1))
        open(os.path.join(sys.argv[1], "d%02d" % d, "f%03d.txt" % f), "w").write(text[:size])
EOF
small_count=$(find "$work/small-files" -type f | wc -l)
for i in "${!labels[@]}"; do
    mkdir -p "$work/${labels[$i]}/appended" "$work/${labels[$i]}/volumes" "$work/${labels[$i]}/small"
    pack "$source_dir" "$work/${labels[$i]}/appended/setup.exe" "${stubs[$i]}"
    pack "$work/small-files" "$work/${labels[$i]}/small/setup.exe" "${stubs[$i]}"
    case ${labels[$i]} in new|base)
        pack "$source_dir" "$work/${labels[$i]}/volumes/setup.exe" "${stubs[$i]}" --volume-size 1.44M ;;
    esac
done
bytes=$("$QUILL" list "$work/new/appended/setup.exe" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["header"]["totalSize"])')
title=Bench
complete=$("$QUILL" list "$work/one/setup.exe" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["messages"]["117"])')
chown -R "$WINE_USER" "$work"

# Seconds one install takes, from the start of the driver to the completion text.
install_seconds() {
    local dir=$1 target=$work/target
    rm -rf "$target"
    local start end
    start=$(date +%s.%N)
    as_user wine "$work/driver.exe" run "$(win "$dir/setup.exe")" "$(win "$dir")" -- \
        dialog "$title" 1010 -- set 1010 "$(win "$target")" -- click 1 -- \
        dialog "$title" 1068 -- text 1012 "$complete" -- click 1011 -- exit 0 >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
# The same for a silent install, from the start of the driver to the installer's exit 0.
silent_seconds() {
    local dir=$1 target=$work/target
    rm -rf "$target"
    local start end
    start=$(date +%s.%N)
    as_user wine "$work/driver.exe" run "$(win "$dir/setup.exe")" "$(win "$dir")" \
        "/S /D=$(win "$target")" -- unseen-exit 0 >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
extract_seconds() {
    rm -rf "$work/x"
    local start end
    start=$(date +%s.%N)
    "$QUILL" extract "$1/setup.exe" -d "$work/x" -q
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
test_seconds() {
    local start end
    start=$(date +%s.%N)
    "$QUILL" test "$1/setup.exe" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

install_seconds "$work/one" >/dev/null  # Wine's first start in a while is slower
times=$work/times
: >"$times"
for ((r = 1; r <= runs; r++)); do
    # Each round starts at the next installer, so that none is always first after Wine's
    # start or after the small files.
    order=("${labels[@]:r % ${#labels[@]}}" "${labels[@]:0:r % ${#labels[@]}}")
    echo "one $(install_seconds "$work/one")" >>"$times"
    for label in "${order[@]}"; do
        for layout in appended volumes; do
            [ -f "$work/$label/$layout/setup.exe" ] || continue
            echo "$label/$layout $(install_seconds "$work/$label/$layout")" >>"$times"
        done
    done
    echo "extract $(extract_seconds "$work/new/appended")" >>"$times"
    echo "one-silent $(silent_seconds "$work/one")" >>"$times"
    for label in "${order[@]}"; do
        echo "small-$label/interactive $(install_seconds "$work/$label/small")" >>"$times"
        case $label in new|base)
            echo "small-$label/silent $(silent_seconds "$work/$label/small")" >>"$times" ;;
        esac
    done
    echo "small-extract $(extract_seconds "$work/new/small")" >>"$times"
    echo "small-test $(test_seconds "$work/new/small")" >>"$times"
done
[ -z "${QUILL_BENCH_TIMES:-}" ] || cp "$times" "$QUILL_BENCH_TIMES"
python3 - "$bytes" "$(cut -d' ' -f1-3 /proc/loadavg)" "$times" "${base:0:7}" "$small_count" <<'EOF'
import collections, statistics, sys
size = float(sys.argv[1]); load = sys.argv[2]; base = sys.argv[4]
seconds = collections.defaultdict(list)
for line in open(sys.argv[3]):
    key, value = line.split()
    seconds[key].append(float(value))
start = min(seconds["one"])
print("%d bytes, %d rounds, load average %s; Wine start and dialogs: %.2f s (one-byte install)"
      % (size, len(seconds["one"]), load, start))
def speeds(key, less):
    best = size / max(min(seconds[key]) - less, 1e-6) / 1e6
    median = size / max(statistics.median(seconds[key]) - less, 1e-6) / 1e6
    return best, median
quill = speeds("extract", 0)
names = {"new": "installer", "base": "installer of " + base,
         "nopaint": "  without the bar's repaints", "nobar": "  without progress reports",
         "nobar-nowrite": "  without reports and writes", "nostatus": "  without the status line",
         "nobar-nostatus": "  without reports and status line"}
print("%-44s %8s %8s   %s" % ("MB/s", "best", "median", "of quill extract (best, median)"))
print("%-44s %8.1f %8.1f" % ("quill extract, same archive", quill[0], quill[1]))
def in_order(keys):  # as the names are listed, whatever the order of the rounds
    return sorted(keys, key=lambda k: (list(names).index(k.split("/")[0].replace("small-", "")), k))
for key in in_order(k for k in seconds if "/" in k and not k.startswith("small-")):
    label, layout = key.split("/")
    best, median = speeds(key, start)
    print("%-44s %8.1f %8.1f   %.2fx %.2fx" % (names[label] + ", " + layout, best, median,
                                              best / quill[0], median / quill[1]))
if base:
    for layout in ("appended", "volumes"):
        new, old = speeds("new/" + layout, start), speeds("base/" + layout, start)
        print("new / %s, %s: best %.2fx, median %.2fx" % (base, layout, new[0] / old[0], new[1] / old[1]))

files = int(sys.argv[5])
silent_start = min(seconds["one-silent"])
print("%d small files; Wine start taken off: %.2f s (one-byte install), %.2f s silent"
      % (files, start, silent_start))
def per_file(key, less):  # ms per file, best and median
    return [max(value - less, 0) / files * 1e3 for value in (min(seconds[key]), statistics.median(seconds[key]))]
print("%-44s %8s %8s" % ("ms per file", "best", "median"))
print("%-44s %8.3f %8.3f" % ("quill test, same archive", *per_file("small-test", 0)))
print("%-44s %8.3f %8.3f" % ("quill extract, same archive", *per_file("small-extract", 0)))
small = {}
for key in in_order(k for k in seconds if k.startswith("small-") and "/" in k):
    label, mode = key[len("small-"):].split("/")
    small[label, mode] = per_file(key, start if mode == "interactive" else silent_start)
    print("%-44s %8.3f %8.3f" % (names[label] + ", " + ("/S" if mode == "silent" else mode),
                                   *small[label, mode]))
for label in ("new", "base"):
    if (label, "silent") in small:
        i, q = small[label, "interactive"], small[label, "silent"]
        print("%s, interactive / silent: best %.2fx, median %.2fx" % (names[label], i[0] / max(q[0], 1e-9), i[1] / max(q[1], 1e-9)))
if base:
    for mode in ("interactive", "silent"):
        new, old = small["new", mode], small["base", mode]
        print("new / %s, small files %s: best %.2fx, median %.2fx (files per second)"
              % (base, mode, old[0] / max(new[0], 1e-9), old[1] / max(new[1], 1e-9)))
EOF
