#!/usr/bin/env bash
# quill as people install it: the Debian package that CPack makes from BUILD, unpacked into
# a scratch root; its quill packs the example product with no --stub, and the example
# project builds its installer through find_package(quill) and quill_add_installer().
# Ends with "N passed, M failed".
#
#   tests/package/check.sh BUILD      (a native build configured with the installer program)
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?usage: check.sh BUILD}" && pwd)
WORK=$(mktemp -d /tmp/quill-package.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
passed=0 failed=0
check() {  # NAME COMMAND...: one check, its output shown when it fails
    local name=$1; shift
    if "$@" >"$WORK/log" 2>&1; then
        passed=$((passed + 1)); echo "PASS $name"
    else
        failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/    /' "$WORK/log" | tail -n 30
    fi
}

make_package() {
    (cd "$BUILD" && cpack -G DEB -B "$WORK/deb") && ls "$WORK"/deb/quill_*.deb &&
        dpkg-deb -x "$WORK"/deb/quill_*.deb "$WORK/root"
}
package_contents() {
    local deb; deb=$(ls "$WORK"/deb/quill_*.deb)
    dpkg-deb -I "$deb" | grep -E '^ (Package: quill|Depends: .*libc6|Suggests: osslsigncode)' | wc -l | grep -qx 3 &&
        for f in usr/bin/quill usr/share/quill/quillstead.exe usr/share/quill/quillstead-uninstall.exe \
            usr/share/man/man1/quill.1 \
            usr/lib/cmake/quill/quillConfig.cmake usr/lib/cmake/quill/quillConfigVersion.cmake; do
            dpkg-deb -c "$deb" | grep -q " \./$f\$" || { echo "missing $f"; return 1; }
        done
}
man_page() {
    MANWIDTH=80 man -l "$WORK/root/usr/share/man/man1/quill.1" | grep -q 'quill pack' ||
        grep -q '^\.TH QUILL 1' "$WORK/root/usr/share/man/man1/quill.1"
}
installed_quill_packs() {
    # From another folder, with no program named and none in the environment: the
    # installer and the uninstaller both come from beside the installed quill.
    (cd "$WORK" && env -u QUILL_STUB -u QUILL_UNINSTALLER "$WORK/root/usr/bin/quill" pack "$ROOT/examples/product" \
        "$ROOT/examples/product.ini" -o "$WORK/example-setup.exe" -q) &&
        "$WORK/root/usr/bin/quill" test -q "$WORK/example-setup.exe" &&
        cmp -n 24 "$WORK/example-setup.exe" "$WORK/root/usr/share/quill/quillstead.exe" &&
        "$WORK/root/usr/bin/quill" list "$WORK/example-setup.exe" | grep -q '^uninstaller   uninstall.exe, the first file record' &&
        "$WORK/root/usr/bin/quill" extract -q "$WORK/example-setup.exe" -d "$WORK/example" &&
        cmp -n 2 "$WORK/example/uninstall.exe" "$WORK/root/usr/share/quill/quillstead-uninstall.exe"
}
example_project() {
    cmake -S "$ROOT/examples/hello" -B "$WORK/hello" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -Dquill_DIR="$WORK/root/usr/lib/cmake/quill" &&
        cmake --build "$WORK/hello" &&
        "$WORK/root/usr/bin/quill" test "$WORK/hello/hello-setup.exe" &&
        "$WORK/root/usr/bin/quill" list "$WORK/hello/hello-setup.exe" | grep -q 'hello.exe' &&
        i686-w64-mingw32-windres -O rc -i "$WORK/hello/hello-setup.exe" >"$WORK/hello.rc" &&
        grep -q 'FILEVERSION 1, 2, 3, 4' "$WORK/hello.rc" &&
        grep -q 'VALUE "ProductName", "Hello 1.2"' "$WORK/hello.rc" &&
        grep -q 'VALUE "CompanyName", "Quillstead Examples"' "$WORK/hello.rc" &&
        # Nothing changed: nothing is packed again; the program changed: the installer follows.
        cp -p "$WORK/hello/hello-setup.exe" "$WORK/before.exe" &&
        cmake --build "$WORK/hello" | { ! grep -q 'quill: packing'; } &&
        touch "$ROOT/examples/hello/hello.c" && cmake --build "$WORK/hello" | grep -q 'quill: packing'
}

check "CPack makes a Debian package; unpacked into a scratch root" make_package
check "the package holds quill, the installer and uninstaller programs, the man page, the package config" package_contents
check "the man page reads" man_page
check "the installed quill packs the example with its own installer program" installed_quill_packs
check "find_package(quill) and quill_add_installer() build the example's installer" example_project
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
