#!/usr/bin/env bash
# Runs an installer under Wine, as the README's main command does:
#   tests/wine/install.sh SETUP.EXE TARGET-DIR
# With a display ($DISPLAY) the installer opens in a window and the user answers it (the
# install directory it suggests is kept unless changed; afterwards TARGET-DIR links to it).
# Without one it runs on a private Xvfb as an unprivileged user, and the test driver takes
# the suggested dialog through: the install directory set to TARGET-DIR, OK, then OK at the
# end; then it lists the program group that the installer made in Wine's Start Menu.
# QUILL_WINE_PREFIX names the Wine prefix (default /home/quilltest/.wine-quill).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
setup=$(realpath "$1")
target=$(realpath -m "$2")
win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "the installer opens in a window: choose the directory, press OK, then OK at the end"
    WINEDEBUG=-all wine "$setup"
    echo "(installed where you chose; the tree below is from quill's own extraction)"
    exec "$ROOT/build/tools/quill/quill" extract "$setup" -d "$target" -q
fi

# Root runs Wine as the user quilltest (as root Wine ignores read-only files); anyone else
# runs it as themselves.
WINE_USER=$(id -un)
if [ "$(id -u)" = 0 ]; then
    WINE_USER=quilltest
    id "$WINE_USER" >/dev/null 2>&1 || useradd -m "$WINE_USER"
fi
WINE_HOME=$(getent passwd "$WINE_USER" | cut -d: -f6)
PREFIX=${QUILL_WINE_PREFIX:-$WINE_HOME/.wine-quill}
work=$(mktemp -d /tmp/quill-install.XXXXXX)
chmod 755 "$work"
. "$ROOT/tests/wine/stage.sh"
start_xvfb 90 140
# No host menu entries for the program group's shortcuts.
as_user() {
    local run=()
    [ "$(id -u)" = 0 ] && run=(runuser -u "$WINE_USER" --)
    "${run[@]}" env WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all \
        WINEDLLOVERRIDES=winemenubuilder.exe=d DISPLAY=":$number" HOME="$WINE_HOME" "$@"
}
cleanup() { as_user wineserver -k >/dev/null 2>&1 || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

make_prefix

build_driver "$work/driver.exe"
cp "$setup" "$work/setup.exe"
mkdir -p "$(dirname "$target")"
rm -rf "$target"
mkdir -p "$work/out"
chown -R "$WINE_USER" "$work"
listing=$("$ROOT/build/tools/quill/quill" list "$setup" --json)
field() { python3 -c "import json,sys; j = json.load(sys.stdin); print($1)" <<<"$listing"; }
title=$(field 'j["windowTitle"]')
complete=$(field 'j["messages"]["117"]')
# The group's shortcuts appear once the shell has carried out the installer's commands.
group=()
[ "$(field 'j["group"] is not None')" = True ] &&
    group=(-- group-list "$(field 'j["group"]["name"]')" "$(field 'len(j["group"]["items"])')")
as_user wine "$work/driver.exe" run "$(win "$work/setup.exe")" "$(win "$work")" -- \
    dialog "$title" 1010 -- set 1010 "$(win "$work/out/installed")" -- click 1 -- \
    dialog "$title" 1068 -- text 1012 "$complete" -- click 1011 -- exit 0 "${group[@]}"
cp -a "$work/out/installed" "$target"
echo "installed by the installer under Wine into $target"

# An archive that asks for the uninstall: its Apps & features entry, then the uninstall
# through the entry's own QuietUninstallString, which leaves the install directory gone.
value() { field "next((e['value'] for e in (j['extension'] or []) if e['key'] == '$1'), '')"; }
id=$(value uninstall.id)
[ -n "$id" ] || exit 0
root=HKLM
[ "$(value uninstall.scope)" = user ] && root=HKCU
key="$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$id"
echo "== the Apps & features entry (wine reg query, wine uninstaller --list) =="
as_user wine reg query "$key" | tr -d '\r' | grep -v '^$'
as_user wine uninstaller --list | tr -d '\r'
# The post-install command (notepad) and the group's Explorer windows are closed first, as a
# user would: a program still running in the install directory keeps it in use.
as_user wineserver -k; as_user wineserver -w
quiet=$(as_user wine reg query "$key" /v QuietUninstallString | tr -d '\r' | sed -n 's/^ *QuietUninstallString *REG_SZ *//p')
exe=${quiet#\"}; exe=${exe%%\"*}
echo "== uninstalling: $quiet =="
as_user wine "$work/driver.exe" run "$exe" 'C:\' "${quiet#*\" }" -- unseen-exit 0 -- vanishes "$(win "$work/out/installed")"
if as_user wine reg query "$key" >/dev/null 2>&1; then
    echo "the entry is still there" >&2; exit 1
fi
echo "removed: the install directory and the entry are gone"
