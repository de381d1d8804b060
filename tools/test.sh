#!/usr/bin/env bash
# Runs every test: the native suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (both replay the fuzz regression inputs), a short fuzzing run
# of every fuzz target, the cross-compiled installer (its size printed), and the
# installer's end-to-end tests under Wine. Installs what is missing first.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=2

tools/install-deps.sh wine || { echo "could not install the build dependencies" >&2; exit 1; }

passed=0
failed=0
status=0

count_ctest() {  # adds a ctest log's totals to the tally
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$1" | tail -n 1)
    if [ -n "$line" ]; then
        local total bad
        bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    else
        failed=$((failed + 1))
    fi
}

run_native() {  # name, build dir, extra cmake options
    local name=$1 dir=$2
    shift 2
    echo "== $name =="
    mkdir -p "$dir"
    if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"; failed=$((failed + 1)); status=1; return
    fi
    if ! cmake --build "$dir" -j"$jobs" >"$dir/build.log" 2>&1; then
        tail -n 40 "$dir/build.log"; failed=$((failed + 1)); status=1; return
    fi
    (cd "$dir" && ctest -j"$jobs" --output-on-failure) 2>&1 | tee "$dir/ctest.log" | grep -E '(\*\*\*|\(Failed\)|tests passed|Total Test time)' || true
    count_ctest "$dir/ctest.log"
    grep -q ' 0 tests failed' "$dir/ctest.log" || status=1
}

# The installer program first: the native builds install it beside quill and test the
# signing and resource work on it.
echo "== installer (i686-w64-mingw32) =="
mkdir -p build-i686
if cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >build-i686/configure.log 2>&1 &&
   cmake --build build-i686 -j"$jobs" >build-i686/build.log 2>&1; then
    grep -E 'quillstead(-uninstall)?.exe: [0-9]+ bytes' build-i686/build.log | tail -n 2 || true
    passed=$((passed + 1))
else
    tail -n 40 build-i686/build.log 2>/dev/null || cat build-i686/configure.log
    failed=$((failed + 1)); status=1
fi

stub=(-DQUILL_INSTALLER_PROGRAM="$root/build-i686/ui/quillstead.exe"
      -DQUILL_UNINSTALLER_PROGRAM="$root/build-i686/uninstall/quillstead-uninstall.exe")
run_native "native tests" build "${stub[@]}"
# The sanitizer build decodes as the installer does: without the decoder's shortcuts.
run_native "sanitizer tests" build-asan -DQUILL_SANITIZE=ON -DQUILL_SMALL_DECODER=ON "${stub[@]}"

echo "== fuzzing (libFuzzer, ASan+UBSan, about a minute) =="
if tools/fuzz.sh 12; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); status=1
fi

add_tally() {  # a log ending in "N passed, M failed"; its exit status
    local line
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$1" | tail -n 1)
    if [ -n "$line" ]; then
        passed=$((passed + $(cut -d' ' -f1 <<<"$line")))
        failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
    elif [ "$2" -ne 0 ]; then
        failed=$((failed + 1))
    fi
    [ "$2" -eq 0 ] || status=1
}

echo "== quill installed: Debian package, example project =="
tests/package/check.sh build 2>&1 | tee build/package.log
add_tally build/package.log "${PIPESTATUS[0]}"

if [ -x tests/wine/run.sh ]; then
    echo "== installer under Wine =="
    QUILL_BUILD_WIN=$root/build-i686 QUILL_BIN=$root/build/tools/quill/quill tests/wine/run.sh 2>&1 | tee build-i686/wine.log
    add_tally build-i686/wine.log "${PIPESTATUS[0]}"
fi

echo "== summary =="
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
