#!/usr/bin/env bash
# End-to-end tests of the installer under Wine: builds the installer (mingw-w64, i686), the
# Win32 test driver and the fixture generator, then runs each case as an unprivileged user
# (as root Wine ignores read-only files) on a private X server. Ends with "N passed, M failed".
# Run by root, Wine runs as the user quilltest and the cases that need them get small
# mounted drives; run by anyone else, Wine runs as that user and those cases are skipped,
# saying why.
#
#   tests/wine/run.sh [CASE...]      (all cases when none is named)
#
# KEEP=1 keeps the work directory: the cases' logs, and background.bmp, a screenshot that
# tests/wine/bmp2png.py turns into a PNG; high_dpi's screenshots at 96 and 144 DPI, as PNG
# too, in cases/high_dpi/dpi-96 and dpi-144.
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WINE_USER=quilltest
[ "$(id -u)" = 0 ] || WINE_USER=$(id -un)
STARTED=$(date +%s)

say() { printf '%s\n' "$*"; }
die() { say "run.sh: $*" >&2; exit 2; }

# --- tools ---------------------------------------------------------------------------
need_packages=()
command -v wine >/dev/null || need_packages+=(wine wine32:i386)
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed' || need_packages+=(wine32:i386)
command -v Xvfb >/dev/null || need_packages+=(xvfb xauth)
command -v i686-w64-mingw32-g++ >/dev/null || need_packages+=(g++-mingw-w64-i686)
command -v cmake >/dev/null || need_packages+=(cmake)
command -v g++ >/dev/null || need_packages+=(g++)
if [ ${#need_packages[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq || die "apt-get update failed"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_packages[@]}" >/dev/null ||
        die "cannot install ${need_packages[*]}"
fi
if [ "$(id -u)" = 0 ]; then
    id "$WINE_USER" >/dev/null 2>&1 || useradd -m "$WINE_USER" || die "cannot create user $WINE_USER"
fi
WINE_HOME=$(getent passwd "$WINE_USER" | cut -d: -f6)
[ -n "$WINE_HOME" ] || WINE_HOME=$HOME

# --- builds ----------------------------------------------------------------------------
# The builds the test command has made already, when it runs this; else its own.
BUILD_WIN=${QUILL_BUILD_WIN:-$ROOT/build-win}
BUILD_NATIVE=$ROOT/build-wine-native
mkdir -p "$BUILD_NATIVE"
if [ ! -f "$BUILD_WIN/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD_WIN" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        >"$BUILD_NATIVE/configure.log" 2>&1 || { cat "$BUILD_NATIVE/configure.log"; die "configure failed"; }
fi
cmake --build "$BUILD_WIN" --target quillstead quillstead-uninstall >"$BUILD_NATIVE/build.log" 2>&1 ||
    { cat "$BUILD_NATIVE/build.log"; die "the installer did not build"; }
grep -E 'quillstead(-uninstall)?.exe:' "$BUILD_NATIVE/build.log"
STUB=$BUILD_WIN/ui/quillstead.exe
UNINSTALLER=$BUILD_WIN/uninstall/quillstead-uninstall.exe
. "$ROOT/tests/wine/stage.sh"
build_driver "$BUILD_NATIVE/driver.exe" || die "the driver did not build"
# The packer, for the case that installs what it packs; that case is skipped without it.
QUILL=${QUILL_BIN:-}
if [ -z "$QUILL" ] && cmake -S "$ROOT" -B "$BUILD_NATIVE/tools" -DCMAKE_BUILD_TYPE=Release >"$BUILD_NATIVE/quill.log" 2>&1 &&
    cmake --build "$BUILD_NATIVE/tools" --target quill -j2 >>"$BUILD_NATIVE/quill.log" 2>&1; then
    QUILL=$(find "$BUILD_NATIVE/tools" -type f -name quill -perm -u+x | head -1)
fi
[ -n "$QUILL" ] || say "the packer did not build (see $BUILD_NATIVE/quill.log): its case is skipped"
g++ -O2 -std=c++17 -o "$BUILD_NATIVE/make_fixtures" "$ROOT/tests/wine/make_fixtures.cpp" \
    "$ROOT/pack/lzari_encoder.cpp" "$ROOT/extract/lzari_model.cpp" || die "the fixture generator did not build"

# --- the stage: a work directory, a Wine prefix, an X server ---------------------------
RUN=$(mktemp -d /tmp/quill-wine.XXXXXX)
chmod 755 "$RUN"
# QUILL_WINE_PREFIX lets two runs on one machine keep their Wine servers apart.
PREFIX=${QUILL_WINE_PREFIX:-$WINE_HOME/.wine-quill}
MOUNTS=()
XVFB_PID=
as_user() {
    local run=()
    [ "$(id -u)" = 0 ] && run=(runuser -u "$WINE_USER" --)
    "${run[@]}" env WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all \
        DISPLAY=":$DISPLAY_NUMBER" HOME="$WINE_HOME" "$@"
}
cleanup() {
    [ -n "${DISPLAY_NUMBER:-}" ] && as_user wineserver -k >/dev/null 2>&1
    for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null; done
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    if [ -n "${KEEP:-}" ]; then say "kept $RUN"; else rm -rf "$RUN"; fi
}
trap cleanup EXIT

DISPLAY_NUMBER=
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then DISPLAY_NUMBER=$n; break; fi
done
[ -n "$DISPLAY_NUMBER" ] || die "no free X display"
# -ac: the test user may connect without an authority file.
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x1024x24 -ac -nolisten tcp >"$RUN/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 200); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break; sleep 0.05; done
[ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] || die "Xvfb did not start"

if [ ! -f "$PREFIX/system.reg" ]; then
    say "creating the Wine prefix $PREFIX"
    as_user env WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || die "wineboot failed"
    # Unmanaged windows close at once (a window manager is not there to answer), and a
    # crash ends the process instead of opening the debugger's dialog.
    as_user wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    as_user wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi
as_user wineserver -p

FX=$RUN/fx
"$BUILD_NATIVE/make_fixtures" "$STUB" "$FX" || die "fixture generation failed"
cp "$BUILD_NATIVE/driver.exe" "$RUN/"
chown -R "$WINE_USER" "$RUN"

# Drives: S: a 2 MB disk (not enough space), T: an empty disk of 1,050,500,000 clusters of
# 4 KiB (its free thousands pass 2^32, so a 32-bit free figure would wrap to 1,577,704),
# R: a plain directory whose root is the install directory.
mount_drive() {  # LETTER SIZE
    mkdir -p "$RUN/drive-$1"
    if [ "$(id -u)" = 0 ] && mount -t tmpfs -o "size=$2,mode=0777" tmpfs "$RUN/drive-$1" 2>/dev/null; then
        MOUNTS+=("$RUN/drive-$1")
        ln -sfn "$RUN/drive-$1" "$PREFIX/dosdevices/$1:"
    fi
}
mount_drive s 2m
mount_drive u 1m
mount_drive t 4302848000000
mkdir -p "$RUN/drive-r" && chown "$WINE_USER" "$RUN/drive-r"
ln -sfn "$RUN/drive-r" "$PREFIX/dosdevices/r:"

win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }  # native path -> Wine path
TITLE="Quill Test Setup"

# driver STEP ARGS -- STEP ARGS ...: the output goes to the case's log
driver() { as_user wine "$RUN/driver.exe" "$@"; }

# A fresh directory for a case, with copies of a fixture's files in it.
stage() {  # CASE FIXTURE
    local dir=$RUN/cases/$1
    mkdir -p "$dir"
    cp -r "$FX/$2/." "$dir/"
    chown -R "$WINE_USER" "$dir"
    printf '%s' "$dir"
}

# The install-directory dialog, OK with a target, the progress dialog up.
start_install() {  # EXE WORKDIR TARGET
    printf '%s\0' run "$(win "$1")" "$(win "$2")" -- dialog "$TITLE" 1010 -- \
        set 1010 "$3" -- click 1 -- dialog "$TITLE" 1068 --
}
finish_install() {
    printf '%s\0' text 1012 "Install complete succesfully" -- text 1011 OK -- click 1011 -- exit 0 --
}
steps() { local -a s; mapfile -d '' s; driver "${s[@]}" "$@"; }
# The archive's totalSize: the sizes listed in a fixture's expect.txt.
total_size() { awk -F'|' '$1 == "F" { sum += $3 } END { printf "%d", sum }' "$1/expect.txt"; }

# --- cases -----------------------------------------------------------------------------

case_full_install() {  # every file, time, attribute; texts; the post-install command; exit 0
    local d; d=$(stage full_install full)
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' text 1013 "Quill test top line" -- \
        text 1012 "Install complete succesfully" -- text 1011 OK -- bar 0 1183444 1183444 -- \
        bar-pixels -- click 1011 -- exit 0 -- \
        verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt -- \
        file-text "$(win "$d/target/postinstall.txt")" "$(win "$d/target")"
    } | steps
}

case_bar_sweep() {  # the bar's pixels at every change of its picture and between: as a repaint shows them
    local d; d=$(stage bar_sweep full)
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' text 1012 "Install complete succesfully" -- bar 0 1183444 1183444 -- bar-sweep -- \
        bar 0 1183444 1183444 -- bar-pixels -- click 1011 -- exit 0
    } | steps
}

case_packed_by_quill() {  # the packer's installer of the full tree, with the stub built here
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(stage packed full)
    # The source files get the fixture's time stamps; read-only and hidden come from options.
    awk -F'|' '$1 == "F" { print $5, $2 }' "$d/expect.txt" | while read -r time path; do
        touch -d "@$(( time / 10000000 - 11644473600 ))" "$d/source/${path//\\//}"
    done
    "$QUILL" pack "$d/source" -o "$d/packed.exe" --stub "$STUB" -q --no-uninstall --title "Quill Test Product" \
        --window-title "$TITLE" --install-dir 'QuillTest\Product' --background maximized \
        --post-install 'cmd.exe /c cd > postinstall.txt' \
        --attribute locked.txt=readonly --attribute hidden.cfg=hidden || return 1
    chown "$WINE_USER" "$d/packed.exe"
    { start_install "$d/packed.exe" "$d" "$(win "$d/target")"; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt -- \
        file-text "$(win "$d/target/postinstall.txt")" "$(win "$d/target")"
    } | steps
}

# The full fixture packed by quill (times from its expect.txt), with more pack options.
pack_full() {  # CASE OPTIONS...
    local d; d=$(stage "$1" full)
    shift
    awk -F'|' '$1 == "F" { print $5, $2 }' "$d/expect.txt" | while read -r time path; do
        touch -d "@$(( time / 10000000 - 11644473600 ))" "$d/source/${path//\\//}"
    done
    mkdir -p "$d/out"
    "$QUILL" pack "$d/source" -o "$d/out/setup.exe" --stub "$STUB" -q --no-uninstall --title "Quill Test Product" \
        --window-title "$TITLE" --install-dir 'QuillTest\Product' --background maximized \
        --post-install 'cmd.exe /c cd > postinstall.txt' \
        --attribute locked.txt=readonly --attribute hidden.cfg=hidden "$@" >&2 || return 1
    chown -R "$WINE_USER" "$d"
    printf '%s' "$d"
}

