# Sourced by run.sh, install.sh and bench.sh: the test driver, a private X server and a Wine
# prefix made once.
# start_xvfb FIRST LAST: the first free display number from FIRST to LAST in $number, the
# server's pid in $xvfb (log in $work/xvfb.log); returns once its socket is there.
start_xvfb() {
    number=
    for n in $(seq "$1" "$2"); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then number=$n; break; fi
    done
    [ -n "$number" ] || { echo "no free X display" >&2; exit 2; }
    Xvfb ":$number" -screen 0 1024x768x24 -ac -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 1 200); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.05; done
}

# make_prefix: the Wine prefix of as_user, created when missing; unmanaged windows close at
# once and a crash ends the process instead of opening the debugger's dialog.
make_prefix() {
    [ -f "$PREFIX/system.reg" ] && return
    echo "creating the Wine prefix $PREFIX (once)"
    as_user env WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    as_user wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    as_user wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}

# build_driver OUT: the Win32 test driver that answers the installer's dialogs.
build_driver() {
    i686-w64-mingw32-g++ -O2 -Wall -static -o "$1" "$ROOT/tests/wine/driver.cpp" \
        -lgdi32 -luser32 -lshell32 -lole32 -luuid -lversion
}
