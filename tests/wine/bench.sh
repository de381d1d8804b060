#!/usr/bin/env bash
# The installer's own speed under Wine, beside quill extract on the same archives (a
# command to run by hand, not a test):
#   tests/wine/bench.sh [FOLDER]       (default: the corpus beside the checkout; as root)
# Packs FOLDER once with the archive appended and once as 1.44M volumes, installs each
# with the installer under Wine (the test driver answers the dialogs on a private Xvfb),
# and prints MB/s. An install of a one-byte archive is timed the same way and taken off,
# so that Wine's start and the dialogs do not count. QUILL_WINE_PREFIX names the prefix
# (default /home/quilltest/.wine-quill-bench); QUILL_BENCH_RUNS the runs (default 3, best
# and median are printed).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
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
start_xvfb 141 190
as_user() { runuser -u "$WINE_USER" -- env WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all \
    DISPLAY=":$number" HOME="/home/$WINE_USER" "$@"; }
cleanup() { as_user wineserver -k >/dev/null 2>&1 || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
make_prefix
build_driver "$work/driver.exe"

# The archives: the folder appended and in volumes, and one byte appended for the baseline.
mkdir -p "$work/one" "$work/appended" "$work/volumes"
printf x >"$work/one/x"
pack() { "$QUILL" pack "$1" -o "$2" --stub "$STUB" --title Bench --install-dir Bench -q "${@:3}"; }
pack "$work/one" "$work/one/setup.exe"
pack "$source_dir" "$work/appended/setup.exe"
pack "$source_dir" "$work/volumes/setup.exe" --volume-size 1.44M
bytes=$("$QUILL" list "$work/appended/setup.exe" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["header"]["totalSize"])')
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
extract_seconds() {
    rm -rf "$work/x"
    local start end
    start=$(date +%s.%N)
    "$QUILL" extract "$1/setup.exe" -d "$work/x" -q
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

install_seconds "$work/one" >/dev/null  # Wine's first start in a while is slower
declare -A times
for ((r = 1; r <= runs; r++)); do
    times[one]+="$(install_seconds "$work/one") "
    times[appended]+="$(install_seconds "$work/appended") "
    times[volumes]+="$(install_seconds "$work/volumes") "
    times[extract]+="$(extract_seconds "$work/appended") "
done
python3 - "$bytes" "$(cut -d' ' -f1-3 /proc/loadavg)" "${times[one]}" "${times[appended]}" \
    "${times[volumes]}" "${times[extract]}" <<'EOF'
import statistics, sys
size = float(sys.argv[1]); load = sys.argv[2]
one, appended, volumes, extract = ([float(x) for x in a.split()] for a in sys.argv[3:7])
base = min(one)
print("%d bytes, %d runs, load average %s; Wine start and dialogs: %.2f s (one-byte install)"
      % (size, len(one), load, base))
def show(label, seconds, less):
    best = size / max(min(seconds) - less, 1e-6) / 1e6
    median = size / max(statistics.median(seconds) - less, 1e-6) / 1e6
    print("%-34s best %6.1f MB/s  median %6.1f MB/s" % (label, best, median))
    return best
a = show("installer, archive appended", appended, base)
v = show("installer, 1.44M volumes", volumes, base)
q = show("quill extract, same archive", extract, 0)
print("installer / quill extract: appended %.2fx, volumes %.2fx" % (a / q, v / q))
EOF