case_signed_installers() {  # signed by quill: appended archive, and split with disk2.pak, ...
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    command -v osslsigncode >/dev/null || { say "osslsigncode is missing"; return 77; }
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quill Wine Test" \
        -keyout "$RUN/key.pem" -out "$RUN/cert.pem" 2>/dev/null || return 1
    local sign=(--sign "$RUN/cert.pem" --key "$RUN/key.pem") d
    for layout in single split; do
        if [ $layout = single ]; then d=$(pack_full signed_single "${sign[@]}") || return 1
        else d=$(pack_full signed_split "${sign[@]}" --split-at 200001 --volume-size 300K) || return 1
        fi
        osslsigncode verify -CAfile "$RUN/cert.pem" -in "$d/out/setup.exe" | grep -q MISMATCH && return 1
        { start_install "$d/out/setup.exe" "$d" "$(win "$d/target")"; finish_install
          printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt
        } | steps || return 1
    done
    ls "$d/out/disk2.pak" >/dev/null
}

case_product_icon_and_version() {  # a 16/32/48/256 icon of 29 KB packs whole; Windows reads the version, loads the icon; it installs
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    # Bitmaps of 16, 32 and 48 pixels and a 256-pixel PNG, 29,386 bytes: --icon-all fails
    # unless every image fits.
    python3 "$ROOT/tests/make_icon.py" "$RUN/product.ico" 16,32,48,256 0.035 >&2 || return 1
    local d; d=$(pack_full look --icon "$RUN/product.ico" --icon-all --version 2.5.0.17 \
        --company "Quill Test Ltd") || return 1
    "$QUILL" list "$d/out/setup.exe" | sed -n '/^icon/,/^free/p' >&2
    { printf '%s\0' version "$(win "$d/out/setup.exe")" 2.5.0.17 "Quill Test Product" -- \
        icon-images "$(win "$d/out/setup.exe")" 4 -- icon-load "$(win "$d/out/setup.exe")" 16 32 48 --
        relocated "$(win "$d/out/setup.exe")" --
      start_install "$d/out/setup.exe" "$d" "$(win "$d/target")"; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt
    } | steps
}

case_programs_move_away_from_their_base() {  # both programs mapped elsewhere: every fixup of their relocation tables applied
    cp "$STUB" "$UNINSTALLER" "$RUN/" || return 1
    printf '%s\0' relocated "$(win "$RUN/quillstead.exe")" -- \
        relocated "$(win "$RUN/quillstead-uninstall.exe")" -- | steps
}

case_programs_own_icon() {  # the programs' own PNG icon loads at 16, 32 and 48; --icon-xp's bitmap of it too, and it installs
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    cp "$STUB" "$UNINSTALLER" "$RUN/" || return 1
    local d; d=$(pack_full own_icon --icon-xp) || return 1
    "$QUILL" list "$d/out/setup.exe" | sed -n '/^icon/,/^free/p' >&2
    { printf '%s\0' icon-load "$(win "$RUN/quillstead.exe")" 16 32 48 -- \
        icon-load "$(win "$RUN/quillstead-uninstall.exe")" 16 32 48 -- \
        icon-images "$(win "$d/out/setup.exe")" 1 -- icon-load "$(win "$d/out/setup.exe")" 16 32 48 --
      start_install "$d/out/setup.exe" "$d" "$(win "$d/target")"; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt
    } | steps
}

case_install_dialog_texts_and_quit() {  # texts; Escape and No keep it; quit with Yes ends with 1602
    local d; d=$(stage dialog_quit full)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        text 1010 'C:\Program Files\QuillTest\Product' -- text 1000 "Directory of install" -- \
        text 1002 "Browse..." -- text 1003 "Create folder" -- text 1 OK -- text 1007 Exit -- \
        text 1006 "Required 1183 Kbytes" -- check-state 1003 0 0 -- \
        escape -- sync 1002 -- alive -- \
        close -- box Confirmation "Are not you going to install?" dialog no -- sync 1002 -- alive -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog no -- sync 1002 -- alive -- \
        close -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602 -- \
        absent 'C:\Program Files\QuillTest'
    } | steps && [ -z "$(ls -A "$d" | grep -v -e '^setup.exe$' -e '^expect.txt$' -e '^source$')" ]
}

case_quit_button() {  # the quit button with Yes: nothing extracted, exit 1602
    local d; d=$(stage quit_button full)
    # "watched": the watch that the silent cases rely on sees this installer's windows.
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- watched -- \
        set 1010 "$(win "$d/target")" -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602 -- \
        absent "$(win "$d/target")"
    } | steps
}

case_relative_path() {  # a relative text is read against the current directory
    local d; d=$(stage relative full)
    { start_install "$d/setup.exe" "$d" 'rel\Product'; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/rel/Product")" postinstall.txt
    } | steps
}

case_trailing_backslash_and_deep_path() {  # twelve missing levels, one trailing backslash
    local d; d=$(stage deep full)
    local deep=$d/l1/l2/l3/l4/l5/l6/l7/l8/l9/l10/l11/l12
    { start_install "$d/setup.exe" "$d" "$(win "$deep")\\"; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$deep")" postinstall.txt -- \
        file-text "$(win "$deep/postinstall.txt")" "$(win "$deep")"
    } | steps
}

case_bare_drive_root() {  # "R:" installs into the root of R:, not R:'s current directory
    local d; d=$(stage bare_root full)
    rm -rf "${RUN:?}/drive-r/"*
    { start_install "$d/setup.exe" "$d" 'R:'; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" 'R:' postinstall.txt -- \
        file-text "R:\\postinstall.txt" 'R:\'
    } | steps
}

case_refused_paths() {  # network paths and joined paths over 255 characters: message 7
    local d; d=$(stage refused full)
    local long; long=$(printf 'x%.0s' $(seq 1 250))
    local joined; joined="$(win "$d")\\$long"
    # The message names the whole joined path, not the part that would have fitted.
    local shown="Can't open directory $joined"
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 '\\server\share\Product' -- click 1 -- \
        box Error "Can't open directory \\\\server\\share\\Product" dialog ok -- alive -- \
        set 1010 "$long" -- click 1 -- box Error "$shown" dialog ok -- alive -- \
        set 1010 'C:Product' -- click 1 -- box Error "Can't open directory C:Product" dialog ok -- alive -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps && [ ! -e "$d/$long" ] && [ ! -e "$d/Product" ]
}

# space_message DIR: message 121 as the installer words it for DIR's archive on drive S:,
# from the free space Windows reports there.
space_message() {
    local figures; figures=$(driver free-space 'S:\' | tr -d '\r') || return 1
    local bps spc clusters; read -r bps spc clusters <<<"$figures"
    local free=$(( (bps * spc / 10) * (clusters / 100) ))
    printf 'You have %s kbytes free space, but need %s kbytes.' "$free" $(( $(total_size "$1") / 1000 ))
}

case_not_enough_space() {  # message 121 with the free and needed thousands; the dialog stays
    mountpoint -q "$RUN/drive-s" || { say "no 2 MB drive: mounting a tmpfs needs root"; return 77; }
    local d; d=$(stage no_space big)
    local text; text=$(space_message "$d") || return 1
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 'S:\target' -- click 1 -- \
        box Attention "$text" dialog ok -- alive -- \
        absent 'S:\target' -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps
}

case_free_space_past_32_bits() {  # 4,000,000 thousands needed on a 4.3 TB disk: accepted
    mountpoint -q "$RUN/drive-t" || { say "no 4.3 TB drive: mounting a tmpfs needs root"; return 77; }
    local d; d=$(stage huge huge)
    { start_install "$d/setup.exe" "$d" 'T:\target'; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" 'T:\target'
    } | steps
}

case_break_no_fifty_times() {  # Escape, close box: nothing; held while asked; No changes nothing
    local d; d=$(stage break_no big)
    local total; total=$(total_size "$d")
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' escape -- close -- sync 1011 -- alive -- \
        hold -- still 300 -- bar-pixels -- answer no -- break-no 50 -- \
        hold -- still 200 -- bar-pixels -- answer no -- \
        text 1012 "Install complete succesfully" -- text 1011 OK -- bar 0 "$total" "$total" -- \
        bar-pixels -- click 1011 -- exit 0 -- \
        verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")"
    } | steps
}

case_break_yes() {  # Yes closes the dialog at once, no message follows, exit 1602, files stay
    local d; d=$(stage break_yes big)
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' text 1012 "$(win "$d/target/part1.bin")" -- hold -- answer yes -- gone -- exit 1602 -- \
        exists "$(win "$d/target/part0.bin")" -- absent "$(win "$d/target/tail")"
    } | steps && cmp -s "$d/source/part0.bin" "$d/target/part0.bin"
}

case_read_only_target_file() {  # message 10 after the dialog has closed by itself
    local d; d=$(stage read_only full)
    mkdir -p "$d/target" && echo old >"$d/target/readme.txt" && chmod 444 "$d/target/readme.txt"
    chown -R "$WINE_USER" "$d/target"
    # The first file fails at once: the progress dialog may be gone before it is seen.
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 "$(win "$d/target")" -- click 1 -- \
        box Error "Can't open file readme.txt" background ok -- exit 1603
    } | steps && [ "$(cat "$d/target/readme.txt")" = old ]
}

case_bad_record_type() {  # message 119 naming volume 1; what came before is whole
    local d; d=$(stage bad_type badtype)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 "$(win "$d/target")" -- click 1 -- \
        box Error "Wrong structure of archive $(win "$d/setup.exe")" background ok -- exit 1603 -- \
        verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")"
    } | steps
}

case_post_install_fails() {  # message 15 over the dialog, then a normal end
    local d; d=$(stage bad_post badpost)
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      # A range of 100 has an exact scale: 300 pixels x 100 x 1.0 x 0.01f fill 299, not 300.
      printf '%s\0' box Attention "Can't run process no_such_program_quill.exe /x" dialog ok -- \
        text 1011 OK -- bar 0 100 100 -- bar-pixels --; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")"
    } | steps
}

case_empty_archive() {  # no bytes: 0% on white; the directory record runs; Escape does nothing
    local d; d=$(stage empty empty)
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' text 1012 "Install complete succesfully" -- bar 0 0 0 -- bar-pixels -- \
        escape -- close -- sync 1011 -- alive -- click 1011 -- exit 0 -- verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")"
    } | steps
}

case_volumes_beside() {  # disk1..3.pak beside the program; the background starts minimised
    local d; d=$(stage volumes volumes)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        background-state iconic -- set 1010 "$(win "$d/target")" -- click 1 -- dialog "$TITLE" 1068 --
      finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt
    } | steps
}

case_volume_chosen_elsewhere() {  # disk2.pak picked in the open-file dialog; disk3.pak found beside it
    local d; d=$(stage volume_chosen volumes)
    mkdir -p "$d/other" && mv "$d/disk2.pak" "$d/disk3.pak" "$d/other/" && chown -R "$WINE_USER" "$d/other"
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' openfile "$(win "$d/other/disk2.pak")" --; finish_install
      printf '%s\0' verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")" postinstall.txt
    } | steps
}

