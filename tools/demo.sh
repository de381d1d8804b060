#!/usr/bin/env bash
# The main job: builds everything, packs examples/ into an installer with quill and
# installs it, then prints the installed tree. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/install-deps.sh wine

echo "== building (native tools, and the installer with mingw-w64) =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 >/dev/null
cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build-i686 -j2 | grep -E 'bytes|core object' || true
stub=build-i686/ui/quillstead.exe

out=build/demo
rm -rf "$out"
mkdir -p "$out"
echo "== packing examples/product =="
build/tools/quill/quill pack examples/product examples/product.ini --stub "$stub" -o "$out/ExampleViewer.exe"
build/tools/quill/quill list "$out/ExampleViewer.exe" | head -n 20

echo "== installing =="
if [ -x tests/wine/install.sh ]; then
    # The real installer under Wine: in a window when there is a display, else on Xvfb
    # with the test driver pressing OK.
    tests/wine/install.sh "$out/ExampleViewer.exe" "$out/installed"
else
    build/tools/quill/quill extract "$out/ExampleViewer.exe" -d "$out/installed"
fi

echo "== installed tree (as the installer left it, before the uninstall above) =="
if diff -r -x uninstall.exe -x uninstall.log examples/product "$out/installed" >/dev/null; then
    echo "(every file identical to examples/product; beside them the uninstaller and its install log)"
else
    echo "(differs from examples/product:)"; diff -rq examples/product "$out/installed" || true
fi
(cd "$out/installed" && find . | sort | while read -r f; do
    if [ -f "$f" ]; then printf '%10s  %s\n' "$(stat -c %s "$f")" "$f"; else printf '%10s  %s\n' dir "$f"; fi
done)