case_volume_cancelled() {  # the open-file dialog cancelled: message 10 names disk2.pak
    local d; d=$(stage volume_cancel volumes)
    rm "$d/disk2.pak"
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' openfile cancel -- gone -- box Error "Can't open file disk2.pak" background ok -- exit 1603
    } | steps
}

case_second_instance() {  # a second start raises the first, shows nothing, ends with 1618
    local d; d=$(stage second volumes)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        background-state iconic -- second "$(win "$d/setup.exe")" 1618 -- background-state zoomed -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602 -- \
        run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps
}

case_background_pixels() {  # the gradient bands at client heights 768, 100 and 30; the title
    local d; d=$(stage pixels full)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        background 768 -- background 100 -- background 30 -- screenshot "$(win "$RUN/background.bmp")" -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps
}

# The French installer's windows, each measured ("size NAME WIDTH HEIGHT"), shot into SHOTS
# and its texts checked; then WM_DPICHANGED towards OTHER-DPI for the background and the bar.
dpi_steps() {  # DIR SHOTS OTHER-DPI
    local w; w=$(win "$2")
    printf '%s\0' run "$(win "$1/out/setup.exe")" "$(win "$1")" -- dialog "$TITLE" 1010 -- \
        measure install dialog -- measure title title -- screenshot "$w\\install.bmp" dialog -- \
        screenshot "$w\\background.bmp" -- fits 1000 1003 1006 1 1007 1002 -- \
        browse '*' -- measure browser dialog -- screenshot "$w\\browser.bmp" dialog -- fits 1 2 -- \
        browser-end cancel -- set 1010 "$w\\target" -- click 1 -- dialog "$TITLE" 1068 -- text 1011 OK -- \
        measure progress dialog -- screenshot "$w\\progress.bmp" dialog -- fits 1012 1011 -- \
        bar-pixels -- bar-dpi -- background-dpi "$3" 700 500 -- click 1011 -- exit 0
}

case_high_dpi() {  # at 144 DPI every window 1.5 times its 96-DPI size, no French text clipped; WM_DPICHANGED repaints
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(pack_full high_dpi --language french) || return 1
    mkdir -p "$d/dpi-96" "$d/dpi-144" && chown "$WINE_USER" "$d/dpi-96" "$d/dpi-144"
    dpi_steps "$d" "$d/dpi-96" 144 | steps >"$d/96.log" 2>&1 || { cat "$d/96.log"; return 1; }
    # A prefix of its own, made once and kept beside the main one, so that no other case
    # runs at 144 DPI.
    ( PREFIX=$PREFIX-144dpi
      make_prefix >/dev/null
      as_user wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
      # The desktop process of a new prefix started at 96: the next start reads 144.
      as_user wineserver -k
      dpi_steps "$d" "$d/dpi-144" 96 | steps
      status=$?
      as_user wineserver -k
      exit $status
    ) >"$d/144.log" 2>&1 || { cat "$d/144.log"; return 1; }
    tr -d '\r' <"$d/96.log" | sed 's/^/96 DPI: /'
    tr -d '\r' <"$d/144.log" | sed 's/^/144 DPI: /'
    if [ -n "${KEEP:-}" ]; then
        for f in "$d"/dpi-*/*.bmp; do python3 "$ROOT/tests/wine/bmp2png.py" "$f" "${f%.bmp}.png"; done
    fi
    # Each window (the title, for the background window, which fills the screen at any
    # DPI) measured at 96 DPI first, then at 144: 1.5 times as large within a tenth. Not
    # within 2 pixels: a dialog's height follows its font's line height, 12 pixels at 96
    # DPI and 17 at 144 under Wine, and its frame stays 3 pixels wide.
    cat "$d/96.log" "$d/144.log" | tr -d '\r' | awk '
        $1 != "size" { next }
        !($2 in w) { w[$2] = $3; h[$2] = $4; next }
        { rw = $3 / w[$2]; rh = $4 / h[$2]; ok = rw >= 1.35 && rw <= 1.65 && rh >= 1.35 && rh <= 1.65
          printf "%s: %dx%d at 96 DPI, %dx%d at 144 (%+.1f, %+.1f pixels from 1.5 times; %.3f x %.3f)%s\n",
              $2, w[$2], h[$2], $3, $4, $3 - 1.5 * w[$2], $4 - 1.5 * h[$2], rw, rh, ok ? "" : ": not 1.5 times"
          bad += !ok; n++ }
        END { exit !(n == 4 && !bad) }'
}

case_folder_browser() {  # drives, opening folders by double click and Enter, messages, OK and Cancel
    # (Delta is made hidden and system: it is listed all the same)
    local d; d=$(stage browser full)
    rm -rf "${RUN:?}/drive-r/"* "${RUN:?}/drive-p"
    mkdir -p "$RUN/drive-r/alpha/beta/gamma" "$RUN/drive-r/alpha/beta/Delta" "$RUN/drive-r/alpha/.dotted" \
        "$RUN/drive-r/locked" "$RUN/drive-p/one" "$RUN/drive-p/two"
    touch "$RUN/drive-r/alpha/file.txt"
    echo "Quill Data" >"$RUN/drive-p/.windows-label"  # the volume label of a drive without a device
    chown -R "$WINE_USER" "$RUN/drive-r" "$RUN/drive-p"
    chmod 000 "$RUN/drive-r/locked"
    ln -sfn "$RUN/drive-p" "$PREFIX/dosdevices/p:"
    ln -sfn "$RUN/no-such-drive" "$PREFIX/dosdevices/o:"
    # Wine's mount manager reads the drive links when it starts: a fresh server for them.
    as_user wineserver -k; as_user wineserver -w; as_user wineserver -p
    local B="Select directory"
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        browse "$B" -- drives -- drive c: -- text 1001 'c:\' -- text 1 OK -- text 2 Cancel -- \
        browser-end cancel -- text 1010 'C:\Program Files\QuillTest\Product' -- \
        attributes 'R:\alpha\beta\Delta' 6 -- set 1010 'R:\alpha' -- browse "$B" -- drive r: -- \
        entries '000R:\=1|>001alpha=2|002beta=3' -- text 1001 'R:\alpha' -- \
        open 002beta dblclick -- entries '000R:\=1|001alpha=1|>002beta=2|003Delta=3|003gamma=3' -- \
        text 1001 'R:\alpha\beta' -- browser-pixels -- \
        open 003gamma enter -- entries '000R:\=1|001alpha=1|002beta=1|>003gamma=2' -- \
        list-key 27 -- list-key 9 -- sync 1 -- alive -- \
        open 001alpha dblclick -- entries '000R:\=1|>001alpha=2|002beta=3' -- \
        open '000R:\' enter -- entries '>000R:\=2|001alpha=3|001locked=3' -- text 1001 'R:\' -- \
        open 001locked dblclick -- box Attention "Can't open directory R:\\locked" dialog ok -- \
        entries '000R:\=2|001alpha=3|>001locked=3' -- \
        pick-drive p: -- entries '>000p:\=2|001one=3|001two=3' -- drive 'p: quill data' -- \
        pick-drive o: -- box Attention "Can't read disk o:\\" dialog ok -- drive 'p: quill data' -- \
        entries '>000p:\=2|001one=3|001two=3' -- \
        open 001two enter -- browser-end ok -- text 1010 'p:\two' -- \
        browse "$B" -- entries '000p:\=1|>001two=2' -- pick-drive r: -- browser-end cancel -- text 1010 'p:\two' -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps
    local status=$?
    rm -f "$PREFIX/dosdevices/p:" "$PREFIX/dosdevices/o:"
    return $status
}

case_program_group() {  # the group's shortcuts and their targets; none unchecked or without items
    local d; d=$(stage group group)
    stage group_off group_off >/dev/null
    stage group_none group_none >/dev/null
    rm -rf "${RUN:?}/drive-r/"*
    local programs="Quill Test Group"
    # A fresh Wine server, so that its desktop process, the program manager, traces the
    # commands it receives; no host menu entries for the shortcuts.
    as_user wineserver -k; as_user wineserver -w
    { printf '%s\0' run "$(win "$RUN/cases/group_none/setup.exe")" "$(win "$RUN/cases/group_none")" -- \
        dialog "$TITLE" 1010 -- check-state 1003 0 0 -- set 1010 "$(win "$RUN/cases/group_none/target")" -- \
        click 1 -- dialog "$TITLE" 1068 --; finish_install
      printf '%s\0' run "$(win "$RUN/cases/group_off/setup.exe")" "$(win "$RUN/cases/group_off")" -- \
        dialog "$TITLE" 1010 -- check-state 1003 1 1 -- click 1003 -- sync 1002 -- check-state 1003 0 1 -- \
        set 1010 "$(win "$RUN/cases/group_off/target")" -- click 1 -- dialog "$TITLE" 1068 --; finish_install
      start_install "$d/setup.exe" "$d" 'R:\g'; finish_install
      printf '%s\0' link "$programs" "Read Me" 'R:\g\readme.txt' -- \
        link "$programs" Notepad 'C:\windows\notepad.exe' -- link "$programs" Guide 'R:\g\docs\guide.txt' -- \
        no-group "Quill Unchecked Group" -- no-group "Quill Empty Group"
    } | { mapfile -d '' s; as_user env WINEDEBUG=trace+shell WINEDLLOVERRIDES=winemenubuilder.exe=d \
        wine "$RUN/driver.exe" "${s[@]}" 2>"$d/trace.log"; }
    local status=$?
    # The item with arguments was sent whole and last; the program manager refuses it.
    local sent='[CreateGroup(Quill Test Group)][ShowGroup(Quill Test Group, 1)][AddItem(R:\\g\\readme.txt,Read Me)][AddItem(C:\\windows\\notepad.exe,Notepad)][AddItem(R:\\g\\docs\\guide.txt,Guide)][AddItem(R:\\g\\readme.txt /x,Setup)]'
    if [ $status = 0 ] && ! grep -qF "data=L\"$sent\"" "$d/trace.log"; then
        say "the program manager did not receive $sent:"; grep -a 'Dde_OnExecute' "$d/trace.log"; status=1
    fi
    [ $(grep -ac 'Dde_OnExecute' "$d/trace.log") = 1 ] || { say "not exactly one execute"; status=1; }
    # The new group opened a window of Wine's explorer: a fresh server for the next cases.
    as_user wineserver -k; as_user wineserver -w; as_user wineserver -p
    return $status
}

# A small tree packed by quill with a group of shortcuts: a name and titles a file name
# cannot hold, an item with arguments behind a target with a blank, a quoted target.
SHORTCUT_GROUP="Quill: Shortcuts"   # the folder: "Quill_ Shortcuts"
pack_shortcuts() {  # CASE OPTIONS...
    local d=$RUN/cases/$1
    shift
    mkdir -p "$d/source/docs"
    printf 'guide\r\n' >"$d/source/docs/guide.txt"
    printf 'tool' >"$d/source/my tool.exe"
    "$QUILL" pack "$d/source" -o "$d/setup.exe" --stub "$STUB" --uninstaller "$UNINSTALLER" -q \
        --title "Quill Shortcut Product" --window-title "$TITLE" --install-dir 'QuillTest\Shortcuts' \
        --group-name "$SHORTCUT_GROUP" --group-item 'Guide|\docs\guide.txt' \
        --group-item 'Tool: run?|\my tool.exe /x "a b"' \
        --group-item 'Notepad|"C:\windows\notepad.exe" readme.txt' "$@" >&2 || return 1
    chown -R "$WINE_USER" "$d"
    printf '%s' "$d"
}
# The three shortcuts of pack_shortcuts, under user's or common Programs, for TARGET.
shortcut_steps() {  # user|common TARGET
    local g="Quill_ Shortcuts" t; t=$(win "$2")
    printf '%s\0' shortcut "$1" "$g" Guide "$t\docs\guide.txt" "" "$t\docs" -- \
        shortcut "$1" "$g" "Tool_ run_" "$t\my tool.exe" '/x "a b"' "$t" -- \
        shortcut "$1" "$g" Notepad 'C:\windows\notepad.exe' readme.txt 'C:\windows' --
}

case_shortcuts_for_every_user() {  # the group as .lnk files in the all-users Programs; no other process shows a window
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(pack_shortcuts shortcuts) || return 1
    local common="$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
    rm -rf "$common/Quill_ Shortcuts"
    find "$PREFIX/drive_c/users" -path '*Programs/Quill_ Shortcuts' -prune -exec rm -rf {} + 2>/dev/null
    { printf '%s\0' foreign-watch --; start_install "$d/setup.exe" "$d" "$(win "$d/target")"; finish_install
      printf '%s\0' no-foreign-window 5000 --; shortcut_steps common "$d/target"
      printf '%s\0' no-group-in user "Quill_ Shortcuts"
    } | steps || return 1
    ls "$common/Quill_ Shortcuts" >&2
    # The install log lists the folder and each shortcut, for the uninstall.
    local log; log=$(tr -d '\r' <"$d/target/uninstall.log")
    for entry in "group-folder C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Quill_ Shortcuts" \
                 "shortcut C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Quill_ Shortcuts\Tool_ run_.lnk"; do
        grep -qxF -- "$entry" <<<"$log" || { say "the install log lacks: $entry"; say "$log"; return 1; }
    done
    # The uninstall takes them away again.
    printf '%s\0' run "$(win "$d/target/uninstall.exe")" "$(win "$d")" "/S" -- unseen-exit 0 | steps || return 1
    [ ! -e "$common/Quill_ Shortcuts" ] || { say "the uninstall left $common/Quill_ Shortcuts"; return 1; }
}

case_shortcuts_for_the_user() {  # --privileges user: the user's Programs folder
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(pack_shortcuts shortcuts_user --privileges user --install-dir 'C:\QuillUser\Shortcuts') || return 1
    rm -rf "$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quill_ Shortcuts"
    find "$PREFIX/drive_c/users" -path '*Programs/Quill_ Shortcuts' -prune -exec rm -rf {} + 2>/dev/null
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"; finish_install
      shortcut_steps user "$d/target"; printf '%s\0' no-group-in common "Quill_ Shortcuts"
    } | steps
}

case_uninstall_id_without_program() {  # an archive with the uninstall's id and no program: installed, no entry, no log
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(pack_shortcuts no_program) || return 1
    # The program's key renamed in place: the same length, so the block and its trailer stay sound.
    python3 -c "
import sys
data = open(sys.argv[1], 'rb').read()
assert data.count(b'uninstall.program=') == 1
open(sys.argv[1], 'wb').write(data.replace(b'uninstall.program=', b'uninstall.xrogram='))
" "$d/setup.exe" || return 1
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quill Shortcut Product'
    as_user wine reg delete "$key" /f >/dev/null 2>&1
    printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /NOGROUP /D=$(win "$d/target")" -- unseen-exit 0 |
        steps || return 1
    [ -f "$d/target/docs/guide.txt" ] || { say "not installed"; return 1; }
    [ ! -e "$d/target/uninstall.log" ] || { say "an install log without a program to read it"; return 1; }
    ! as_user wine reg query "$key" >/dev/null 2>&1 || { say "an entry naming no program"; return 1; }
}

case_dde_group_opens_explorer() {  # --group-kind dde: the conversation as before, and the watch sees the shell's window
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(pack_shortcuts shortcuts_dde --group-kind dde) || return 1
    find "$PREFIX/drive_c/users" -path '*Programs/Quill_ Shortcuts' -prune -exec rm -rf {} + 2>/dev/null
    as_user wineserver -k; as_user wineserver -w
    { printf '%s\0' foreign-watch --; start_install "$d/setup.exe" "$d" "$(win "$d/target")"; finish_install
      printf '%s\0' no-foreign-window 5000
    } | steps >"$d/steps.log" 2>&1
    local status=$?
    cat "$d/steps.log" >&2
    as_user wineserver -k; as_user wineserver -w; as_user wineserver -p
    # The watch must fail here: that is what shows it can.
    [ $status != 0 ] && grep -q 'another process showed a window' "$d/steps.log"
}

# --- the command line and silent installs ---------------------------------------------

# The log's lines without their CR, for grep.
log_lines() { tr -d '\r' <"$1" | sed '1s/^\xEF\xBB\xBF//'; }  # the lines, without the byte-order mark
# An installed example: the product's tree, with the uninstaller and its log at the top.
same_tree() {  # SOURCE TARGET
    [ -f "$2/uninstall.exe" ] && [ -f "$2/uninstall.log" ] || { say "no uninstaller or log in $2"; return 1; }
    diff -r -x uninstall.exe -x uninstall.log "$1" "$2"
}
# Fails naming the line when the log lacks it (a whole line, fixed text).
log_has() {  # LOG LINE
    log_lines "$1" | grep -qxF -- "$2" && return 0
    say "the log lacks: $2"; say "--- log:"; log_lines "$1"; return 1
}

# The example product packed by quill, into a case directory.
stage_example() {  # CASE
    local dir=$RUN/cases/$1
    mkdir -p "$dir"
    # Each case installs the example afresh: no earlier case's entry leads it elsewhere.
    as_user wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ExampleViewer' /f >/dev/null 2>&1
    "$QUILL" pack "$ROOT/examples/product" "$ROOT/examples/product.ini" -o "$dir/example-setup.exe" \
        --stub "$STUB" -q >&2 || return 1
    chown -R "$WINE_USER" "$dir"
    printf '%s' "$dir"
}

case_silent_install() {  # the example product: no window at any moment, the tree, the log, exit 0
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(stage_example silent_install) || return 1
    local target="$d/silent target/Example Viewer"
    # /D= last, with blanks and no quotes; the options in mixed case.
    find "$PREFIX/drive_c/users" -path '*Programs/Example Viewer' -prune -exec rm -rf {} + 2>/dev/null
    rm -rf "$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Example Viewer"
    # The group too, as shortcuts for every user (quill's default kind).
    { printf '%s\0' run "$(win "$d/example-setup.exe")" "$(win "$d")" \
        "/log=setup.log /s /D=$(win "$target")" -- unseen-exit 0 -- \
        shortcut common "Example Viewer" "Read Me" "$(win "$target/README.TXT")" "" "$(win "$target")" -- \
        shortcut common "Example Viewer" Manual "$(win "$target/docs/MANUAL.TXT")" "" "$(win "$target/docs")"
    } | steps || return 1
    # The new group opened a window of Wine's explorer: a fresh server for the next cases.
    as_user wineserver -k; as_user wineserver -w; as_user wineserver -p
    same_tree "$ROOT/examples/product" "$target" || return 1
    local log=$d/setup.log
    log_has "$log" "start: \"$(win "$d/example-setup.exe")\" /log=setup.log /s /D=$(win "$target")" &&
    log_has "$log" "directory: $(win "$target")" &&
    log_has "$log" "file: $(win "$target/docs/MANUAL.TXT")" &&
    log_has "$log" "group: Example Viewer" &&
    log_has "$log" "install log: $(win "$target")\\uninstall.log" &&
    log_has "$log" "key: HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ExampleViewer" &&
    log_has "$log" "not run (no /RUN): notepad.exe README.TXT" &&
    log_has "$log" "end: exit code 0" || return 1
    local files; files=$(find "$ROOT/examples/product" -type f | wc -l)
    files=$((files + 1))  # and the uninstaller
    [ "$(log_lines "$log" | grep -c '^file: ')" = "$files" ] || { say "not $files file lines"; return 1; }
    # The end is the last line: nothing is written after it.
    [ "$(log_lines "$log" | tail -n 1)" = "end: exit code 0" ]
}

case_silent_default_directory_run_and_nogroup() {  # no /D=: the default; /RUN; /NOGROUP
    local d; d=$(stage silent_default full)
    local default="$PREFIX/drive_c/Program Files/QuillTest/Product"
    rm -rf "$PREFIX/drive_c/Program Files/QuillTest"
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /RUN /LOG=$(win "$d/setup.log")" -- \
        unseen-exit 0 -- \
        verify "$(win "$d/expect.txt")" "$(win "$d/source")" 'C:\Program Files\QuillTest\Product' postinstall.txt -- \
        file-text 'C:\Program Files\QuillTest\Product\postinstall.txt' 'C:\Program Files\QuillTest\Product'
    } | steps
    local status=$?
    rm -rf "$PREFIX/drive_c/Program Files/QuillTest"
    [ $status = 0 ] && log_has "$d/setup.log" "run: cmd.exe /c cd > postinstall.txt" || return 1
    [ -n "$QUILL" ] || return 0
    # The example product has group items: /NOGROUP leaves the group out.
    local e; e=$(stage_example silent_nogroup) || return 1
    { printf '%s\0' run "$(win "$e/example-setup.exe")" "$(win "$e")" \
        "/NOGROUP /S /LOG=setup.log /D=$(win "$e/target")" -- unseen-exit 0
    } | steps && same_tree "$ROOT/examples/product" "$e/target" &&
    log_has "$e/setup.log" "end: exit code 0" && ! log_lines "$e/setup.log" | grep -q '^group'
}

case_silent_not_enough_space() {  # 112, message 121 in the log, nothing created
    mountpoint -q "$RUN/drive-s" || { say "no small drive: tmpfs could not be mounted"; return 77; }
    local d; d=$(stage silent_space big)
    local text; text=$(space_message "$d") || return 1
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /LOG=setup.log /D=S:\\target" -- \
        unseen-exit 112 -- absent 'S:\target'
    } | steps &&
    log_has "$d/setup.log" "message 121: $text" &&
    log_has "$d/setup.log" "end: exit code 112"
}

case_silent_missing_volume() {  # no prompt, no dialog: 1603 at once, for disk2.pak and disk1.pak
    local d; d=$(stage silent_volume volumes)
    rm "$d/disk2.pak"
    # Well inside the driver's limit: a prompt would hold it until then.
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /LOG=setup.log /D=$(win "$d/target")" -- \
        unseen-exit 1603 20000
    } | steps &&
    log_has "$d/setup.log" "missing volume: disk2.pak" &&
    log_has "$d/setup.log" "message 10: Can't open file disk2.pak" &&
    log_has "$d/setup.log" "end: exit code 1603" || return 1
    rm "$d/disk1.pak" "$d/setup.log"
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /LOG=setup.log /D=$(win "$d/target2")" -- \
        unseen-exit 1603 20000 -- absent "$(win "$d/target2")"
    } | steps &&
    log_has "$d/setup.log" "missing volume: disk1.pak" && log_has "$d/setup.log" "end: exit code 1603"
}

case_silent_read_only_file() {  # a read-only file in the way: 1603, message 10 logged, file kept
    local d; d=$(stage silent_read_only full)
    mkdir -p "$d/target" && echo old >"$d/target/readme.txt" && chmod 444 "$d/target/readme.txt"
    chown -R "$WINE_USER" "$d/target"
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /D=$(win "$d/target")  /LOG=x" -- unseen-exit 1603
    } | steps || return 1
    # /LOG=x came after /D=: part of the path, which does not exist; the real one is untouched.
    [ "$(cat "$d/target/readme.txt")" = old ] && [ ! -e "$d/x" ] || return 1
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/LOG=\"$(win "$d/a log.txt")\" /S /D=$(win "$d/target")" -- \
        unseen-exit 1603
    } | steps &&
    log_has "$d/a log.txt" "message 10: Can't open file readme.txt" &&
    log_has "$d/a log.txt" "end: exit code 1603" && [ "$(cat "$d/target/readme.txt")" = old ]
}

case_command_line() {  # /?, an unknown option (box or log) and 1639; /D= fills the dialog
    local d; d=$(stage command_line full)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/?" -- \
        box-start Setup "Usage: setup [/S]" ok -- exit 1639 -- \
        run "$(win "$d/setup.exe")" "$(win "$d")" "/S/D=x" -- \
        box-start Setup "Not understood: /S/D=x" ok -- exit 1639 -- \
        run "$(win "$d/setup.exe")" "$(win "$d")" "/s /frobnicate /log=setup.log" -- unseen-exit 1639 -- \
        run "$(win "$d/setup.exe")" "$(win "$d")" "/LOG=shown.log /D=C:\\Some Where\\Product " -- \
        dialog "$TITLE" 1010 -- text 1010 'C:\Some Where\Product' -- \
        set 1010 '\\server\share' -- click 1 -- box Error "Can't open directory \\\\server\\share" dialog ok -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps && log_has "$d/setup.log" "message: Not understood: /frobnicate" &&
    log_has "$d/setup.log" "end: exit code 1639" && [ ! -e "$d/target" ] &&
    # Without /S the log is written as well, the messages shown among its lines.
    log_has "$d/shown.log" "message 7: Can't open directory \\\\server\\share" &&
    log_has "$d/shown.log" "end: exit code 1602"
}

case_silent_second_start_waits() {  # a silent start waits for the running install, then installs
    local d; d=$(stage silent_waits full)
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        also "$(win "$d/setup.exe")" "$(win "$d")" "/S /LOG=setup.log /D=$(win "$d/target")" -- \
        also-waits 2000 -- absent "$(win "$d/target")" -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602 -- \
        also-exit 0 -- verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/target")"
    } | steps && log_has "$d/setup.log" "end: exit code 0"
}

case_privileges_manifest() {  # read back with windres: admin by default, asInvoker for user
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    command -v i686-w64-mingw32-windres >/dev/null || { say "no windres"; return 77; }
    local d=$RUN/cases/privileges
    mkdir -p "$d"
    level() { i686-w64-mingw32-windres -i "$1" -O rc | grep -o 'requestedExecutionLevel level=""[A-Za-z]*""'; }
    "$QUILL" pack "$ROOT/examples/product" "$ROOT/examples/product.ini" -o "$d/admin.exe" --stub "$STUB" -q &&
    "$QUILL" pack "$ROOT/examples/product" "$ROOT/examples/product.ini" -o "$d/user.exe" --stub "$STUB" -q \
        --privileges user --install-dir 'C:\Tools\Viewer' || return 1
    [ "$(level "$d/admin.exe")" = 'requestedExecutionLevel level=""requireAdministrator""' ] &&
    [ "$(level "$d/user.exe")" = 'requestedExecutionLevel level=""asInvoker""' ] &&
    [ "$(level "$STUB")" = 'requestedExecutionLevel level=""requireAdministrator""' ] || return 1
    # DPI awareness and themed controls, also in the copy whose level quill rewrote.
    for exe in "$STUB" "$d/user.exe"; do
        local rc; rc=$(i686-w64-mingw32-windres -i "$exe" -O rc)
        grep -qF '<dpiAware xmlns=""http://schemas.microsoft.com/SMI/2005/WindowsSettings"">true/pm</dpiAware>' <<<"$rc" &&
        grep -qF '<dpiAwareness xmlns=""http://schemas.microsoft.com/SMI/2016/WindowsSettings"">PerMonitorV2, PerMonitor</dpiAwareness>' <<<"$rc" &&
        grep -qF 'name=""Microsoft.Windows.Common-Controls"" version=""6.0.0.0""' <<<"$rc" ||
            { say "$exe: the manifest lacks an entry"; grep -A30 ' 24 ' <<<"$rc"; return 1; }
    done
}

case_close_request_in_each_phase() {  # WM_CLOSE ends the process in every phase: 1602, or 0 after the end
    local d; d=$(stage close_request big)
    # In the install-directory dialog: nothing is created.
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 "$(win "$d/target")" -- wm-close -- exit 1602 -- absent "$(win "$d/target")" --
      # While the worker writes: it stops at its next safe point, no question, no message,
      # the finished files whole; and the next start is not taken for a second instance.
      start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' text 1012 "$(win "$d/target/part1.bin")" -- wm-close -- gone -- exit 1602 -- \
        absent "$(win "$d/target/tail")" --
      # While the break question waits for an answer: answered for nobody, the same end.
      start_install "$d/setup.exe" "$d" "$(win "$d/asked")"
      printf '%s\0' text 1012 "$(win "$d/asked/part1.bin")" -- hold -- wm-close -- gone -- exit 1602 -- \
        absent "$(win "$d/asked/tail")" --
      # After the end, with the finish texts up.
      start_install "$d/setup.exe" "$d" "$(win "$d/again")"
      printf '%s\0' text 1012 "Install complete succesfully" -- text 1011 OK -- wm-close -- exit 0 -- \
        verify "$(win "$d/expect.txt")" "$(win "$d/source")" "$(win "$d/again")"
    } | steps && cmp -s "$d/source/part0.bin" "$d/target/part0.bin" &&
        cmp -s "$d/source/part0.bin" "$d/asked/part0.bin"
}

case_close_request_at_volume_prompts() {  # the prompt is answered for nobody: 1602, nothing more shown
    local d; d=$(stage close_prompt volumes)
    rm "$d/disk2.pak"
    # A volume on drive A: or B: is asked for with a prompt first; A: is the staged folder.
    ln -sfn "$d" "$PREFIX/dosdevices/a:"
    { start_install "$d/setup.exe" "$d" "$(win "$d/target")"
      printf '%s\0' openfile-up -- wm-close -- gone -- box-gone -- exit 1602 --
      printf '%s\0' run 'A:\setup.exe' 'A:\' -- dialog "$TITLE" 1010 -- set 1010 "$(win "$d/floppy")" -- \
        click 1 -- dialog "$TITLE" 1068 -- box-up Attention "Insert disk 2" dialog -- \
        wm-close -- gone -- box-gone -- exit 1602
    } | steps
    local status=$?
    rm -f "$PREFIX/dosdevices/a:"
    return $status
}

case_long_current_directory() {  # a current directory over 255 characters: message 7, no guess
    local d; d=$(stage long_cwd full)
    # The Windows form Z:\... of the working directory comes to 257 characters.
    local base; base="$(win "$d")\\"
    local long="$d/$(printf 'c%.0s' $(seq 1 $(( 257 - ${#base} ))))"
    mkdir -p "$long" && chown "$WINE_USER" "$long"
    # A full path refused first leaves its text where a joined path would be built.
    local missing; missing="Q:\\$(printf 'q%.0s' $(seq 1 200))"
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$long")" -- dialog "$TITLE" 1010 -- \
        set 1010 "$missing" -- click 1 -- box Error "Can't open directory $missing" dialog ok -- alive -- \
        set 1010 'Product' -- click 1 -- box Error "Can't open directory Product" dialog ok -- alive -- \
        click 1007 -- box Confirmation "Are not you going to install?" dialog yes -- exit 1602
    } | steps && [ ! -e "$long/Product" ]
}

case_full_disk() {  # a real full disk: the write failure names the file, exit 1603, earlier files whole
    mountpoint -q "$RUN/drive-u" || { say "no small drive: tmpfs could not be mounted"; return 77; }
    local d; d=$(stage full_disk fulldisk)
    # The header understates the content, so the free-space check passes on the 1 MB drive.
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 'U:\target' -- click 1 -- \
        box Error "Error writing into file second.bin" background ok -- exit 1603
    } | steps && cmp -s "$d/source/first.bin" "$RUN/drive-u/target/first.bin"
}

# --- the uninstaller, on a tree staged as an install leaves it ----------------------------
UNINSTALL_KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillTest'
filetime() { printf '%016X' $(( ($1 + 11644473600) * 10000000 )); }  # Unix seconds -> FILETIME
crlf() { printf '%s\r\n' "$@"; }

# The Wine user's temporary folder, as a native path; listed before and after each run.
temp_dir() {
    local t; t=$(as_user wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
    as_user winepath -u "$t" 2>/dev/null
}
TEMP_NATIVE=
temp_listing() {
    [ -n "$TEMP_NATIVE" ] || TEMP_NATIVE=$(temp_dir)
    ls -A "$TEMP_NATIVE" | sort
}
# Waits until the temporary folder holds what it held before (the eraser's copy is gone).
temp_as_before() {  # LISTING
    local i
    [ -d "$TEMP_NATIVE" ] || { say "no temporary folder: $TEMP_NATIVE"; return 1; }
    for i in $(seq 1 300); do
        [ "$(temp_listing)" = "$1" ] && return 0
        sleep 0.05
    done
    say "the temporary folder keeps: $(diff <(printf '%s\n' "$1") <(temp_listing) | grep '^>')"
    return 1
}

# An installed tree at $d/apps/Example/Viewer (the install made Example and Viewer): the
# uninstaller and its log, files with known times (one read-only), a folder tree; the key
# under ROOT. Sets d and top. EXTRA lines go into the log before "complete".
stage_installed() {  # CASE ROOT [EXTRA-LINE...]
    d=$RUN/cases/$1
    top=$d/apps/Example/Viewer
    local root=$2
    shift 2
    mkdir -p "$top/docs/deep"
    cp "$UNINSTALLER" "$top/uninstall.exe"
    printf 'alpha\r\n' >"$top/a.txt"
    printf 'read me' >"$top/docs/readme.txt"
    head -c 3000 /dev/urandom >"$top/docs/deep/b.bin"
    printf 'original' >"$top/changed.txt"
    local t=1700000000 f w
    w=$(win "$top")
    for f in uninstall.exe a.txt docs/readme.txt docs/deep/b.bin changed.txt; do touch -d "@$t" "$top/$f"; done
    {   printf '\xEF\xBB\xBF'
        crlf 'quillstead-install-log 1' 'id QuillTest' 'title Quill Test' 'program uninstall.exe' \
            "key $root $UNINSTALL_KEY" "directory $w" 'created 2' 'text 200 Uninstall %s' \
            'text 201 Do you want to remove %s and all of its files?' 'text 202 %s has been removed.' \
            'text 203 %s has been removed. These files were changed or added after the install and have been kept:' \
            'text 205 %s has already been removed.' 'text 206 Can'"'"'t remove %s'
        crlf "file $(stat -c %s "$top/uninstall.exe") $(filetime $t) uninstall.exe" 'folder docs' 'folder docs\deep'
        for f in a.txt docs/readme.txt docs/deep/b.bin changed.txt; do
            crlf "file $(stat -c %s "$top/$f") $(filetime $t) ${f//\//\\}"
        done
        [ $# -gt 0 ] && crlf "$@"
        crlf complete
        printf 'file 1 0000000000000001 torn'  # the install ended inside this write
    } >"$top/uninstall.log"
    chown -R "$WINE_USER" "$d"
    as_user wine reg add "$root\\$UNINSTALL_KEY" /v InstallLocation /d "$w" /f >/dev/null 2>&1 &&
    as_user wine reg add "$root\\$UNINSTALL_KEY" /v UninstallString /d "\"$w\\uninstall.exe\"" /f >/dev/null 2>&1 &&
    as_user wine reg add "$root\\$UNINSTALL_KEY" /v QuietUninstallString /d "\"$w\\uninstall.exe\" /S" /f \
        >/dev/null 2>&1 && driver attributes "$(win "$top/docs/deep/b.bin")" 1 >/dev/null
}
key_present() { as_user wine reg query "$1\\$UNINSTALL_KEY" >/dev/null 2>&1; }
# Every file and the log still there: nothing was removed.
untouched() {
    local f
    for f in uninstall.exe uninstall.log a.txt docs/readme.txt docs/deep/b.bin changed.txt; do
        [ -e "$top/$f" ] || { say "$f was removed"; return 1; }
    done
}

case_uninstall_silent_keeps_the_users_files() {  # QuietUninstallString: the install goes, changed and added files stay
    TEMP_NATIVE=$(temp_dir)
    # Shortcuts in a folder of their own, and a program manager group.
    local menu=$RUN/cases/uninstall_silent/menu/Quill Test
    local programs; programs=$(as_user wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
    programs=$(as_user winepath -u "$programs\Microsoft\Windows\Start Menu\Programs")
    mkdir -p "$menu" "$programs/Quill Test Group" && printf 'l' >"$menu/Viewer.lnk" && printf 'k' >"$menu/Keep.lnk" &&
        printf 'g' >"$programs/Quill Test Group/Viewer.lnk" && chown -R "$WINE_USER" "$programs/Quill Test Group"
    stage_installed uninstall_silent HKLM "shortcut $(win "$menu/Viewer.lnk")" "group-folder $(win "$menu")" \
        'dde-group Quill Test Group' "shortcut $(win "$menu/Other.lnk")" || return 1
    printf 'changed by the user' >"$top/changed.txt"
    printf 'mine' >"$top/docs/mine.txt"
    chown "$WINE_USER" "$top/changed.txt" "$top/docs/mine.txt"
    local quiet exe arguments before
    quiet=$(as_user wine reg query "HKLM\\$UNINSTALL_KEY" /v QuietUninstallString 2>/dev/null |
        tr -d '\r' | sed -n 's/^ *QuietUninstallString *REG_SZ *//p')
    exe=${quiet#\"}; exe=${exe%%\"*}; arguments="${quiet#*\" } /LOG=$(win "$d/uninstall.txt")"
    [ -n "$exe" ] || { say "no QuietUninstallString"; return 1; }
    before=$(temp_listing)
    printf '%s\0' run "$exe" "$(win "$d")" "$arguments" -- unseen-exit 0 -- \
        vanishes "$(win "$top/uninstall.exe")" -- absent "$(win "$top/uninstall.log")" -- \
        absent "$(win "$top/a.txt")" -- absent "$(win "$top/docs/readme.txt")" -- \
        absent "$(win "$top/docs/deep")" -- exists "$(win "$top/changed.txt")" -- \
        exists "$(win "$top/docs/mine.txt")" -- absent "$(win "$menu/Viewer.lnk")" -- \
        exists "$(win "$menu/Keep.lnk")" -- no-group "Quill Test Group" | steps || return 1
    say "temporary folder $TEMP_NATIVE"
    ! key_present HKLM && temp_as_before "$before" &&
    log_has "$d/uninstall.txt" "kept: $(win "$top/changed.txt")" &&
    log_has "$d/uninstall.txt" "kept: $(win "$top/docs/mine.txt")" &&
    log_has "$d/uninstall.txt" "key: removed" && log_has "$d/uninstall.txt" "group: Quill Test Group: deleted" &&
    rm "$menu/Keep.lnk" && rmdir "$menu" && log_has "$d/uninstall.txt" "end: exit code 0" &&
    [ "$(ls -A "$top")" = "$(printf 'changed.txt\ndocs')" ]
}

case_uninstall_interactive_yes_and_no() {  # No: 1602, nothing removed; Yes: all of it goes, folders too
    TEMP_NATIVE=$(temp_dir)
    stage_installed uninstall_asked HKCU || return 1
    local exe; exe=$(win "$top/uninstall.exe")
    local before; before=$(temp_listing)
    printf '%s\0' run "$exe" "$(win "$d")" -- \
        box "Uninstall Quill Test" "Do you want to remove Quill Test and all of its files?" none no -- \
        exit 1602 | steps && untouched && key_present HKCU || return 1
    printf '%s\0' run "$exe" "$(win "$d")" -- \
        box "Uninstall Quill Test" "Do you want to remove Quill Test and all of its files?" none yes -- \
        box "Uninstall Quill Test" "Quill Test has been removed." none ok -- exit 0 -- \
        vanishes "$(win "$d/apps/Example")" -- exists "$(win "$d/apps")" | steps || return 1
    ! key_present HKCU && temp_as_before "$before"
}

case_uninstall_refuses_damaged_logs() {  # no magic line, ..\..\x, the Windows folder, another folder: 1603, nothing removed
    local variant other
    for variant in magic dotdot windows shortcut elsewhere; do
        case $variant in
            dotdot) stage_installed "refused_$variant" HKCU 'file 1 0000000000000001 ..\..\x' || return 1 ;;
            shortcut) stage_installed "refused_$variant" HKCU 'shortcut C:\windows\win.ini.lnk' || return 1 ;;
            *) stage_installed "refused_$variant" HKCU || return 1 ;;
        esac
        case $variant in
            magic) sed -i '1s/install-log 1/install-log 9/' "$top/uninstall.log" ;;
            windows) sed -i 's/^directory .*/directory C:\\windows\r/' "$top/uninstall.log" ;;
            elsewhere) other=$(win "$d/apps/Example"); sed -i "s/^directory .*/directory ${other//\\/\\\\}\r/" "$top/uninstall.log" ;;
        esac
        printf 'x' >"$d/apps/x" && chown "$WINE_USER" "$d/apps/x"
        printf '%s\0' run "$(win "$top/uninstall.exe")" "$(win "$d")" "/S /LOG=$(win "$d/uninstall.txt")" -- \
            unseen-exit 1603 | steps || return 1
        untouched && key_present HKCU && [ -e "$d/apps/x" ] || return 1
        log_has "$d/uninstall.txt" "message 204: The install log $(win "$top/uninstall.log") is missing or damaged. Nothing has been removed." ||
            return 1
        grep -a 'refused' "$d/uninstall.txt"
        [ $variant != elsewhere ] || log_has "$d/uninstall.txt" "refused: the install log names another directory" || return 1
        as_user wine reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
    done
    # Shown: the fixed English text, the log having none to offer.
    stage_installed refused_shown HKCU || return 1
    printf 'damaged' >"$top/uninstall.log"
    printf '%s\0' run "$(win "$top/uninstall.exe")" "$(win "$d")" -- \
        box Uninstall "The install log $(win "$top/uninstall.log") is missing or damaged. Nothing has been removed." none ok -- \
        exit 1603 | steps && untouched
    local status=$?
    as_user wine reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
    return $status
}

case_uninstall_run_twice() {  # a second start waits for the first, then says "already removed"; so does a later one
    stage_installed twice HKCU || return 1
    local exe; exe=$(win "$top/uninstall.exe")
    printf '%s\0' run "$exe" "$(win "$d")" -- \
        box-up "Uninstall Quill Test" "Do you want to remove Quill Test and all of its files?" none -- \
        also "$exe" "$(win "$d")" "/S /LOG=$(win "$d/second.txt")" -- also-waits 500 -- \
        box "Uninstall Quill Test" "Do you want to remove Quill Test and all of its files?" none yes -- \
        box "Uninstall Quill Test" "Quill Test has been removed." none ok -- exit 0 -- also-exit 0 -- \
        vanishes "$(win "$d/apps/Example")" | steps || return 1
    log_has "$d/second.txt" "message 205: Quill Test has already been removed." || return 1
    # Later, a copy left elsewhere: no log and no key name its folder. Nothing is deleted.
    mkdir -p "$d/later" && cp "$UNINSTALLER" "$d/later/uninstall.exe" && printf 'x' >"$d/later/other.txt" &&
        chown -R "$WINE_USER" "$d/later"
    printf '%s\0' run "$(win "$d/later/uninstall.exe")" "$(win "$d")" "/S /LOG=$(win "$d/later.txt")" -- \
        unseen-exit 0 | steps || return 1
    log_has "$d/later.txt" "message 205: $(win "$d/later") has already been removed." &&
    [ -e "$d/later/uninstall.exe" ] && [ -e "$d/later/other.txt" ] || return 1
    # A key that names the folder without its log is a damaged install, not a removed one.
    as_user wine reg add "HKCU\\$UNINSTALL_KEY" /v InstallLocation /d "$(win "$d/later")" /f >/dev/null 2>&1
    printf '%s\0' run "$(win "$d/later/uninstall.exe")" "$(win "$d")" "/S /LOG=$(win "$d/later.txt")" -- \
        unseen-exit 1603 | steps
    local status=$?
    as_user wine reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
    [ $status = 0 ] && log_has "$d/later.txt" "message 204: The install log $(win "$d/later/uninstall.log") is missing or damaged. Nothing has been removed."
}

case_uninstall_command_line() {  # /?, an unknown option, the installer's /D=: 1639, the usage box or the log line; nothing removed
    stage_installed uninstall_command_line HKCU || return 1
    local exe; exe=$(win "$top/uninstall.exe")
    printf '%s\0' run "$exe" "$(win "$d")" "/?" -- box-start Uninstall "Usage: uninstall [/S] [/LOG=FILE]" ok -- \
        exit 1639 -- run "$exe" "$(win "$d")" "/frobnicate" -- \
        box-start Uninstall "Not understood: /frobnicate"$'\n\n'"Usage: uninstall" ok -- exit 1639 -- \
        run "$exe" "$(win "$d")" "/S /LOG=$(win "$d/uninstall.txt") /D=C:\\x" -- unseen-exit 1639 | steps &&
    untouched && key_present HKCU && log_has "$d/uninstall.txt" "message 0: Not understood: /D=" &&
        log_has "$d/uninstall.txt" "end: exit code 1639"
    local status=$?
    as_user wine reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
    return $status
}

case_uninstall_leaves_what_is_not_its_own() {  # a key naming another folder stays; an added file is named in the end box
    stage_installed not_its_own HKCU || return 1
    as_user wine reg add "HKCU\\$UNINSTALL_KEY" /v InstallLocation /d 'C:\Elsewhere\Viewer' /f >/dev/null 2>&1
    printf 'mine' >"$top/docs/mine.txt" && chown "$WINE_USER" "$top/docs/mine.txt"
    local kept; kept=$(win "$top/docs/mine.txt")
    printf '%s\0' run "$(win "$top/uninstall.exe")" "$(win "$d")" "/LOG=$(win "$d/uninstall.txt")" -- \
        box "Uninstall Quill Test" "Do you want to remove Quill Test and all of its files?" none yes -- \
        box "Uninstall Quill Test" "Quill Test has been removed. These files were changed or added after the install and have been kept:"$'\n'"$kept" none ok -- \
        exit 0 -- vanishes "$(win "$top/uninstall.exe")" -- absent "$(win "$top/a.txt")" -- exists "$kept" | steps &&
    key_present HKCU && log_has "$d/uninstall.txt" "key: kept: it names another directory" &&
        log_has "$d/uninstall.txt" "kept: $kept"
    local status=$?
    as_user wine reg delete "HKCU\\$UNINSTALL_KEY" /f >/dev/null 2>&1
    return $status
}

# --- runner ----------------------------------------------------------------------------
# --- installed by the installer, removed by its uninstaller -----------------------------

reg_value() {  # KEY NAME: the value's data as reg query prints it
    as_user wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# Runs a key's QuietUninstallString (with /LOG=LOG added) and waits for its silent end.
quiet_uninstall() {  # KEY LOG CODE
    local quiet exe arguments
    quiet=$(reg_value "$1" QuietUninstallString)
    exe=${quiet#\"}; exe=${exe%%\"*}; arguments="${quiet#*\" } /LOG=$(win "$2")"
    [ -n "$exe" ] || { say "no QuietUninstallString under $1"; return 1; }
    printf '%s\0' run "$exe" 'C:\' "$arguments" -- unseen-exit "$3" | steps
}
EXAMPLE_KEY='Software\Microsoft\Windows\CurrentVersion\Uninstall\ExampleViewer'

case_uninstall_what_the_installer_made() {  # the key's values, Wine's list, the silent uninstall: only the user's files stay
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(stage_example uninstall_e2e) || return 1
    local top="$PREFIX/drive_c/QuillApps" target="$PREFIX/drive_c/QuillApps/Example Viewer" key="HKLM\\$EXAMPLE_KEY"
    rm -rf "$top"
    TEMP_NATIVE=$(temp_dir)
    local before; before=$(temp_listing)
    printf '%s\0' run "$(win "$d/example-setup.exe")" "$(win "$d")" \
        '/S /LOG=setup.log /D=C:\QuillApps\Example Viewer' -- unseen-exit 0 | steps || return 1
    as_user wineserver -k; as_user wineserver -w; as_user wineserver -p  # the group's Explorer windows
    same_tree "$ROOT/examples/product" "$target" || return 1
    local name want
    for name in 'DisplayName|Example Viewer 1.0' 'UninstallString|"C:\QuillApps\Example Viewer\uninstall.exe"' \
        'QuietUninstallString|"C:\QuillApps\Example Viewer\uninstall.exe" /S' \
        'InstallLocation|C:\QuillApps\Example Viewer' 'DisplayIcon|C:\QuillApps\Example Viewer\uninstall.exe' \
        'URLInfoAbout|https://example.com/viewer' 'NoModify|0x1' 'NoRepair|0x1' "InstallDate|$(date +%Y%m%d)"; do
        want=${name#*|}; name=${name%%|*}
        [ "$(reg_value "$key" "$name")" = "$want" ] || { say "$name: $(reg_value "$key" "$name"), not $want"; return 1; }
    done
    local kilobytes; kilobytes=$(( ($(find "$ROOT/examples/product" -type f -printf '%s+') $(stat -c %s "$target/uninstall.exe") + 1023) / 1024 ))
    [ "$(reg_value "$key" EstimatedSize)" = "$(printf '0x%x' $kilobytes)" ] ||
        { say "EstimatedSize $(reg_value "$key" EstimatedSize), not $kilobytes KB"; return 1; }
    # A client that is not ours: Wine's own list of what can be removed.
    as_user wine uninstaller --list 2>/dev/null | tr -d '\r' | grep -qx 'ExampleViewer|||Example Viewer 1.0' ||
        { say "not in wine uninstaller --list: $(as_user wine uninstaller --list 2>/dev/null | tr -d '\r')"; return 1; }
    # The user's own file and a changed one stay; everything else of the install goes.
    printf 'notes of mine' >"$target/docs/NOTES.TXT"
    printf 'changed' >>"$target/VIEWER.INI"
    chown "$WINE_USER" "$target/docs/NOTES.TXT"
    quiet_uninstall "$key" "$d/uninstall.txt" 0 || return 1
    printf '%s\0' vanishes "$(win "$target/uninstall.exe")" -- no-group "Example Viewer" | steps || return 1
    ! as_user wine reg query "$key" >/dev/null 2>&1 || { say "the key is still there"; return 1; }
    [ "$(cd "$top" && find . | sort | tr '\n' ' ')" = '. ./Example Viewer ./Example Viewer/VIEWER.INI ./Example Viewer/docs ./Example Viewer/docs/NOTES.TXT ' ] ||
        { say "left: $(cd "$top" && find . | sort | tr '\n' ' ')"; return 1; }
    log_has "$d/uninstall.txt" "kept: C:\\QuillApps\\Example Viewer\\VIEWER.INI" &&
    log_has "$d/uninstall.txt" "kept: C:\\QuillApps\\Example Viewer\\docs\\NOTES.TXT" &&
    temp_as_before "$before" && rm -rf "$top"
}

case_uninstall_per_user() {  # --privileges user: the key under HKCU, none under HKLM; an uninstaller without elevation
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d=$RUN/cases/per_user
    mkdir -p "$d"
    "$QUILL" pack "$ROOT/examples/product" "$ROOT/examples/product.ini" -o "$d/user-setup.exe" --stub "$STUB" -q \
        --privileges user --uninstall-id QuillPerUser --install-dir 'C:\QuillUser\Viewer' 2>/dev/null || return 1
    chown -R "$WINE_USER" "$d"
    rm -rf "$PREFIX/drive_c/QuillUser"
    printf '%s\0' run "$(win "$d/user-setup.exe")" "$(win "$d")" '/S /NOGROUP' -- unseen-exit 0 | steps || return 1
    local key='Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillPerUser'
    [ "$(reg_value "HKCU\\$key" InstallLocation)" = 'C:\QuillUser\Viewer' ] || { say "no HKCU entry"; return 1; }
    ! as_user wine reg query "HKLM\\$key" >/dev/null 2>&1 || { say "an HKLM entry too"; return 1; }
    i686-w64-mingw32-windres -O rc -i "$PREFIX/drive_c/QuillUser/Viewer/uninstall.exe" 2>/dev/null |
        grep requestedExecutionLevel | grep -q asInvoker || { say "the uninstaller asks for more than the user's rights"; return 1; }
    quiet_uninstall "HKCU\\$key" "$d/uninstall.txt" 0 &&
    printf '%s\0' vanishes 'C:\QuillUser' | steps && ! as_user wine reg query "HKCU\\$key" >/dev/null 2>&1
}

case_upgrade_then_uninstall() {  # version 2 into version 1's chosen directory, its read-only file replaced; nothing of either stays
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d=$RUN/cases/upgrade v
    mkdir -p "$d/v1/docs" "$d/v2/docs"
    printf 'one' >"$d/v1/locked.txt"; printf 'dropped in 2' >"$d/v1/docs/dropped.txt"; printf 'kept' >"$d/v1/docs/same.txt"
    printf 'two!' >"$d/v2/locked.txt"; printf 'added in 2' >"$d/v2/docs/added.txt"; printf 'kept' >"$d/v2/docs/same.txt"
    for v in 1 2; do
        "$QUILL" pack "$d/v$v" -o "$d/setup$v.exe" --stub "$STUB" -q --title "Quill Upgrade" --version "$v.0.0.0" \
            --install-dir 'QuillTest\Upgrade' --uninstall-id QuillUpgrade --attribute locked.txt=readonly || return 1
    done
    chown -R "$WINE_USER" "$d"
    rm -rf "$PREFIX/drive_c/QuillChosen"
    local target="$PREFIX/drive_c/QuillChosen/Upgrade" key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuillUpgrade"
    printf '%s\0' run "$(win "$d/setup1.exe")" "$(win "$d")" '/S /D=C:\QuillChosen\Upgrade' -- unseen-exit 0 | steps || return 1
    [ "$(reg_value "$key" DisplayVersion)" = 1.0.0.0 ] || { say "no version 1 entry"; return 1; }
    # No /D=: the earlier install's directory, not the default; the read-only file is the product's own.
    printf '%s\0' run "$(win "$d/setup2.exe")" "$(win "$d")" "/S /LOG=$(win "$d/upgrade.log")" -- unseen-exit 0 | steps ||
        { cat "$d/upgrade.log" 2>/dev/null; return 1; }
    log_has "$d/upgrade.log" 'directory: C:\QuillChosen\Upgrade' && [ "$(cat "$target/locked.txt")" = 'two!' ] &&
        [ -f "$target/docs/dropped.txt" ] && [ -f "$target/docs/added.txt" ] &&
        [ "$(reg_value "$key" DisplayVersion)" = 2.0.0.0 ] || return 1
    [ ! -e "$PREFIX/drive_c/Program Files/QuillTest/Upgrade" ] || { say "the default directory was used"; return 1; }
    quiet_uninstall "$key" "$d/uninstall.txt" 0 &&
    printf '%s\0' vanishes 'C:\QuillChosen' | steps && ! as_user wine reg query "$key" >/dev/null 2>&1
}

# --- every language on every Windows: names and texts in the archive's code page ---------

COMMON_PROGRAMS="$PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
# The driver's steps run in a glibc locale of Wine's choosing (C.UTF-8: code page 1252).
steps_in() {  # LOCALE
    local -a s; mapfile -d '' s
    as_user env LANG="$1" LC_ALL="$1" wine "$RUN/driver.exe" "${s[@]}"
}
# A registry value as UTF-8 (KEY's root spelled out, as regedit wants it): reg query prints
# in the console's code page, which loses every letter outside it; regedit exports in UTF-16.
reg_text() {  # KEY NAME
    local file=$RUN/export.reg
    rm -f "$file"
    as_user wine regedit /E "$(win "$file")" "$1" >/dev/null 2>&1 || return 1
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | sed -n "s/^\"$2\"=\"\\(.*\\)\"\$/\\1/p" | sed 's/\\\(.\)/\1/g'
}
# Nothing left of an earlier run: the key, the directory, the group folder.
forget_product() {  # ID DIR [GROUP]
    as_user wine reg delete "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /f >/dev/null 2>&1
    rm -rf "$2"
    [ -z "${3:-}" ] || rm -rf "${COMMON_PROGRAMS:?}/$3"
}
# CASE's source tree (made by the caller in $RUN/cases/CASE/source) packed by quill.
pack_source() {  # CASE OPTIONS...
    local d=$RUN/cases/$1
    shift
    "$QUILL" pack "$d/source" -o "$d/setup.exe" --stub "$STUB" --uninstaller "$UNINSTALLER" -q "$@" >&2 || return 1
    chown -R "$WINE_USER" "$d"
    printf '%s' "$d"
}
# A Russian product: Cyrillic folders, files, directory, title, group and item, in code page 1251.
RUSSIAN_KEY='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillRussian'
pack_russian() {  # CASE [OPTIONS...]
    local s=$RUN/cases/$1/source
    mkdir -p "$s/Документы/Черновики"
    printf 'Руководство пользователя\r\n' >"$s/Документы/Руководство.txt"
    printf 'черновик' >"$s/Документы/Черновики/Заметка номер 1.txt"
    printf 'прочти' >"$s/Прочти меня.txt"
    forget_product QuillRussian "$PREFIX/drive_c/QuillRussian" "Тест Группа"
    pack_source "$1" --language russian --title "Тест Продукт" --window-title "Установка Тест" \
        --install-dir 'C:\QuillRussian\Тест' --uninstall-id QuillRussian --group-name "Тест Группа" \
        --group-item 'Руководство|\Документы\Руководство.txt' "${@:2}"
}

case_russian_silent_install_and_uninstall() {  # code page 1251 under 1252: /D=, the tree, the group, the UTF-8 log, the key; the uninstall removes all
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local d; d=$(pack_russian russian_silent) || return 1
    local target="$PREFIX/drive_c/QuillRussian/Тихий" w='C:\QuillRussian\Тихий'
    printf '%s\0' acp 1252 -- run "$(win "$d/setup.exe")" "$(win "$d")" "/S /LOG=$(win "$d/setup.log") /D=$w" -- \
        unseen-exit 0 | steps_in C.UTF-8 || { log_lines "$d/setup.log"; return 1; }
    same_tree "$d/source" "$target" ||
        { say "made: $(cd "$PREFIX/drive_c/QuillRussian" && find . | sort | tr '\n' ' ')"; return 1; }
    [ -f "$COMMON_PROGRAMS/Тест Группа/Руководство.lnk" ] ||
        { say "no shortcut Тест Группа/Руководство.lnk; Programs: $(ls "$COMMON_PROGRAMS" | tr '\n' ' ')"; return 1; }
    [ "$(head -c 3 "$d/setup.log" | od -An -tx1 | tr -d ' ')" = efbbbf ] ||
        { say "the log does not start with the UTF-8 byte-order mark:"; head -c 48 "$d/setup.log" | od -An -c; return 1; }
    log_has "$d/setup.log" "directory: $w" &&
    log_has "$d/setup.log" "file: $w\\Документы\\Руководство.txt" &&
    log_has "$d/setup.log" "file: $w\\Документы\\Черновики\\Заметка номер 1.txt" &&
    log_has "$d/setup.log" "file: $w\\Прочти меня.txt" || return 1
    local quiet; quiet=$(reg_text "$RUSSIAN_KEY" QuietUninstallString)
    [ "$quiet" = "\"$w\\uninstall.exe\" /S" ] || { say "QuietUninstallString: $quiet"; return 1; }
    local exe=${quiet#\"}; exe=${exe%%\"*}
    printf '%s\0' run "$exe" 'C:\' "${quiet#*\" } /LOG=$(win "$d/uninstall.txt")" -- unseen-exit 0 -- \
        vanishes 'C:\QuillRussian' | steps_in C.UTF-8 || { log_lines "$d/uninstall.txt"; return 1; }
    [ ! -e "$COMMON_PROGRAMS/Тест Группа" ] || { say "the group folder stays"; return 1; }
    ! as_user wine reg query "$RUSSIAN_KEY" >/dev/null 2>&1 || { say "the key stays"; return 1; }
}

case_russian_dialog_texts() {  # code page 1251 under 1252: the dialog's and a box's Russian texts, the default directory, the tree
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    # The background's title in Cyrillic too: russian.bmp, for a person (KEEP=1).
    local d; d=$(pack_russian russian_dialog --background maximized) || return 1
    local t="Установка Тест"
    { printf '%s\0' acp 1252 -- run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$t" 1010 -- \
        screenshot "$(win "$RUN/russian.bmp")" -- \
        text 1010 'C:\QuillRussian\Тест' -- text 1000 "Каталог установки" -- text 1002 "Обзор..." -- \
        text 1003 "Создать группу программ" -- text 1 OK -- text 1007 "Выход" -- \
        click 1007 -- box "Подтверждение" "Вы действительно не хотите устанавливать?" dialog no -- sync 1002 -- \
        alive -- click 1003 -- sync 1002 -- check-state 1003 0 1 -- click 1 -- dialog "$t" 1068 -- \
        text 1012 "Установка успешно завершена" -- text 1011 OK -- click 1011 -- exit 0
    } | steps_in C.UTF-8 || return 1
    same_tree "$d/source" "$PREFIX/drive_c/QuillRussian/Тест" || return 1
    forget_product QuillRussian "$PREFIX/drive_c/QuillRussian"
}

case_german_under_code_page_1251() {  # umlauts and ß in code page 1252 under a Russian Wine: the dialog's texts, the tree, the group
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    locale -a | grep -qix 'ru_RU.utf8' ||
        { say "glibc has no ru_RU.UTF-8 locale for Wine (tools/install-deps.sh wine generates it)"; return 1; }
    local s=$RUN/cases/german/source
    mkdir -p "$s/Übersicht/Maße"
    printf 'Größe\r\n' >"$s/Übersicht/Größe.txt"
    printf 'Straße' >"$s/Übersicht/Maße/Fuß.txt"
    printf 'grün' >"$s/Schlüssel.txt"
    forget_product QuillGerman "$PREFIX/drive_c/QuillGerman" "Prüfgruppe"
    local d; d=$(pack_source german --language german --title "Prüfprogramm" --window-title "Prüfprogramm Einrichtung" \
        --install-dir 'C:\QuillGerman\Übersicht' --uninstall-id QuillGerman --group-name "Prüfgruppe" \
        --group-item 'Größe|\Übersicht\Größe.txt') || return 1
    local t="Prüfprogramm Einrichtung"
    { printf '%s\0' acp 1251 -- run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$t" 1010 -- \
        text 1010 'C:\QuillGerman\Übersicht' -- text 1000 Installationsverzeichnis -- text 1002 Durchsuchen... -- \
        text 1003 "Programmgruppe anlegen" -- text 1007 Beenden -- click 1 -- dialog "$t" 1068 -- \
        text 1012 "Installation erfolgreich abgeschlossen" -- text 1011 OK -- click 1011 -- exit 0
    } | steps_in ru_RU.UTF-8 || return 1
    same_tree "$s" "$PREFIX/drive_c/QuillGerman/Übersicht" || return 1
    [ -f "$COMMON_PROGRAMS/Prüfgruppe/Größe.lnk" ] ||
        { say "no shortcut Prüfgruppe/Größe.lnk; Programs: $(ls "$COMMON_PROGRAMS" | tr '\n' ' ')"; return 1; }
    forget_product QuillGerman "$PREFIX/drive_c/QuillGerman" "Prüfgruppe"
}

case_directory_outside_both_code_pages() {  # Greek and CJK: given with /D= silently, typed into the dialog; the files land there
    [ -n "$QUILL" ] || { say "the packer did not build"; return 77; }
    local s=$RUN/cases/foreign_directory/source base='C:\Προϊόν 製品'
    mkdir -p "$s/docs"
    printf 'read me\r\n' >"$s/readme.txt"
    printf 'guide' >"$s/docs/guide.txt"
    forget_product QuillForeign "$PREFIX/drive_c/Προϊόν 製品"
    local d; d=$(pack_source foreign_directory --title "Quill Foreign" --window-title "$TITLE" \
        --install-dir 'QuillTest\Foreign' --uninstall-id QuillForeign) || return 1
    printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" "/S /LOG=$(win "$d/setup.log") /D=$base\\σιωπηλά" -- \
        unseen-exit 0 | steps_in C.UTF-8 || { log_lines "$d/setup.log"; return 1; }
    same_tree "$s" "$PREFIX/drive_c/Προϊόν 製品/σιωπηλά" || return 1
    as_user wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillForeign' /f >/dev/null 2>&1
    { printf '%s\0' run "$(win "$d/setup.exe")" "$(win "$d")" -- dialog "$TITLE" 1010 -- \
        set 1010 "$base\\對話" -- text 1010 "$base\\對話" -- click 1 -- dialog "$TITLE" 1068 --; finish_install
    } | steps_in C.UTF-8 || return 1
    same_tree "$s" "$PREFIX/drive_c/Προϊόν 製品/對話" || return 1
    forget_product QuillForeign "$PREFIX/drive_c/Προϊόν 製品"
}

ALL=$(declare -F | awk '{print $3}' | grep '^case_' | sed 's/^case_//')
SELECTED=${*:-$ALL}
passed=0 failed=0 skipped=0
failures=()
mkdir -p "$RUN/logs"
for name in $SELECTED; do
    declare -F "case_$name" >/dev/null || die "no case $name"
    t0=$(date +%s%N)
    "case_$name" >"$RUN/logs/$name.log" 2>&1
    status=$?
    ms=$(( ($(date +%s%N) - t0) / 1000000 ))
    t=$((ms / 1000)).$(( (ms % 1000) / 100 ))
    if [ $status = 0 ]; then
        passed=$((passed + 1)); say "PASS $name (${t}s)"
    elif [ $status = 77 ]; then
        skipped=$((skipped + 1)); say "SKIP $name ($(tail -1 "$RUN/logs/$name.log"))"
    else
        failed=$((failed + 1)); failures+=("$name"); say "FAIL $name (${t}s)"
        sed 's/^/    /' "$RUN/logs/$name.log"
    fi
done
# The Apps & features entries of the products the cases installed without removing them:
# the prefix is shared with tests/wine/install.sh, whose list should show only its own.
for id in "Quill Test Product" "Quill Shortcut Product" ExampleViewer; do
    for root in HKLM HKCU; do
        as_user wine reg delete "$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$id" /f >/dev/null 2>&1
    done
done
say "Wine suite: $(( $(date +%s) - STARTED ))s in all"
if [ $skipped -gt 0 ]; then
    say "$passed passed, $failed failed, $skipped skipped"
else
    say "$passed passed, $failed failed"
fi
[ $failed = 0 ]
